// Whole boots of the delivered driver image on simulated machines.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "debug/FatalStop.h"
#include "driver/ImageDescriptor.h"
#include "driver/ImageState.h"
#include "sim/platform/BootRunner.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

bool HasProtocol(const BootRecord &Boot, const std::string &Name) {
  return std::any_of(Boot.Installed.begin(), Boot.Installed.end(),
                     [&](const InstalledEntry &Entry) { return Entry.Protocol == Name; });
}

const char *kServiceProtocols[] = {
    "gQorvexCcxAcpiServicesProtocolGuid",   "gQorvexCcxResourceAffinityServicesProtocolGuid",
    "gQorvexCcxSratServicesProtocolGuid",   "gQorvexCcxPcctServicesProtocolGuid",
    "gQorvexCcxCppcServicesProtocolGuid",   "gQorvexCcxMcaServicesProtocolGuid",
    "gQorvexCcxSmbiosServicesProtocolGuid", "gQorvexCcxDxeInitMarkerProtocolGuid",
    "gQorvexCcxDxeInitCompleteProtocolGuid"};

TEST(Boot, DefaultMachineRunsTheWholeSequence) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  ASSERT_TRUE(Boot.EntryStatus.has_value());
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  EXPECT_EQ(Boot.End.How, BootEnd::Returned);
  for (const char *Name : kServiceProtocols) EXPECT_TRUE(HasProtocol(Boot, Name)) << Name;
  // The per-core work runs inside the initialization; the overclocking trigger comes after the
  // entry returned, and ready-to-boot last.
  const std::vector<uint32_t> Expected = {0xB000AC55, 0xB000AC56, 0xB000ACE6, 0xB000AC95, 0xB000AC96, 0xB000AC10,
                                          0xB000ACE5, 0xB000AC58, 0xB000ACE8, 0xB000AC57, 0xB000ACE7};
  EXPECT_EQ(Boot.TestPoints, Expected);
  EXPECT_TRUE(Boot.FatalStops.empty());
  // Socket 0's PPIN is stored from the BSP at the end of the initialization.
  ASSERT_FALSE(Boot.PcdWrites.empty());
  EXPECT_EQ(Boot.PcdWrites.back(), (std::pair<uint64_t, uint64_t>{881, 0x0123456789ABCDEFULL}));
  EXPECT_EQ(Boot.ProcessorCount, 128u);
}

class MissingFabricService : public ::testing::TestWithParam<const char *> {};

TEST_P(MissingFabricService, AbortsBeforeInstallingAnything) {
  Machine Description = DefaultMachine();
  Description.Siblings[GetParam()].When = SiblingArrival::Absent;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  ASSERT_TRUE(Boot.EntryStatus.has_value());
  EXPECT_EQ(*Boot.EntryStatus, EFI_ABORTED);
  EXPECT_EQ(Boot.End.How, BootEnd::Returned);
  for (const char *Name : kServiceProtocols) EXPECT_FALSE(HasProtocol(Boot, Name)) << Name;
  EXPECT_TRUE(Boot.Armed.empty()) << "no event may be left behind by an aborted initialization";
}

INSTANTIATE_TEST_SUITE_P(EachService, MissingFabricService,
                         ::testing::Values("fabric_numa", "fabric_system", "fabric_topology"));

TEST(Boot, LateServicesAreWaitedForWithNotifyFunctions) {
  const BootRecord Boot = RunBoot(LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/late-services.json"),
                                  CcxImageDescriptor, {});
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  const auto Arrived = std::find(Boot.Steps.begin(), Boot.Steps.end(), "arrival of mp_services");
  ASSERT_NE(Arrived, Boot.Steps.end());
  EXPECT_LT(std::find(Boot.Steps.begin(), Boot.Steps.end(), "entry"), Arrived);
  // The MP event stays armed for later installations; the down-core event closed itself.
  bool MpArmed = false, DownCoreArmed = false;
  for (const ArmedEvent &Event : Boot.Armed) {
    for (const std::string &Guid : Event.WaitsFor) {
      MpArmed = MpArmed || Guid == "gEfiMpServiceProtocolGuid";
      DownCoreArmed = DownCoreArmed || Guid == "gEfiVariableWriteArchProtocolGuid";
    }
  }
  EXPECT_TRUE(MpArmed);
  EXPECT_FALSE(DownCoreArmed);
}

// Every boot starts from a freshly loaded image: an aborted boot after a good one finds none of
// the first boot's state, and a good boot after an aborted one runs the whole sequence again.
TEST(Boot, EveryBootGetsAFreshlyLoadedImage) {
  Machine WithoutTopology = DefaultMachine();
  WithoutTopology.Siblings["fabric_topology"].When = SiblingArrival::Absent;
  const BootRecord First = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  const BootRecord Aborted = RunBoot(WithoutTopology, CcxImageDescriptor, {});
  const BootRecord Again = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  EXPECT_EQ(*Aborted.EntryStatus, EFI_ABORTED);
  EXPECT_EQ(Again.TestPoints, First.TestPoints);
  EXPECT_EQ(Again.Installed.size(), First.Installed.size());
  EXPECT_EQ(Again.Armed.size(), First.Armed.size());
}

TEST(Boot, DebugOutputImageReachesEveryChannel) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDebugDescriptor, {});
  EXPECT_NE(Boot.Uart3F8.find("  QorvexCcxRellDxeInit Entry\r\r\n"), std::string::npos) << Boot.Uart3F8;
  EXPECT_NE(Boot.Legacy2F8.find("  QorvexCcxRellDxeInit Entry\r\n"), std::string::npos) << Boot.Legacy2F8;
  EXPECT_NE(Boot.Uart3F8.find("VELTA_TP:[B000AC55]"), std::string::npos);
  EXPECT_FALSE(Boot.PortCaptureMessages.empty());
  const BootRecord Quiet = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  EXPECT_TRUE(Quiet.Uart3F8.empty());
  EXPECT_TRUE(Quiet.Legacy2F8.empty());
  EXPECT_TRUE(Quiet.PortCaptureMessages.empty());
}

TEST(Boot, UnevenMachineBoots) {
  const BootRecord Boot =
      RunBoot(LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/uneven.json"), CcxImageDescriptor, {});
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  EXPECT_EQ(Boot.ProcessorCount, 93u);
}

TEST(Boot, ResetEndsTheBootAndTheVariableStoreSurvivesIt) {
  const std::filesystem::path Store = std::filesystem::temp_directory_path() / "ccx-boot-test-variables.store";
  std::filesystem::remove(Store);
  static EFI_GUID Vendor = {0x1234, 0x5678, 0x9ABC, {1, 2, 3, 4, 5, 6, 7, 8}};
  static CHAR16 Name[] = u"BootCount";

  BootOptions Options;
  Options.VariableFile = Store;
  Options.AfterBoot = [](Platform &Machine) {
    uint8_t Value = 7;
    EFI_RUNTIME_SERVICES *Runtime = Machine.Core().RuntimeServices();
    ASSERT_EQ(Runtime->SetVariable(Name, &Vendor, EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS, 1,
                                   &Value),
              EFI_SUCCESS);
    Runtime->ResetSystem(EfiResetWarm, EFI_SUCCESS, 0, nullptr);
  };
  const BootRecord First = RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  EXPECT_EQ(First.End.How, BootEnd::Reset);
  EXPECT_EQ(First.End.Code, static_cast<uint64_t>(EfiResetWarm));

  uint8_t Seen = 0;
  Options.AfterBoot = [&Seen](Platform &Machine) {
    UINTN Size = 1;
    Machine.Core().RuntimeServices()->GetVariable(Name, &Vendor, nullptr, &Size, &Seen);
  };
  const BootRecord Second = RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  EXPECT_EQ(Second.End.How, BootEnd::Returned);
  EXPECT_EQ(Seen, 7);
  std::filesystem::remove(Store);
}

class FatalStopInBoot : public ::testing::TestWithParam<bool> {};

// A fatal stop returns where the processors answer the simulation back-door; where they don't, it
// scrolls its code forever, and the simulator ends the boot as halted once it has seen the display.
TEST_P(FatalStopInBoot, HaltsOnlyWithoutTheBackdoor) {
  Machine Description = DefaultMachine();
  Description.SimulationBackdoor = GetParam();
  bool Returned = false;
  BootOptions Options;
  Options.AfterBoot = [&Returned](Platform &) {
    CcxImage::FatalStop(0x30910235);
    Returned = true;
  };
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  EXPECT_EQ(Returned, GetParam());
  EXPECT_EQ(Boot.End.How, GetParam() ? BootEnd::Returned : BootEnd::FatalHalt);
  EXPECT_EQ(Boot.FatalStops, std::vector<uint32_t>{0x30910235});
  if (GetParam()) {
    EXPECT_TRUE(Boot.HaltWindows.empty());
  } else {
    EXPECT_EQ(Boot.End.Code, 0x30910235u);
    // Two cycles of the scrolling display were seen before the simulator ended the boot.
    const std::vector<uint32_t> Cycle = {0x350000DE, 0x0000DEAD, 0x00DEAD30, 0xDEAD3091, 0xAD309102, 0x30910235};
    std::vector<uint32_t> TwoCycles = Cycle;
    TwoCycles.insert(TwoCycles.end(), Cycle.begin(), Cycle.end());
    EXPECT_EQ(Boot.HaltWindows, TwoCycles);
  }
}

INSTANTIATE_TEST_SUITE_P(Backdoor, FatalStopInBoot, ::testing::Bool());

}  // namespace
}  // namespace sim
