// The boot-wide fault schedule: which call fails, how calls are counted, and that the firmware
// core and MP services really fail the scheduled call and only that one.
#include "sim/platform/FaultSchedule.h"

#include <gtest/gtest.h>

#include <atomic>

#include "sim/cpu/CurrentProcessor.h"
#include "sim/cpu/MpServices.h"
#include "sim/uefi/UefiCore.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

const EFI_GUID kFirst = {0x11111111, 0x2222, 0x3333, {4, 4, 4, 4, 4, 4, 4, 4}};
const EFI_GUID kSecond = {0x55555555, 0x6666, 0x7777, {8, 8, 8, 8, 8, 8, 8, 8}};

TEST(FaultSchedule, OnlyTheScheduledCallFails) {
  FaultSchedule Schedule({{FaultSite::PoolAllocation, EFI_GUID{}, 3, EFI_OUT_OF_RESOURCES}});
  std::vector<bool> Failed;
  for (int Call = 0; Call < 5; Call++) Failed.push_back(Schedule.Check(FaultSite::PoolAllocation, nullptr).has_value());
  EXPECT_EQ(Failed, (std::vector<bool>{false, false, true, false, false}));
  // Other sites count on their own and are never failed by a pool fault.
  EXPECT_FALSE(Schedule.Check(FaultSite::PageAllocation, nullptr).has_value());
  EXPECT_EQ(Schedule.Calls(FaultSite::PoolAllocation), 5u);
  EXPECT_EQ(Schedule.Calls(FaultSite::PageAllocation), 1u);
  EXPECT_EQ(Schedule.Fired().size(), 1u);
}

TEST(FaultSchedule, LocatesAreCountedPerProtocol) {
  FaultSchedule Schedule({{FaultSite::LocateProtocol, kSecond, 2, EFI_NOT_FOUND}});
  EXPECT_FALSE(Schedule.Check(FaultSite::LocateProtocol, &kFirst));
  EXPECT_FALSE(Schedule.Check(FaultSite::LocateProtocol, &kSecond));
  EXPECT_FALSE(Schedule.Check(FaultSite::LocateProtocol, &kFirst));
  EXPECT_EQ(Schedule.Check(FaultSite::LocateProtocol, &kSecond), EFI_NOT_FOUND);
  const auto Locates = Schedule.Locates();
  ASSERT_EQ(Locates.size(), 2u);
  EXPECT_EQ(Locates[0].second, 2u);
  EXPECT_EQ(Locates[1].second, 2u);
}

// The core's tables ask the schedule: a scheduled allocation, locate or variable write fails with
// the scheduled status, and the next call of the same kind works again.
TEST(FaultSchedule, CoreServicesFailTheScheduledCall) {
  FaultSchedule Schedule({{FaultSite::PageAllocation, EFI_GUID{}, 1, EFI_OUT_OF_RESOURCES},
                          {FaultSite::PoolAllocation, EFI_GUID{}, 1, EFI_OUT_OF_RESOURCES},
                          {FaultSite::LocateProtocol, kFirst, 1, EFI_NOT_FOUND},
                          {FaultSite::VariableWrite, EFI_GUID{}, 1, EFI_DEVICE_ERROR}});
  UefiCoreOptions Options;
  Options.dram = {{0x100000, 0x1000000}};
  Options.faults = [&](FaultSite Site, const EFI_GUID *Guid) { return Schedule.Check(Site, Guid); };
  UefiCore Core(std::move(Options));
  auto Active = Core.Activate();
  EFI_BOOT_SERVICES *Bs = Core.BootServices();
  static int Interface = 0;
  EFI_HANDLE Handle = nullptr;
  ASSERT_EQ(Core.InstallProtocol(Handle, kFirst, &Interface), EFI_SUCCESS);

  EFI_PHYSICAL_ADDRESS Pages = 0;
  EXPECT_EQ(Bs->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Pages), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Bs->AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &Pages), EFI_SUCCESS);
  VOID *Pool = nullptr;
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 16, &Pool), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Bs->AllocatePool(EfiBootServicesData, 16, &Pool), EFI_SUCCESS);
  VOID *Found = &Interface;
  EXPECT_EQ(Bs->LocateProtocol(const_cast<EFI_GUID *>(&kFirst), nullptr, &Found), EFI_NOT_FOUND);
  EXPECT_EQ(Found, nullptr) << "a failed locate hands back no interface";
  EXPECT_EQ(Bs->LocateProtocol(const_cast<EFI_GUID *>(&kFirst), nullptr, &Found), EFI_SUCCESS);
  EXPECT_EQ(Found, &Interface);
  CHAR16 Name[] = u"Fault";
  UINT8 Value = 1;
  EFI_GUID Vendor = kSecond;
  EFI_RUNTIME_SERVICES *Rt = Core.RuntimeServices();
  EXPECT_EQ(Rt->SetVariable(Name, &Vendor, 7, 1, &Value), EFI_DEVICE_ERROR);
  EXPECT_EQ(Core.Variables().All().size(), 0u) << "a failed write stores nothing";
  EXPECT_EQ(Rt->SetVariable(Name, &Vendor, 7, 1, &Value), EFI_SUCCESS);
  EXPECT_EQ(Schedule.Fired().size(), 4u);
}

VOID EFIAPI CountRun(VOID *Argument) { ++*static_cast<std::atomic<int> *>(Argument); }

TEST(FaultSchedule, FailedMpStartRunsNothing) {
  ProcessorSet Processors(Topology(UniformTopology{1, 1, 1, 1, 2, 1}), ProcessorConfig{});
  MpServices Mp(Processors);
  ProcessorBinding RunningAs(Processors.Bsp());
  FaultSchedule Schedule({{FaultSite::MpStart, EFI_GUID{}, 1, EFI_DEVICE_ERROR}});
  Mp.SetStartFault([&] { return Schedule.Check(FaultSite::MpStart, nullptr); });
  std::atomic<int> Runs = 0;
  EXPECT_EQ(Mp.StartupAllAPs(CountRun, FALSE, nullptr, 0, &Runs, nullptr),
            EFI_DEVICE_ERROR);
  EXPECT_EQ(Runs.load(), 0);
  EXPECT_EQ(Mp.StartupAllAPs(CountRun, FALSE, nullptr, 0, &Runs, nullptr),
            EFI_SUCCESS);
  EXPECT_EQ(Runs.load(), 1);
}

}  // namespace
}  // namespace sim
