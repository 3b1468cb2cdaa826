// The boot event handlers: the overclocking trigger with and without MP services, ready-to-boot
// with and without SMM control, and the down-core check against the variable of the last boot.
#include "driver/BootEvents.h"
#include "driver/Heap.h"
#include "interfaces/QorvexGuids.h"
#include "tests/driver/DriverFixture.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/SmmControl2.h"
#include "uefi/StandardGuids.h"

namespace {

constexpr uint32_t kReadyToBootHook = 0x14;
// Hook 0x11 is taken by the driver's own custom P-state handler, whose first line shows it ran.
const std::string kOverclockingHandlerLine = "CcxRellTavKtxDxeCustomPstates Options";

class BootEvents : public DriverFixture {
 protected:
  BootEvents() { Firmware.NameGuid(gEfiSmmControl2ProtocolGuid, "SmmControl"); }

  std::vector<EFI_HANDLE> OcCompleteHandles() const {
    std::vector<EFI_HANDLE> Handles;
    for (const auto &[Handle, Name] : Firmware.Installed()) {
      if (Name == "OcComplete") Handles.push_back(Handle);
    }
    return Handles;
  }

  fake::FakeMpServices Mp{4};
};

TEST_F(BootEvents, OcTriggerWithMpServicesRunsTheHookAtOnceWithoutMessages) {
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
  image::gImage.BootEvents.OcCompletionWord = 0x55;
  image::CcxOcTriggerHandler(nullptr, nullptr);

  EXPECT_TRUE(Options.Hooks.empty());
  EXPECT_EQ(TestPoints(), (std::vector<uint32_t>{0xAC58, 0xACE8}));
  EXPECT_EQ(Lines(), std::vector<std::string>{kOverclockingHandlerLine});
  ASSERT_EQ(OcCompleteHandles().size(), 1u);
  EXPECT_NE(OcCompleteHandles()[0], Firmware.ImageHandle());
  void *Interface = nullptr;
  ASSERT_EQ(Firmware.Locate(&gQorvexCcxOcCompleteProtocolGuid, &Interface), EFI_SUCCESS);
  EXPECT_EQ(Interface, &image::gImage.BootEvents.OcCompletionWord);
  EXPECT_EQ(image::gImage.BootEvents.OcCompletionWord, 0u);
  EXPECT_TRUE(Firmware.Events().empty());
}

TEST_F(BootEvents, EveryTriggerInstallationAnnouncesAgainOnANewHandle) {
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
  image::CcxOcTriggerHandler(nullptr, nullptr);
  image::CcxOcTriggerHandler(nullptr, nullptr);
  EXPECT_EQ(Lines(), (std::vector<std::string>{kOverclockingHandlerLine, kOverclockingHandlerLine}));
  const std::vector<EFI_HANDLE> Handles = OcCompleteHandles();
  ASSERT_EQ(Handles.size(), 2u);
  EXPECT_NE(Handles[0], Handles[1]);
  EXPECT_FALSE(Firmware.Called("CloseEvent"));
}

TEST_F(BootEvents, OcTriggerBeforeMpServicesWaitsAndTheCallbackAnnounces) {
  image::CcxOcTriggerHandler(nullptr, nullptr);
  EXPECT_TRUE(Options.Hooks.empty());
  EXPECT_TRUE(TestPoints().empty());
  ASSERT_EQ(Firmware.Events().size(), 1u);
  const fake::Event &Wait = Firmware.Events()[0];
  EXPECT_EQ(Wait.Type, EVT_NOTIFY_SIGNAL);
  EXPECT_EQ(Wait.Tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_EQ(Wait.Notify, &image::CcxRellOcCallback);
  EXPECT_TRUE(Firmware.Called("RegisterProtocolNotify:MpServices"));
  EXPECT_EQ(image::gImage.BootEvents.MpWaitEvent, reinterpret_cast<EFI_EVENT>(1));

  // MP services arrive.
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
  Wait.Notify(image::gImage.BootEvents.MpWaitEvent, nullptr);
  EXPECT_TRUE(Options.Hooks.empty());
  EXPECT_EQ(TestPoints(), (std::vector<uint32_t>{0xAC58, 0xACE8}));
  EXPECT_EQ(Lines(), (std::vector<std::string>{"  CcxRellOcCallback Entry", kOverclockingHandlerLine,
                                               "  CcxRellOcCallback Exit"}));
  EXPECT_EQ(OcCompleteHandles().size(), 1u);
  EXPECT_FALSE(Firmware.Events()[0].Closed);
}

// The SMM side of the platform: records each software SMI.
class FakeSmmControl {
 public:
  struct Smi {
    uint8_t Command;
    bool HasData;
    BOOLEAN Periodic;
    UINTN Interval;
  };
  std::vector<Smi> Smis;
  EFI_SMM_CONTROL2_PROTOCOL *Protocol() { return &Record_.Protocol; }

 private:
  struct Record {
    EFI_SMM_CONTROL2_PROTOCOL Protocol;
    FakeSmmControl *Owner;
  };
  static EFI_STATUS EFIAPI Trigger(const EFI_SMM_CONTROL2_PROTOCOL *This, UINT8 *Command, UINT8 *Data,
                                   BOOLEAN Periodic, UINTN Interval) {
    reinterpret_cast<const Record *>(This)->Owner->Smis.push_back({*Command, Data != nullptr, Periodic, Interval});
    return EFI_SUCCESS;
  }
  Record Record_{{Trigger, nullptr, 0}, this};
};

TEST_F(BootEvents, ReadyToBootRaisesSmiEeThenClosesAndRunsTheHook) {
  FakeSmmControl Smm;
  Firmware.AddProtocol(gEfiSmmControl2ProtocolGuid, Smm.Protocol());
  const EFI_EVENT Own = reinterpret_cast<EFI_EVENT>(7);
  image::CcxReadyToBoot(Own, nullptr);

  ASSERT_EQ(Smm.Smis.size(), 1u);
  EXPECT_EQ(Smm.Smis[0].Command, 0xEE);
  EXPECT_FALSE(Smm.Smis[0].HasData);
  EXPECT_EQ(Smm.Smis[0].Periodic, FALSE);
  EXPECT_EQ(Smm.Smis[0].Interval, 0u);
  EXPECT_TRUE(Firmware.Called("CloseEvent"));
  EXPECT_EQ(Options.Hooks, std::vector<uint32_t>{kReadyToBootHook});
  EXPECT_EQ(TestPoints(), (std::vector<uint32_t>{0xAC57, 0xACE7}));
  // The name goes out without a line end, so the next line follows it directly.
  EXPECT_EQ(Uart().rfind("  CcxReadyToBootVELTA_TP:[B000AC57]\n", 0), 0u);
}

TEST_F(BootEvents, ReadyToBootWithoutSmmControlStaysArmed) {
  image::CcxReadyToBoot(reinterpret_cast<EFI_EVENT>(7), nullptr);
  EXPECT_FALSE(Firmware.Called("CloseEvent"));
  EXPECT_TRUE(Options.Hooks.empty());
  EXPECT_EQ(TestPoints(), std::vector<uint32_t>{0xAC57});
}

// A variable of the last boot, as the check finds it.
enum class Stored { Missing, Zero, One, Two, TwoBytes, Unreadable };

struct DownCoreCase {
  const char *Name;
  Stored Variable;
  bool DownCored;
  // Expected.
  std::vector<uint8_t> After;
  bool Written;
  bool Reset;
};

class DownCoreCheck : public BootEvents, public ::testing::WithParamInterface<DownCoreCase> {};

TEST_P(DownCoreCheck, KeepsTheVariableInStepAndResetsWhenCoresComeBack) {
  const DownCoreCase &Case = GetParam();
  const std::string Key = "DownCore/DownCoreStatus";
  switch (Case.Variable) {
    case Stored::Missing: break;
    case Stored::Zero: Firmware.Variables[Key] = {7, {0}}; break;
    case Stored::One: Firmware.Variables[Key] = {7, {1}}; break;
    case Stored::Two: Firmware.Variables[Key] = {7, {2}}; break;
    case Stored::TwoBytes: Firmware.Variables[Key] = {7, {1, 1}}; break;
    case Stored::Unreadable:
      Firmware.Variables[Key] = {7, {1}};
      Firmware.FailCall("GetVariable", EFI_DEVICE_ERROR);
      break;
  }
  image::HeapStartup();
  if (Case.DownCored) {
    HEAP_ALLOCATE_REQUEST Request = {1, HEAP_HANDLE_DOWN_CORE, 1, 0};
    ASSERT_EQ(image::HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  }

  image::CcxCheckDownCoreStatus();

  ASSERT_EQ(Firmware.Variables.count(Key), 1u);
  EXPECT_EQ(Firmware.Variables[Key].Data, Case.After);
  EXPECT_EQ(Firmware.Called("SetVariable"), Case.Written);
  if (Case.Written) EXPECT_EQ(Firmware.Variables[Key].Attributes, 7u);
  EXPECT_EQ(Firmware.Resets, Case.Reset ? std::vector<uint32_t>{EfiResetCold} : std::vector<uint32_t>{});
  std::vector<std::string> Expected = {"  CcxCheckDownCoreStatus Entry"};
  if (Case.Reset) Expected.push_back("  downcored -> auto, issuing cold reset");
  Expected.push_back("  CcxCheckDownCoreStatus Exit");
  EXPECT_EQ(Lines(), Expected);
}

INSTANTIATE_TEST_SUITE_P(
    EveryRow, DownCoreCheck,
    ::testing::Values(DownCoreCase{"FirstBootAuto", Stored::Missing, false, {0}, true, false},
                      DownCoreCase{"FirstBootDownCored", Stored::Missing, true, {1}, true, false},
                      DownCoreCase{"StillAuto", Stored::Zero, false, {0}, false, false},
                      DownCoreCase{"NowDownCored", Stored::Zero, true, {1}, true, false},
                      DownCoreCase{"StillDownCored", Stored::One, true, {1}, false, false},
                      DownCoreCase{"BackToAuto", Stored::One, false, {0}, true, true},
                      DownCoreCase{"AnyNonZeroBackToAuto", Stored::Two, false, {0}, true, true},
                      DownCoreCase{"LargerVariableIsRewrittenWithoutReset", Stored::TwoBytes, false, {0}, true, false},
                      DownCoreCase{"UnreadableVariableIsRewrittenWithoutReset", Stored::Unreadable, false, {0}, true,
                                   false}),
    [](const ::testing::TestParamInfo<DownCoreCase> &Info) { return std::string(Info.param.Name); });

TEST_F(BootEvents, DownCoreNotifyChecksThenClosesItsEvent) {
  const EFI_EVENT Own = reinterpret_cast<EFI_EVENT>(1);
  Firmware.Events().push_back({EVT_NOTIFY_SIGNAL, TPL_NOTIFY, image::CcxDownCoreNotify, nullptr, ""});
  image::HeapStartup();
  image::CcxDownCoreNotify(Own, nullptr);
  EXPECT_TRUE(Firmware.Events()[0].Closed);
  EXPECT_TRUE(Firmware.Called("SetVariable"));
}

}  // namespace
