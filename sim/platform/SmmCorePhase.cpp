#include "sim/platform/SmmCorePhase.h"

#include <map>
#include <tuple>

#include "arch/Msr.h"
#include "uefi/SmmAccess2.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

// The map size a well-behaved protocol reports is a few descriptors; anything beyond this is not
// believed, so that a broken answer can't make the simulator allocate without bound.
constexpr UINTN kLargestMapBelieved = 4096 * sizeof(EFI_SMRAM_DESCRIPTOR);

}  // namespace

SmmCorePhaseRecord RunSmmCorePhase(UefiCore &Core) {
  SmmCorePhaseRecord Record;
  const std::optional<void *> Found = Core.LocateProtocol(gEfiSmmAccess2ProtocolGuid);
  if (!Found || *Found == nullptr) return Record;
  Record.Found = true;
  auto *Access = static_cast<EFI_SMM_ACCESS2_PROTOCOL *>(*Found);
  auto Note = [&](const char *Operation, EFI_STATUS Status) {
    Record.Calls.push_back({Operation, Status, Access->OpenState != 0, Access->LockState != 0});
  };
  auto ReadMap = [&]() {
    UINTN Size = 0;
    EFI_STATUS Status = Access->GetCapabilities(Access, &Size, nullptr);
    Note("GetCapabilities", Status);
    if (Status != EFI_BUFFER_TOO_SMALL || Size == 0 || Size > kLargestMapBelieved) return std::vector<SmramMapEntry>{};
    std::vector<EFI_SMRAM_DESCRIPTOR> Map(Size / sizeof(EFI_SMRAM_DESCRIPTOR) + 1);
    UINTN Room = Map.size() * sizeof(EFI_SMRAM_DESCRIPTOR);
    Status = Access->GetCapabilities(Access, &Room, Map.data());
    Note("GetCapabilities", Status);
    std::vector<SmramMapEntry> Result;
    if (Status != EFI_SUCCESS) return Result;
    for (size_t Index = 0; Index < Room / sizeof(EFI_SMRAM_DESCRIPTOR) && Index < Map.size(); Index++) {
      const EFI_SMRAM_DESCRIPTOR &Region = Map[Index];
      Result.push_back({Region.PhysicalStart, Region.CpuStart, Region.PhysicalSize, Region.RegionState});
    }
    return Result;
  };

  ReadMap();
  Note("Open", Access->Open(Access));
  Note("Close", Access->Close(Access));
  Note("Lock", Access->Lock(Access));
  Record.Map = ReadMap();
  return Record;
}

std::string RegionStateNames(uint64_t RegionState) {
  static const std::pair<uint64_t, const char *> kFlags[] = {
      {EFI_SMRAM_OPEN, "OPEN"},           {EFI_SMRAM_CLOSED, "CLOSED"},
      {EFI_SMRAM_LOCKED, "LOCKED"},       {EFI_CACHEABLE, "CACHEABLE"},
      {EFI_ALLOCATED, "ALLOCATED"},       {EFI_NEEDS_TESTING, "NEEDS_TESTING"},
      {EFI_NEEDS_ECC_INITIALIZATION, "NEEDS_ECC_INITIALIZATION"}};
  std::string Names;
  uint64_t Rest = RegionState;
  for (const auto &[Flag, Name] : kFlags) {
    if ((RegionState & Flag) == 0) continue;
    Names += (Names.empty() ? "" : "|") + std::string(Name);
    Rest &= ~Flag;
  }
  if (Rest != 0) Names += (Names.empty() ? "" : "|") + std::to_string(Rest);
  return Names.empty() ? "0" : Names;
}

std::vector<SmmRangeMsrGroup> CollectSmmRangeMsrs(const ProcessorSet &Processors) {
  std::map<std::tuple<uint64_t, uint64_t, uint64_t, uint64_t>, std::vector<size_t>> Groups;
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    const Processor &Each = Processors.At(Index);
    const auto Value = [&](uint32_t Msr) { return Each.PeekMsr(Msr).value_or(0); };
    Groups[{Value(Msr::SmmTsegBase::Number), Value(Msr::SmmTsegMask::Number), Value(Msr::MtrrFix16kA0000::Number),
            Value(Msr::Hwcr::Number)}]
        .push_back(Index);
  }
  std::vector<SmmRangeMsrGroup> Result;
  for (const auto &[Values, Which] : Groups) {
    Result.push_back({std::get<0>(Values), std::get<1>(Values), std::get<2>(Values), std::get<3>(Values), Which});
  }
  return Result;
}

}  // namespace sim
