// The number the hardware gives a thread: its local APIC ID, built from the thread's socket,
// complex die, complex, core and thread indices in fields whose widths the processor's own core
// topology register fixes. The register is read from the first enabled core, since every copy of
// it holds the same maxima.
#include "services/CoreRegisters.h"

#include "arch/CoreComplexRegisters.h"
#include "arch/CoreTopologyRegister.h"
#include "arch/Cpuid.h"
#include "arch/Processor.h"
#include "debug/FatalStop.h"
#include "driver/ProcessorFamily.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalSocketLimit = 0x308A0106;
constexpr UINT32 kFatalDieLimit = 0x308A0107;
constexpr UINT32 kFatalComplexDieLimit = 0x308A0108;
constexpr UINT32 kFatalComplexLimit = 0x308A0109;
constexpr UINT32 kFatalCoreLimit = 0x308A0110;
constexpr UINT32 kFatalThreadLimit = 0x308A0111;
constexpr UINT32 kFatalNoEnabledCore = 0x308A0118;
constexpr UINT32 kFatalSocketMax = 0x308A0146;
constexpr UINT32 kFatalComplexMax = 0x308A0147;
constexpr UINT32 kFatalCoreMax = 0x308A0148;
constexpr UINT32 kFatalThreadMax = 0x308A0149;

// The most sockets, dies, complex dies, complexes, cores and threads a system of this generation
// has; the APIC ID has room for no more.
constexpr UINTN kSocketLimit = 4;
constexpr UINTN kDieLimit = 4;
constexpr UINTN kComplexDieLimit = 12;
constexpr UINTN kComplexLimit = 2;
constexpr UINTN kCoreLimit = 8;
constexpr UINTN kThreadLimit = 2;

// With the padding flag set, the complex field starts at this bit at the lowest.
constexpr UINT32 kPaddedComplexShift = 4;

constexpr UINT32 kApicIdBits = 32;

using Topology = Sideband::CoreTopology;

VOID CheckBelow(UINTN Value, UINTN Limit, UINT32 Code) {
  if (Value >= Limit) {
    FatalStop(Code);
  }
}

VOID CheckAtMost(UINTN Value, UINTN Max, UINT32 Code) {
  if (Value > Max) {
    FatalStop(Code);
  }
}

UINT32 SignificantBits(UINT64 Value) {
  UINT32 Bits = 0;
  while (Value != 0) {
    Bits++;
    Value >>= 1;
  }
  return Bits;
}

// A field that would start beyond the APIC ID's 32 bits contributes nothing, instead of shifting
// by more than the width of the value.
UINT32 PlaceField(UINTN Value, UINT32 Shift) {
  return Shift < kApicIdBits ? static_cast<UINT32>(Value << Shift) : 0;
}

// The lowest enabled core in the 128-bit enabled-core map, as a bit number; FALSE when the map
// has no bit set. The whole map is read, all four registers in order, whichever holds the first
// enabled core, so the bridge's index is always left on the last of them.
BOOLEAN FindFirstEnabledCore(UINT32 *Bit) {
  using Map = Sideband::EnabledCoreMap;
  UINT32 Words[Map::RegisterCount];
  for (UINT32 Index = 0; Index < Map::RegisterCount; Index++) {
    Words[Index] = ReadCoreComplexRegister32(Map::Offset(Index));
  }
  for (UINT32 Index = 0; Index < Map::RegisterCount; Index++) {
    for (UINT32 Position = 0; Position < Map::BitsPerRegister; Position++) {
      if ((Words[Index] >> Position & 1) != 0) {
        *Bit = Index * Map::BitsPerRegister + Position;
        return TRUE;
      }
    }
  }
  return FALSE;
}

BOOLEAN IsPairedComplexDiePart() { return MatchProcessorSignature(Sideband::PairedComplexDieSignature); }

BOOLEAN IsFoldingPackage() {
  UINT32 Ebx = 0;
  Cpuid(CpuidLeaf::ExtendedSignature, nullptr, &Ebx, nullptr, nullptr);
  return CpuidLeaf::ExtendedSignatureFields::EbxPkgType::Get(Ebx) == Sideband::FoldingPackageType ? TRUE : FALSE;
}

}  // namespace

UINT8 GetThreadsPerCore() {
  UINT32 Ebx = 0;
  Cpuid(CpuidLeaf::ProcessorTopology::Leaf, nullptr, &Ebx, nullptr, nullptr);
  return static_cast<UINT8>(CpuidLeaf::ProcessorTopology::EbxThreadsPerCoreMinusOne::Get(Ebx) + 1);
}

UINT32 CcxGetApicId(UINTN Socket, UINTN Die, UINTN ComplexDie, UINTN Complex, UINTN Core, UINTN Thread) {
  CheckBelow(Socket, kSocketLimit, kFatalSocketLimit);
  CheckBelow(Die, kDieLimit, kFatalDieLimit);
  CheckBelow(ComplexDie, kComplexDieLimit, kFatalComplexDieLimit);
  CheckBelow(Complex, kComplexLimit, kFatalComplexLimit);
  CheckBelow(Core, kCoreLimit, kFatalCoreLimit);
  CheckBelow(Thread, kThreadLimit, kFatalThreadLimit);

  // With no enabled core reported, the first core of the first group stands in for it.
  UINT32 FirstCore = 0;
  if (!FindFirstEnabledCore(&FirstCore)) {
    FatalStop(kFatalNoEnabledCore);
  }
  const UINT32 Group = FirstCore / Sideband::EnabledCoreMap::CoresPerGroup;
  const UINT32 GroupCore = FirstCore % Sideband::EnabledCoreMap::CoresPerGroup;

  // Slots of the topology registers go two to a complex die. A part that builds its complex dies
  // in pairs counts its map groups per complex, so a group is a slot; on other parts a group is a
  // complex die and its first complex's slot is the one to read.
  const BOOLEAN Paired = IsPairedComplexDiePart();
  const UINT32 GroupsPerPair = Paired ? Sideband::PairedComplexDieGroups : 1;
  const UINT32 Slot = Group % GroupsPerPair + Sideband::PairedComplexDieGroups * (Group / GroupsPerPair);
  UINT32 Register = 0;
  SidebandRead32(Topology::Address(Slot, GroupCore), &Register);

  const UINT32 SocketMax = static_cast<UINT32>(Topology::SocketMax::Get(Register));
  const UINT32 ComplexDieMax = static_cast<UINT32>(Topology::ComplexDieMax::Get(Register));
  const UINT32 ComplexMax = static_cast<UINT32>(Topology::ComplexMax::Get(Register));
  const UINT32 CoreMax = static_cast<UINT32>(Topology::CoreMax::Get(Register));
  const BOOLEAN Padded = Topology::CoreFieldPadding::IsSet(Register) ? TRUE : FALSE;
  const UINT32 ThreadBits = static_cast<UINT32>(GetThreadsPerCore()) - 1;

  // A folded part numbers the second complex of a complex die as the only complex of a complex
  // die in the upper half of the range its topology register reports.
  if (Paired && IsFoldingPackage()) {
    UINT32 Fold = 0;
    SidebandRead32(Sideband::ComplexFold::Address(Group / GroupsPerPair), &Fold);
    if (Sideband::ComplexFold::Folded::IsSet(Fold) && Complex == 1) {
      Complex = 0;
      ComplexDie += (ComplexDieMax + 1) / 2;
    }
  }

  CheckAtMost(Socket, SocketMax, kFatalSocketMax);
  CheckAtMost(Complex, ComplexMax, kFatalComplexMax);
  CheckAtMost(Core, CoreMax, kFatalCoreMax);
  CheckAtMost(Thread, ThreadBits, kFatalThreadMax);

  UINT32 ComplexShift = SignificantBits(CoreMax) + ThreadBits;
  if (Padded && ComplexShift < kPaddedComplexShift) {
    ComplexShift = kPaddedComplexShift;
  }
  const UINT32 ComplexDieShift = ComplexShift + SignificantBits(ComplexMax);
  const UINT32 SocketShift = ComplexDieShift + SignificantBits(ComplexDieMax);

  return PlaceField(Socket, SocketShift) | PlaceField(ComplexDie, ComplexDieShift) |
         PlaceField(Complex, ComplexShift) | PlaceField(Core, ThreadBits) | static_cast<UINT32>(Thread);
}

}  // namespace CCX_IMAGE_NAMESPACE
