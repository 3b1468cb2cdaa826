// Whole boots with SMRAM access and the shared heap: the SMM core's phase late in the boot, the
// SMM range registers every processor shows after it, the coprocessor mutex, the heap HOBs of the
// machine and a second driver that publishes the heap the driver joins.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/ImageDescriptor.h"
#include "driver/ImageState.h"
#include "services/SmmAccess2.h"
#include "sim/platform/BootRunner.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

// The per-core initialization installs the protocol once MP services are there; on a tree where
// it does not yet, the installer is called here, after the entry, the way it would.
BootOptions InstallingSmmAccess() {
  BootOptions Options;
  Options.AfterEntry = [](Platform &Machine) {
    if (!Machine.Core().LocateProtocol(gEfiSmmAccess2ProtocolGuid)) CcxImage::CcxSmmAccess2ProtocolInstall();
  };
  return Options;
}

size_t StepIndex(const BootRecord &Boot, const std::string &Step) {
  return std::find(Boot.Steps.begin(), Boot.Steps.end(), Step) - Boot.Steps.begin();
}

std::vector<uint32_t> HeapHandles(const BootRecord &Boot) {
  std::vector<uint32_t> Handles;
  for (const HeapBufferView &Buffer : Boot.Heap.Buffers) Handles.push_back(Buffer.Handle);
  return Handles;
}

const HeapBufferView *HeapBuffer(const BootRecord &Boot, uint32_t Handle) {
  for (const HeapBufferView &Buffer : Boot.Heap.Buffers) {
    if (Buffer.Handle == Handle) return &Buffer;
  }
  return nullptr;
}

TEST(SmmBoot, SmmCoreOpensClosesAndLocksSmramBeforeReadyToBoot) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, InstallingSmmAccess());
  ASSERT_EQ(Boot.EntryStatus, std::optional<uint64_t>(EFI_SUCCESS));
  EXPECT_LT(StepIndex(Boot, "ready_to_lock"), StepIndex(Boot, "smm_core"));
  EXPECT_LT(StepIndex(Boot, "smm_core"), StepIndex(Boot, "ready_to_boot"));
  ASSERT_TRUE(Boot.SmmCore.Found);

  std::vector<std::tuple<std::string, uint64_t, bool, bool>> Calls;
  for (const SmmCoreCall &Call : Boot.SmmCore.Calls) {
    Calls.emplace_back(Call.Operation, Call.Status, Call.OpenState, Call.LockState);
  }
  const std::vector<std::tuple<std::string, uint64_t, bool, bool>> Expected = {
      {"GetCapabilities", EFI_BUFFER_TOO_SMALL, false, false},
      {"GetCapabilities", EFI_SUCCESS, false, false},
      {"Open", EFI_SUCCESS, true, false},
      {"Close", EFI_SUCCESS, false, false},
      {"Lock", EFI_SUCCESS, false, true},
      {"GetCapabilities", EFI_BUFFER_TOO_SMALL, false, true},
      {"GetCapabilities", EFI_SUCCESS, false, true}};
  EXPECT_EQ(Calls, Expected);
  ASSERT_EQ(Boot.SmmCore.Map.size(), 2u);
  for (const SmramMapEntry &Region : Boot.SmmCore.Map) {
    EXPECT_EQ(RegionStateNames(Region.RegionState), "CLOSED|LOCKED|CACHEABLE|ALLOCATED");
  }

  // Every processor shows the locked range, the legacy window routed away from DRAM, and the
  // HWCR lock bits the default machine asks for.
  ASSERT_EQ(Boot.SmmRangeMsrs.size(), 1u);
  const SmmRangeMsrGroup &Range = Boot.SmmRangeMsrs[0];
  EXPECT_EQ(Range.Processors.size(), Boot.ProcessorCount);
  EXPECT_EQ(Range.TsegBase, 0x7F000000u);
  EXPECT_EQ(Range.TsegMask, 0xFFFFFFFFFF806603ULL);
  EXPECT_EQ(Range.AsegMtrr, 0u);
  EXPECT_EQ(Range.Hwcr, 0x80000001u);

  // Open, close and lock each held the mutex against the contending coprocessor.
  EXPECT_TRUE(Boot.CoprocessorMutex.Present);
  EXPECT_TRUE(Boot.CoprocessorMutex.Contends);
  EXPECT_EQ(Boot.CoprocessorMutex.Statistics.X86Requests, 3u);
  EXPECT_EQ(Boot.CoprocessorMutex.Statistics.X86Releases, 3u);
  EXPECT_GE(Boot.CoprocessorMutex.Statistics.PollsWhileHeld, 1u);
  EXPECT_EQ(Boot.CoprocessorMutex.Statistics.ExclusionViolations, 0u);
}

TEST(SmmBoot, WithoutTheCoprocessorSmramIsStillLocked) {
  Machine Description = DefaultMachine();
  Description.Coprocessor.Present = false;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, InstallingSmmAccess());
  ASSERT_TRUE(Boot.SmmCore.Found);
  for (const SmmCoreCall &Call : Boot.SmmCore.Calls) {
    if (Call.Operation != "GetCapabilities") EXPECT_EQ(Call.Status, EFI_SUCCESS) << Call.Operation;
  }
  ASSERT_EQ(Boot.SmmRangeMsrs.size(), 1u);
  EXPECT_EQ(Boot.SmmRangeMsrs[0].TsegMask, 0xFFFFFFFFFF806603ULL);
  EXPECT_FALSE(Boot.CoprocessorMutex.Present);
  EXPECT_EQ(Boot.CoprocessorMutex.Statistics.X86Requests, 0u);
}

TEST(SmmBoot, MachineWithoutSmramGetsNoSmmAccess) {
  Machine Description = DefaultMachine();
  Description.Smram.clear();
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, InstallingSmmAccess());
  EXPECT_EQ(Boot.EntryStatus, std::optional<uint64_t>(EFI_SUCCESS));
  EXPECT_FALSE(Boot.SmmCore.Found);
  ASSERT_EQ(Boot.SmmRangeMsrs.size(), 1u);
  EXPECT_EQ(Boot.SmmRangeMsrs[0].TsegBase, 0u);
  EXPECT_EQ(Boot.SmmRangeMsrs[0].TsegMask, 0u);
}

// Handles no other part of the boot uses.
Machine WithHeapHobs() {
  Machine Description = DefaultMachine();
  Description.HeapHobs = {{0xC0DE0001, 2, {1, 2, 3}, std::nullopt, 1, 0x50414548},
                          {0xC0DE0002, 8, {9}, std::nullopt, 1, 0x50414548},
                          {0xC0DE0003, 4, {7}, std::nullopt, 0, 0x50414548},
                          {0xC0DE0004, 4, {7}, 64, 1, 0x50414548}};
  return Description;
}

// The machine's valid heap HOBs come first in the list, in HOB order; the invalid record and the
// one claiming more data than it carries are not restored.
TEST(HeapBoot, MachinesHeapHobsAreRestoredAheadOfTheDriversBuffers) {
  const BootRecord Boot = RunBoot(WithHeapHobs(), CcxImageDescriptor, {});
  const std::vector<uint32_t> Handles = HeapHandles(Boot);
  ASSERT_GE(Handles.size(), 3u);
  EXPECT_EQ(std::vector<uint32_t>(Handles.begin(), Handles.begin() + 2),
            (std::vector<uint32_t>{0xC0DE0001, 0xC0DE0002}));
  EXPECT_EQ(HeapBuffer(Boot, 0xC0DE0003), nullptr);
  EXPECT_EQ(HeapBuffer(Boot, 0xC0DE0004), nullptr);
  EXPECT_EQ(HeapBuffer(Boot, 0xC0DE0001)->FirstBytes, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(HeapBuffer(Boot, 0xC0DE0001)->MemoryType, std::optional<uint32_t>(EfiBootServicesData));
  EXPECT_EQ(HeapBuffer(Boot, 0xC0DE0002)->MemoryType, std::optional<uint32_t>(EfiRuntimeServicesData));
  // The driver's one-byte buffer holds PcdCcxHeapA02BValue (TRUE on the default machine).
  ASSERT_NE(HeapBuffer(Boot, 0xA02B), nullptr);
  EXPECT_EQ(HeapBuffer(Boot, 0xA02B)->FirstBytes, std::vector<uint8_t>{1});
  EXPECT_TRUE(Boot.Heap.Problem.empty()) << Boot.Heap.Problem;
}

size_t Publications(const BootRecord &Boot) {
  return std::count_if(Boot.Installed.begin(), Boot.Installed.end(),
                       [](const InstalledEntry &Entry) { return Entry.Protocol == "gQorvexHeapProtocolGuid"; });
}

// A driver dispatched earlier publishes the heap and restores the HOB buffers; the driver joins
// that list, so the buffers are there once and the driver's own buffers land in the same list.
TEST(HeapBoot, DriverJoinsTheHeapAnEarlierDriverPublished) {
  BootOptions Options;
  Options.PeerBefore = &CcxPeerImageDescriptor;
  const BootRecord Joined = RunBoot(WithHeapHobs(), CcxImageDescriptor, Options);
  const BootRecord Alone = RunBoot(WithHeapHobs(), CcxImageDescriptor, {});
  EXPECT_EQ(Joined.Steps.front(), "library start-up of CcxPeerImage");
  EXPECT_EQ(Joined.EntryStatus, std::optional<uint64_t>(EFI_SUCCESS));
  EXPECT_EQ(Publications(Joined), 1u);
  EXPECT_EQ(Publications(Alone), 1u);
  EXPECT_EQ(HeapHandles(Joined), HeapHandles(Alone));
  const std::vector<uint32_t> Handles = HeapHandles(Joined);
  EXPECT_EQ(std::count(Handles.begin(), Handles.end(), 0xC0DE0001u), 1);
  EXPECT_EQ(std::count(Handles.begin(), Handles.end(), 0xA02Bu), 1);
}

}  // namespace
}  // namespace sim
