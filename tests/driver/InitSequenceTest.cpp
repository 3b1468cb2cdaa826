// The initialization sequence against the fake firmware: order, the status rule, the abort
// without the fabric services, the BSP guard, the error path and the SNP MSR merge.
#include <gtest/gtest.h>

#include <algorithm>

#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "tests/support/FakeFabric.h"
#include "tests/support/FakeFirmware.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

using namespace CcxImage;

namespace {

class InitSequence : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageLoad();
    // An earlier driver of the boot started the S3 library: this one joins its record and table,
    // so the events seen here are the sequence's own.
    Firmware.Pcd[PcdQorvexS3LibPrivateDataAddress] = reinterpret_cast<uintptr_t>(&SharedS3Record);
    Firmware.Pcd[PcdQorvexS3LibTableAddress] = 0x1000;
  }

  EFI_STATUS Boot() { return CcxRellDxeEntryPoint(Firmware.ImageHandle(), Firmware.SystemTable()); }

  // Index of a call in the log, or -1.
  long IndexOf(const std::string &Key) const {
    const auto &Calls = Firmware.Calls();
    auto It = std::find(Calls.begin(), Calls.end(), Key);
    return It == Calls.end() ? -1 : static_cast<long>(It - Calls.begin());
  }

  std::vector<std::string> InstalledOnImage() {
    std::vector<std::string> Names;
    for (const auto &[Handle, Name] : Firmware.Installed()) {
      if (Handle == Firmware.ImageHandle()) Names.push_back(Name);
    }
    return Names;
  }

  fake::FakeFirmware Firmware;
  QorvexS3LibPrivateData SharedS3Record = {};
};

TEST_F(InitSequence, InstallsEveryProtocolInOrderAndSucceeds) {
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  const std::vector<std::string> Expected = {"AddressInfo",  "AcpiServices", "ResourceAffinityServices",
                                             "SratServices", "PcctServices", "CppcServices",
                                             "McaServices",  "SmbiosServices"};
  EXPECT_EQ(InstalledOnImage(), Expected);
  EXPECT_LT(IndexOf("LocateProtocol:Numa"), IndexOf("LocateProtocol:System"));
  EXPECT_LT(IndexOf("LocateProtocol:System"), IndexOf("LocateProtocol:Topology"));
  EXPECT_LT(IndexOf("InstallProtocolInterface:InitMarker"), IndexOf("InstallProtocolInterface:AcpiServices"));
  EXPECT_LT(IndexOf("InstallProtocolInterface:SmbiosServices"), IndexOf("InstallProtocolInterface:InitComplete"));
  // The marker and the completion protocol go on handles of their own.
  for (const auto &[Handle, Name] : Firmware.Installed()) {
    if (Name == "InitMarker" || Name == "InitComplete") EXPECT_NE(Handle, Firmware.ImageHandle());
  }
}

TEST_F(InitSequence, ArmsTheBootEventsAtNotifyPriority) {
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(Firmware.Called("RegisterProtocolNotify:OcTrigger"));
  EXPECT_TRUE(Firmware.Called("CreateEventEx:ReadyToBoot"));
  for (const auto &Event : Firmware.Events()) {
    EXPECT_EQ(Event.Type, EVT_NOTIFY_SIGNAL);
    EXPECT_EQ(Event.Tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  }
}

class MissingFabricService : public InitSequence, public ::testing::WithParamInterface<int> {};

TEST_P(MissingFabricService, AbortsWithoutLocatingTheRest) {
  const EFI_GUID *Guids[] = {&gQorvexFabricNumaServicesProtocolGuid, &gQorvexFabricSystemServicesProtocolGuid,
                             &gQorvexFabricTopologyServicesProtocolGuid};
  const char *Names[] = {"Numa", "System", "Topology"};
  Firmware.RemoveProtocol(*Guids[GetParam()]);
  EXPECT_EQ(Boot(), EFI_ABORTED);
  for (int Index = 0; Index < 3; Index++) {
    EXPECT_EQ(Firmware.Called(std::string("LocateProtocol:") + Names[Index]), Index <= GetParam()) << Names[Index];
  }
  EXPECT_TRUE(InstalledOnImage().empty());
  EXPECT_FALSE(Firmware.Called("InstallProtocolInterface:InitMarker"));
}

INSTANTIATE_TEST_SUITE_P(EachService, MissingFabricService, ::testing::Values(0, 1, 2));

TEST_F(InitSequence, TheLargestStatusWinsAndTheOtherProtocolsStay) {
  Firmware.FailCall("InstallProtocolInterface:InitMarker", EFI_WARN_STALE_DATA);
  Firmware.FailCall("InstallProtocolInterface:SratServices", EFI_OUT_OF_RESOURCES);
  Firmware.FailCall("InstallProtocolInterface:CppcServices", EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot(), EFI_OUT_OF_RESOURCES);
  const std::vector<std::string> Expected = {"AddressInfo",  "AcpiServices", "ResourceAffinityServices",
                                             "PcctServices", "McaServices",  "SmbiosServices"};
  EXPECT_EQ(InstalledOnImage(), Expected);
  EXPECT_TRUE(Firmware.Called("InstallProtocolInterface:InitComplete"));
}

TEST_F(InitSequence, AWarningAloneIsReturned) {
  Firmware.FailCall("InstallProtocolInterface:InitComplete", EFI_WARN_BUFFER_TOO_SMALL);
  EXPECT_EQ(Boot(), EFI_WARN_BUFFER_TOO_SMALL);
}

TEST_F(InitSequence, AddressInfoInstallationNeverAffectsTheResult) {
  Firmware.FailCall("InstallMultipleProtocolInterfaces:AddressInfo", EFI_DEVICE_ERROR);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(Firmware.Called("InstallProtocolInterface:SmbiosServices"));
}

TEST_F(InitSequence, EntryRunsTheUnloadStepOnlyOnError) {
  Firmware.FailCall("CreateEventEx:ReadyToBoot", EFI_OUT_OF_RESOURCES);
  // Stand-ins for the two events the S3 library creates as the first driver of a boot.
  EFI_EVENT ReadyToLock = reinterpret_cast<EFI_EVENT>(Firmware.Events().size() + 1);
  Firmware.Events().push_back({EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, ""});
  EFI_EVENT CloseTable = reinterpret_cast<EFI_EVENT>(Firmware.Events().size() + 1);
  Firmware.Events().push_back({EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, ""});
  gImage.S3.ReadyToLockEvent = ReadyToLock;
  gImage.S3.CloseTableEvent = CloseTable;
  EXPECT_EQ(Boot(), EFI_OUT_OF_RESOURCES);
  EXPECT_TRUE(Firmware.Events()[0].Closed);
  EXPECT_TRUE(Firmware.Events()[1].Closed);
}

TEST_F(InitSequence, SuccessLeavesTheS3LibraryEventsOpen) {
  Firmware.Events().push_back({EVT_NOTIFY_SIGNAL, TPL_CALLBACK, nullptr, nullptr, ""});
  gImage.S3.ReadyToLockEvent = reinterpret_cast<EFI_EVENT>(1);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_FALSE(Firmware.Events()[0].Closed);
  EXPECT_FALSE(Firmware.Called("CloseEvent"));
}

TEST_F(InitSequence, ApSkipsEverythingButThePpin) {
  Firmware.Msrs[0x1B] = 0xFEE00800;  // BSP bit clear
  Firmware.Msrs[0xC00102F0] = 0x2;   // PPIN enabled
  Firmware.Msrs[0xC00102F1] = 0x1122334455667788ULL;
  Firmware.FailCall("CreateEventEx:ReadyToBoot", EFI_OUT_OF_RESOURCES);  // would make it fail if reached
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(InstalledOnImage().empty());
  EXPECT_TRUE(Firmware.Events().empty());
  EXPECT_EQ(Firmware.Pcd[PcdCcxPpinSocket0], 0x1122334455667788ULL);
}

TEST_F(InitSequence, DownCoreCheckWaitsForTheVariableWriteService) {
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(Firmware.Called("RegisterProtocolNotify:VariableWrite"));
  ASSERT_FALSE(Firmware.Events().empty());
  EXPECT_EQ(Firmware.Events()[0].Tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
}

TEST_F(InitSequence, DownCoreCheckRunsAtOnceWhenVariablesAreWritable) {
  static uint64_t Present = 0;
  Firmware.AddProtocol(gEfiVariableWriteArchProtocolGuid, &Present);
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_FALSE(Firmware.Called("RegisterProtocolNotify:VariableWrite"));
}

TEST_F(InitSequence, DownCoreEventFailuresStopAndAreRecorded) {
  gImage.Library.TestPointConfig.FatalStopEnable = 1;
  Firmware.FailCall("RegisterProtocolNotify:VariableWrite", EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot(), EFI_INVALID_PARAMETER);
  bool Stopped = false;
  for (size_t Index = 0; Index + 1 < Firmware.PortWrites.size(); Index++) {
    if (Firmware.PortWrites[Index].Port == 0xE0 && Firmware.PortWrites[Index + 1].Value == 0x30910243) Stopped = true;
  }
  EXPECT_TRUE(Stopped) << "fatal stop 0x30910243 not shown";
}

TEST_F(InitSequence, PerCoreWorkWaitsForMpServices) {
  EXPECT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_TRUE(Firmware.Called("RegisterProtocolNotify:MpServices"));
  fake::FakeFirmware WithMp;
  fake::FakeMpServices Mp(2);
  fake::FakeFabric Fabric(fake::FabricShape{{1, 1, 1, 1, 1, 2}});
  WithMp.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
  WithMp.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
  WithMp.AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, Fabric.Topology());
  ImageLoad();
  EXPECT_EQ(CcxRellDxeEntryPoint(WithMp.ImageHandle(), WithMp.SystemTable()), EFI_SUCCESS);
  EXPECT_FALSE(WithMp.Called("RegisterProtocolNotify:MpServices"));
  // The per-core work ran inside the initialization: it started the PPIN procedure.
  EXPECT_FALSE(Mp.Starts.empty());
}

struct SnpCase {
  uint32_t CpuidEax;
  uint64_t SnpMode;
  uint8_t SnpCapable;
  bool Merged;
};

class SnpSetUp : public InitSequence, public ::testing::WithParamInterface<SnpCase> {};

// The merge keeps bits 0-12 and 52-63 of the old value and ORs the bound in.
TEST_P(SnpSetUp, MergesTheTableBoundsIntoTheSnpMsrs) {
  Firmware.CpuidLeaves[0x8000001F] = {GetParam().CpuidEax, 0, 0, 0};
  Firmware.Pcd[PcdCcxSnpMode] = GetParam().SnpMode;
  Firmware.Msrs[0xC0010132] = 0xFFFFFFFFFFFFFFFFULL;
  Firmware.Msrs[0xC0010133] = 0x000ABCDEF0123456ULL;
  ASSERT_EQ(Boot(), EFI_SUCCESS);
  EXPECT_EQ(gImage.Init.SnpCapable, GetParam().SnpCapable);
  if (GetParam().Merged) {
    EXPECT_EQ(Firmware.Msrs[0xC0010132], 0xFFF0000000001FFFULL | gImage.Init.RmpBase);
    EXPECT_EQ(Firmware.Msrs[0xC0010133], (0x000ABCDEF0123456ULL & 0xFFF0000000001FFFULL) | gImage.Init.RmpEnd);
  } else {
    EXPECT_EQ(Firmware.Msrs[0xC0010132], 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(Firmware.Msrs[0xC0010133], 0x000ABCDEF0123456ULL);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, SnpSetUp,
                         ::testing::Values(SnpCase{0x10, 1, 1, true}, SnpCase{0x10, 0, 1, false},
                                           SnpCase{0x00, 1, 0, false}, SnpCase{0x3F, 2, 1, true}));

}  // namespace
