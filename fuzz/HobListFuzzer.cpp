// Fuzzes the HOB list that the pre-memory phase leaves: heap HOBs (buffers to restore into the
// shared heap), the SMRAM reservation HOB (the regions the SMRAM access protocol reports), other
// GUID extension HOBs and raw bytes in between, behind a well-formed handoff table and the DRAM
// resource descriptors. The list is placed in host memory of exactly its size, so a walk that
// reads past its end is an address-sanitizer report. The whole entry point runs on it; afterwards
// the shared heap must still be a sound list.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzPlatform.h"
#include "fuzz/Outcome.h"
#include "interfaces/QorvexGuids.h"
#include "sim/platform/HeapSnapshot.h"
#include "sim/uefi/HobListBuilder.h"
#include "uefi/StandardGuids.h"

namespace {

enum class HobKind : uint8_t { Heap, Smram, OtherGuid, Raw, kMaxValue = Raw };

sim::HobListBuilder ListFrom(FuzzedDataProvider &Input, const std::vector<sim::DramRange> &Dram) {
  sim::HobListBuilder Hobs;
  for (const sim::DramRange &Range : Dram) {
    Hobs.AddResourceDescriptor(EFI_RESOURCE_SYSTEM_MEMORY, sim::kTestedDramAttributes, Range.base, Range.length);
  }
  for (int Count = 0; Count < 16 && Input.remaining_bytes() > 0; Count++) {
    const HobKind Kind = Input.ConsumeEnum<HobKind>();
    const std::vector<uint8_t> Bytes = Input.ConsumeBytes<uint8_t>(Input.ConsumeIntegralInRange<size_t>(0, 512));
    switch (Kind) {
      case HobKind::Heap:
        Hobs.AddGuidHob(gQorvexHeapHobGuid, Bytes);
        break;
      case HobKind::Smram:
        Hobs.AddGuidHob(gEfiSmmPeiSmramMemoryReserveGuid, Bytes);
        break;
      case HobKind::OtherGuid:
        Hobs.AddGuidHob(gQorvexS3SaveTokenSpaceGuid, Bytes);
        break;
      case HobKind::Raw:
        Hobs.AppendRaw(Bytes);
        break;
    }
  }
  return Hobs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  const sim::Machine &Machine = fuzz::SmallMachine();
  const sim::HobListBuilder Hobs = ListFrom(Input, Machine.Dram);
  const size_t ListSize = Hobs.Size();
  std::unique_ptr<uint64_t[]> List(new uint64_t[(ListSize + 7) / 8]);
  const uint64_t Base = reinterpret_cast<uint64_t>(List.get());
  const std::vector<uint8_t> Bytes = Hobs.Bytes(Base, Base + ListSize);
  std::memcpy(List.get(), Bytes.data(), Bytes.size());

  fuzz::FuzzRun Run;
  Run.Prepare = [&](sim::Platform &Platform) {
    Platform.Core().Tables().InstallConfigurationTable(&gEfiHobListGuid, List.get());
  };
  Run.Drive = [&](sim::Platform &Platform, EFI_HANDLE ImageHandle) {
    fuzz::Observe(CcxImageDescriptor.EntryPoint(ImageHandle, Platform.Core().SystemTable()));
    const sim::HeapSnapshot Heap = sim::TakeHeapSnapshot(Platform.Core());
    if (!Heap.Published) fuzz::Fail("the shared heap was not published");
    if (!Heap.Problem.empty()) fuzz::Fail(Heap.Problem.c_str());
    for (const sim::HeapBufferView &Buffer : Heap.Buffers) {
      if (Buffer.Signature != 0x50414548 || Buffer.Valid != 1) fuzz::Fail("a heap buffer with a broken header");
      for (uint64_t Seen : {uint64_t{Buffer.Handle}, uint64_t{Buffer.Size}, Buffer.Address}) fuzz::Observe(Seen);
      fuzz::ObserveBytes(Buffer.FirstBytes.data(), Buffer.FirstBytes.size());
    }
  };
  fuzz::RunOnPlatform(Machine, Run);
  return 0;
}
