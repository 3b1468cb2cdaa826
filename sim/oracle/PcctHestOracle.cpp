#include "sim/oracle/PcctHestOracle.h"

#include <algorithm>

#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "sim/HexText.h"
#include "sim/oracle/AnswerCheck.h"

namespace sim {
namespace {

constexpr uint8_t kSubspaceLength = sizeof(CCX_PCCT_GENERIC_SUBSPACE);
constexpr uint64_t kRegionLength = kPccRegionLength;
// The region is carved out of its pages at the first multiple of 0x8000 the mask leaves.
constexpr uint64_t kRegionPages = kPccRegionPages;
constexpr uint64_t kPageSize = 0x1000;
constexpr uint64_t kRegionAlignMask = 0x17FFF;
constexpr uint32_t kPccSignature = 0x50434300;
constexpr uint8_t kSystemMemory = 0;
constexpr uint8_t kDoorbellBits = 64;
constexpr uint8_t kQwordAccess = 4;
constexpr uint64_t kDoorbellPreserve = 0xFFFFFFFF00000000ULL;
constexpr uint64_t kDoorbellWrite = 1;
// The MTRR covers 64 KiB from the region's base, uncacheable.
constexpr uint64_t kMtrrMaskBits = 0xFFFFFFFFFFFF0800ULL;
// The MMIO window the service reserves: 1 MiB, aligned to 1 MiB, for target bit 15, attribute
// bits 0, 1 and 7.
constexpr uint64_t kMmioLength = 0x100000;
constexpr uint64_t kMmioAlignmentMask = 0xFFFFF;
constexpr uint32_t kMmioTarget = 0x8000;
constexpr uint8_t kMmioAttributes = 0x83;

constexpr uint64_t kGlobalControl = 0x0FFFFFEF;
constexpr uint8_t kStatusDataFormat = 2;
constexpr uint8_t kBankTurnedOff = 4;
constexpr uint32_t kFirstBankMsr = 0xC0002000;
constexpr uint32_t kBankMsrStride = 0x10;

struct Interval {
  uint64_t Base;
  uint64_t End;
};

std::vector<Interval> NvsIntervals(const std::vector<MemoryRange> &Map) {
  std::vector<Interval> Nvs;
  for (const MemoryRange &Range : Map) {
    if (Range.type == EfiACPIMemoryNVS) Nvs.push_back({Range.base, Range.base + Range.pages * kPageSize});
  }
  return Nvs;
}

// The ACPI NVS stretches of After that were something else in Before.
std::vector<Interval> NewNvs(const std::vector<MemoryRange> &Before, const std::vector<MemoryRange> &After) {
  const std::vector<Interval> Old = NvsIntervals(Before);
  std::vector<Interval> Fresh;
  for (Interval Piece : NvsIntervals(After)) {
    for (const Interval &Taken : Old) {
      if (Taken.End <= Piece.Base || Taken.Base >= Piece.End) continue;
      if (Taken.Base > Piece.Base) Fresh.push_back({Piece.Base, Taken.Base});
      Piece.Base = std::min(Piece.End, Taken.End);
    }
    if (Piece.Base < Piece.End) Fresh.push_back(Piece);
  }
  return Fresh;
}

// Where the first free variable MTRR was; VariableMtrrCount when every one was in use.
uint32_t FirstFreeMtrr(const PcctMachineState &Before) {
  for (uint32_t Pair = 0; Pair < Before.MtrrMasks.size(); Pair++) {
    if (!Msr::MtrrPhysMask::Valid::IsSet(Before.MtrrMasks[Pair])) return Pair;
  }
  return Msr::VariableMtrrCount;
}

void CheckRegion(Platform &Machine, uint64_t Base, AnswerCheck &Check) {
  if (!Machine.MemoryReadable(Base, kRegionLength)) {
    Check.Problem("shared region", "the region at " + Hex(Base) + " is not mapped memory");
    return;
  }
  const auto *Bytes = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(Base));
  uint32_t Signature = 0;
  std::copy(Bytes, Bytes + sizeof(Signature), reinterpret_cast<uint8_t *>(&Signature));
  Check.Field("shared region", "signature", kPccSignature, Signature);
  const uint64_t NotZero = uint64_t(std::count_if(Bytes + sizeof(Signature), Bytes + kRegionLength,
                                                  [](uint8_t Byte) { return Byte != 0; }));
  Check.Field("shared region", "bytes after the signature that are not zero", 0, NotZero);
}

void CheckMtrrs(Platform &Machine, uint32_t Pair, uint64_t Base, AnswerCheck &Check) {
  const PccMtrrPair Want = ExpectedPccMtrrPair(Machine, Base);
  const uint64_t WantBase = Want.Base;
  const uint64_t WantMask = Want.Mask;
  ProcessorSet &Processors = Machine.Processors();
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    const Processor &Core = Processors.At(Index);
    const std::string Record = "processor " + std::to_string(Index) + " MTRR " + std::to_string(Pair);
    Check.Field(Record, "PhysBase", WantBase, Core.PeekMsr(Msr::VariableMtrrBase(Pair)).value_or(0));
    Check.Field(Record, "PhysMask", WantMask, Core.PeekMsr(Msr::VariableMtrrMask(Pair)).value_or(0));
  }
}

}  // namespace

PccMtrrPair ExpectedPccMtrrPair(Platform &Machine, uint64_t Base) {
  const uint64_t Bits = CpuidLeaf::AddressSizeFields::EaxPhysicalAddressBits::Get(
      Machine.Processors().At(0).Cpuid(CpuidLeaf::AddressSizes, 0).Eax);
  const uint64_t AddressMask = Bits >= 64 ? ~0ULL : (1ULL << Bits) - 1;
  return {(Base & AddressMask) | Msr::MtrrPhysBase::TypeUncacheable,
          (AddressMask & kMtrrMaskBits) | Msr::MtrrPhysMask::Valid::Mask};
}

std::vector<uint64_t> RegisteredPccRegions(Platform &Machine) {
  std::vector<uint64_t> Bases;
  for (const RegisteredRegion &Region : Machine.Regions().Regions()) {
    if (Region.Length == kRegionLength) Bases.push_back(Region.Base);
  }
  return Bases;
}

PcctMachineState CapturePcctState(Platform &Machine) {
  PcctMachineState State;
  State.MemoryMap = Machine.MemoryMapNow();
  const Processor &Bsp = Machine.Processors().At(0);
  for (uint32_t Pair = 0; Pair < Msr::VariableMtrrCount; Pair++) {
    State.MtrrMasks.push_back(Bsp.PeekMsr(Msr::VariableMtrrMask(Pair)).value_or(0));
  }
  State.MmioAllocations = Machine.MmioAllocator().Allocations().size();
  State.Regions = Machine.Regions().Regions().size();
  if (const auto Pages = Machine.ImagePagesNow()) State.ImagePages = Pages->size();
  return State;
}

void CheckPcctSubspace(Platform &Machine, const PcctMachineState &Before, const CCX_PCC_SUBSPACE_INPUT &Input,
                       uint64_t Status, const CCX_PCCT_GENERIC_SUBSPACE *Received, std::vector<std::string> &Errors) {
  AnswerCheck Check("AddGenCommSubspaceStruct", Errors);
  const sim::Machine &Description = Machine.Description();
  // The ACPI NVS pages the call took: what the map shows newly, or, inside real firmware (whose map
  // may show a stretch of that type before anything is allocated in it), what the image took.
  std::vector<Interval> Fresh;
  if (const auto Pages = Machine.ImagePagesNow()) {
    for (size_t Index = std::min(Before.ImagePages, Pages->size()); Index < Pages->size(); Index++) {
      const MemoryRange &Taken = (*Pages)[Index];
      if (Taken.type == EfiACPIMemoryNVS) Fresh.push_back({Taken.base, Taken.base + Taken.pages * kPageSize});
    }
  } else {
    Fresh = NewNvs(Before.MemoryMap, Machine.MemoryMapNow());
  }
  const uint32_t Pair = FirstFreeMtrr(Before);
  const std::vector<MmioAllocation> Allocations = Machine.MmioAllocator().Allocations();
  const std::vector<MmioAllocation> NewWindows(Allocations.begin() + std::min(Before.MmioAllocations, Allocations.size()),
                                               Allocations.end());
  const std::vector<RegisteredRegion> Regions = Machine.Regions().Regions();
  const std::vector<RegisteredRegion> NewRegions(Regions.begin() + std::min(Before.Regions, Regions.size()),
                                                 Regions.end());

  // The status follows from what the machine offered: the three services, the pages, a free
  // MTRR and the MMIO window, in the order the service needs them.
  uint64_t Expected = EFI_SUCCESS;
  if (!Description.SiblingExists("mp_services") || !Description.SiblingExists("fabric_mmio") ||
      !Description.SiblingExists("region")) {
    Expected = EFI_NOT_FOUND;
  } else if (Fresh.empty() || Pair == Msr::VariableMtrrCount) {
    Expected = EFI_UNSUPPORTED;
  } else if (NewWindows.empty() || EFI_ERROR(NewWindows.back().Status)) {
    Expected = EFI_UNSUPPORTED;
  }
  // A missing service answers the largest of the lookups' statuses; any error will do there.
  if (Expected == EFI_NOT_FOUND) {
    if (!EFI_ERROR(Status)) Check.Field("call", "status", Expected, Status);
  } else {
    Check.Field("call", "status", Expected, Status);
  }
  if (EFI_ERROR(Expected) || EFI_ERROR(Status)) {
    if (Received != nullptr) Check.Problem("call", "the write pointer moved past a subspace although the call failed");
    return;
  }
  if (Received == nullptr) {
    Check.Problem("call", "the write pointer was not moved past one subspace of " + std::to_string(kSubspaceLength) +
                              " bytes");
    return;
  }

  if (Fresh.size() != 1 || Fresh.front().End - Fresh.front().Base != kRegionPages * kPageSize) {
    Check.Problem("shared region", "the call did not take exactly one stretch of " + std::to_string(kRegionPages) +
                                       " pages of ACPI NVS memory (" + std::to_string(Fresh.size()) + " new stretches)");
  }
  const uint64_t Base = (Fresh.front().Base + kRegionAlignMask) & ~kRegionAlignMask;

  Check.Field("subspace", "Type", CCX_PCCT_GENERIC_SUBSPACE_TYPE, Received->Type);
  Check.Field("subspace", "Length", kSubspaceLength, Received->Length);
  for (unsigned Index = 0; Index < sizeof(Received->Reserved); Index++) {
    Check.Field("subspace", "Reserved[" + std::to_string(Index) + "]", 0, Received->Reserved[Index]);
  }
  Check.Field("subspace", "BaseAddress", Base, Received->BaseAddress);
  Check.Field("subspace", "MemoryRangeLength", kRegionLength, Received->MemoryRangeLength);
  const EFI_ACPI_GENERIC_ADDRESS_STRUCTURE &Doorbell = Received->DoorbellRegister;
  Check.Field("subspace", "DoorbellRegister.AddressSpaceId", kSystemMemory, Doorbell.AddressSpaceId);
  Check.Field("subspace", "DoorbellRegister.RegisterBitWidth", kDoorbellBits, Doorbell.RegisterBitWidth);
  Check.Field("subspace", "DoorbellRegister.RegisterBitOffset", 0, Doorbell.RegisterBitOffset);
  Check.Field("subspace", "DoorbellRegister.AccessSize", kQwordAccess, Doorbell.AccessSize);
  Check.Field("subspace", "DoorbellRegister.Address", Input.DoorbellAddress, Doorbell.Address);
  Check.Field("subspace", "DoorbellPreserve", kDoorbellPreserve, Received->DoorbellPreserve);
  Check.Field("subspace", "DoorbellWrite", kDoorbellWrite, Received->DoorbellWrite);
  Check.Field("subspace", "NominalLatency", Input.NominalLatency, Received->NominalLatency);
  Check.Field("subspace", "MaximumPeriodicAccessRate", Input.MaximumPeriodicAccessRate,
              Received->MaximumPeriodicAccessRate);
  Check.Field("subspace", "MinimumRequestTurnaroundTime", Input.MinimumRequestTurnaroundTime,
              Received->MinimumRequestTurnaroundTime);

  CheckRegion(Machine, Base, Check);
  CheckMtrrs(Machine, Pair, Base, Check);
  if (NewWindows.size() != 1) {
    Check.Problem("MMIO window", std::to_string(NewWindows.size()) + " windows were asked for, expected 1");
  } else {
    const MmioAllocation &Window = NewWindows.front();
    Check.Field("MMIO window", "Length", kMmioLength, Window.Length);
    Check.Field("MMIO window", "AlignmentMask", kMmioAlignmentMask, Window.AlignmentMask);
    Check.Field("MMIO window", "Target", kMmioTarget, Window.Target);
    Check.Field("MMIO window", "Attributes", kMmioAttributes, Window.Attributes);
  }
  if (NewRegions.size() != 1) {
    Check.Problem("registered region", std::to_string(NewRegions.size()) + " regions were registered, expected 1");
  } else {
    Check.Field("registered region", "Base", Base, NewRegions.front().Base);
    Check.Field("registered region", "Length", kRegionLength, NewRegions.front().Length);
    Check.Field("registered region", "Flags", 0, NewRegions.front().Flags);
  }
}

CCX_MCA_BANK_ENTRY ExpectedMcaBank(uint8_t Bank) {
  CCX_MCA_BANK_ENTRY Entry{};
  Entry.ControlInitData = Bank == kBankTurnedOff ? 0 : ~0ULL;
  Entry.ControlMsr = kFirstBankMsr + kBankMsrStride * Bank;
  Entry.StatusMsr = Entry.ControlMsr + 1;
  Entry.AddressMsr = Entry.ControlMsr + 2;
  Entry.MiscMsr = Entry.ControlMsr + 3;
  return Entry;
}

void CheckMcaBankInfo(uint64_t Status, const CCX_MCA_BANK_INFO *Received, std::vector<std::string> &Errors) {
  AnswerCheck Check("GetMcaBankInfo", Errors);
  Check.Field("bank description", "status", EFI_SUCCESS, Status);
  if (EFI_ERROR(Status)) return;
  if (Received == nullptr) {
    Check.Problem("bank description", "no description was handed out");
    return;
  }
  Check.Field("bank description", "GlobalCapabilityInitData", 0, Received->GlobalCapabilityInitData);
  Check.Field("bank description", "GlobalControlInitData", kGlobalControl, Received->GlobalControlInitData);
  Check.Field("bank description", "ClearStatusOnInitialization", 0, Received->ClearStatusOnInitialization);
  Check.Field("bank description", "StatusDataFormat", kStatusDataFormat, Received->StatusDataFormat);
  Check.Field("bank description", "Reserved", 0, Received->Reserved);
  Check.Field("bank description", "NumberOfBanks", kMcaBanks, Received->NumberOfBanks);
  if (Received->Banks == nullptr) {
    Check.Problem("bank description", "the bank array address is null");
    return;
  }
  const uint8_t Banks = std::min(Received->NumberOfBanks, kMcaBanks);
  for (uint8_t Bank = 0; Bank < Banks; Bank++) {
    const CCX_MCA_BANK_ENTRY Want = ExpectedMcaBank(Bank);
    const CCX_MCA_BANK_ENTRY &Got = Received->Banks[Bank];
    const std::string Record = "bank " + std::to_string(Bank);
    Check.Field(Record, "ControlInitData", Want.ControlInitData, Got.ControlInitData);
    Check.Field(Record, "ControlMsr", Want.ControlMsr, Got.ControlMsr);
    Check.Field(Record, "StatusMsr", Want.StatusMsr, Got.StatusMsr);
    Check.Field(Record, "AddressMsr", Want.AddressMsr, Got.AddressMsr);
    Check.Field(Record, "MiscMsr", Want.MiscMsr, Got.MiscMsr);
  }
}

}  // namespace sim
