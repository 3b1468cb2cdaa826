// Hook dispatch against the fake firmware: the status rules of the local handlers, the hand-over
// to the option service, the header check, and the driver's own hook table.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "options/HookTable.h"
#include "options/OptionHandlers.h"
#include "options/OptionHooks.h"
#include "tests/options/FakeOptionService.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;

namespace {

// What the two test handlers return, and the calls they saw in order ("A 0x14").
struct HandlerScript {
  UINT32 StatusA = 0;
  UINT32 StatusB = 0;
  std::vector<std::string> Calls;
} gScript;

void Note(const char *Name, UINT32 HookId, VOID *Data, VOID *Context) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "%s 0x%X%s", Name, HookId, Data == nullptr && Context == nullptr ? "" : " args");
  gScript.Calls.push_back(Text);
}
UINT32 EFIAPI HandlerA(UINT32 HookId, VOID *Data, VOID *Context) {
  Note("A", HookId, Data, Context);
  return gScript.StatusA;
}
UINT32 EFIAPI HandlerB(UINT32 HookId, VOID *Data, VOID *Context) {
  Note("B", HookId, Data, Context);
  return gScript.StatusB;
}

constexpr UINT32 kHookWithOneHandler = 0x02;
constexpr UINT32 kHookWithTwoHandlers = 0x11;
constexpr UINT32 kHookWithoutHandler = 0x14;

const KTX_HOOK_ENTRY kTestTable[] = {
    {kHookWithOneHandler, {.Handler = HandlerA}},
    {kHookWithTwoHandlers, {.Handler = HandlerA}},
    {kHookWithTwoHandlers, {.Handler = HandlerB}},
    {KTX_HOOK_TABLE_END, {.EndMark = KTX_HOOK_TABLE_END}},
};
const KTX_HOOK_HEADER kTestHeader = {KTX_HOOK_SIGNATURE, KTX_HOOK_VERSION, {}, kTestTable};

class HookDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageLoad();
    gScript = {};
    Firmware.AddProtocol(gQorvexZrbOptionHookProtocolGuid, Service.Protocol());
    // The start-up turns fatal stops on, which makes them visible on the POST-code port.
    CcxLibraryStartup(Firmware.ImageHandle(), Firmware.SystemTable());
    Firmware.PortWrites.clear();
  }

  std::vector<uint32_t> FatalStops() const {
    std::vector<uint32_t> Codes;
    for (const fake::PortWrite &Write : Firmware.PortWrites) {
      if (Write.Port == 0x80 && Write.Width == 4) Codes.push_back(Write.Value);
    }
    return Codes;
  }

  fake::FakeFirmware Firmware;
  fake::FakeOptionService Service;
};

struct DispatchCase {
  const char *Name;
  UINT32 HookId;
  UINT32 StatusA;
  UINT32 StatusB;
  EFI_STATUS ServiceStatus;
  bool ReachesService;
  UINT32 Result;
};

const DispatchCase kDispatchCases[] = {
    {"HandledLocallyGivesFour", kHookWithOneHandler, 0, 0, EFI_SUCCESS, false, 4},
    {"NotHandledFallsThroughToTheService", kHookWithOneHandler, 1, 0, EFI_SUCCESS, true, 0},
    {"NotHandledReportsTheServiceFailure", kHookWithOneHandler, 1, 0, EFI_DEVICE_ERROR, true, 4},
    {"OtherHandlerStatusIsReturned", kHookWithOneHandler, 3, 0, EFI_SUCCESS, false, 3},
    {"LastNonZeroStatusWins", kHookWithTwoHandlers, 5, 6, EFI_SUCCESS, false, 6},
    {"ZeroDoesNotReplaceAnEarlierStatus", kHookWithTwoHandlers, 5, 0, EFI_SUCCESS, false, 5},
    {"LastHandlerNotHandlingFallsThrough", kHookWithTwoHandlers, 5, 1, EFI_SUCCESS, true, 0},
    {"NoMatchGoesToTheService", kHookWithoutHandler, 0, 0, EFI_SUCCESS, true, 0},
    {"NoMatchReportsTheServiceFailure", kHookWithoutHandler, 0, 0, EFI_DEVICE_ERROR, true, 4},
    {"ServiceWarningCountsAsSuccess", kHookWithoutHandler, 0, 0, EFI_WARN_STALE_DATA, true, 0},
};

class DispatchStatus : public HookDispatch, public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchStatus, FollowsTheStatusRules) {
  const DispatchCase &Case = GetParam();
  gScript.StatusA = Case.StatusA;
  gScript.StatusB = Case.StatusB;
  Service.HookStatus = Case.ServiceStatus;
  EXPECT_EQ(KtxDispatchHook(&kTestHeader, Case.HookId), Case.Result);
  ASSERT_EQ(Service.Calls.size(), Case.ReachesService ? 1u : 0u);
  if (Case.ReachesService) {
    const fake::OptionCall &Call = Service.Calls[0];
    EXPECT_EQ(Call.HookId, Case.HookId);
    EXPECT_EQ(Call.Params, nullptr);
    EXPECT_EQ(Call.Reserved, 0u);
    EXPECT_EQ(Call.BootServices, Firmware.SystemTable()->BootServices);
    EXPECT_EQ(Call.This, Service.Protocol());
  }
  EXPECT_TRUE(FatalStops().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, DispatchStatus, ::testing::ValuesIn(kDispatchCases),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(HookDispatch, EveryMatchingHandlerRunsInTableOrderWithNullArguments) {
  gScript.StatusA = 2;
  gScript.StatusB = 0;
  KtxDispatchHook(&kTestHeader, kHookWithTwoHandlers);
  EXPECT_EQ(gScript.Calls, (std::vector<std::string>{"A 0x11", "B 0x11"}));
}

TEST_F(HookDispatch, MissingServiceFailsTheHook) {
  Firmware.RemoveProtocol(gQorvexZrbOptionHookProtocolGuid);
  EXPECT_EQ(KtxDispatchHook(&kTestHeader, kHookWithoutHandler), KTX_SERVICE_FAILURE);
  EXPECT_EQ(KtxCallOptionService(kHookWithoutHandler, nullptr), KTX_SERVICE_FAILURE);
}

TEST_F(HookDispatch, ServiceIsLocatedOnEveryCall) {
  const size_t Before = Firmware.Calls().size();
  KtxCallOptionService(0x03, nullptr);
  KtxCallOptionService(0x14, nullptr);
  const std::vector<std::string> Calls(Firmware.Calls().begin() + Before, Firmware.Calls().end());
  const std::string Locate = "LocateProtocol:" + Firmware.GuidName(&gQorvexZrbOptionHookProtocolGuid);
  EXPECT_EQ(Calls, (std::vector<std::string>{Locate, Locate}));
}

TEST_F(HookDispatch, ParametersReachTheServiceInTheRequestRecord) {
  UINT64 Parameters = 0;
  EXPECT_EQ(KtxCallOptionService(0x77, &Parameters), KTX_SUCCESS);
  ASSERT_EQ(Service.Calls.size(), 1u);
  EXPECT_EQ(Service.Calls[0].Params, &Parameters);
  EXPECT_EQ(Service.Calls[0].HookId, 0x77u);
}

// A header whose signature or version is wrong: the stop, then straight to the option service
// without touching the table.
class BadHeader : public HookDispatch, public ::testing::WithParamInterface<std::pair<UINT32, UINT32>> {};

TEST_P(BadHeader, StopsAndPassesTheHookToTheService) {
  const KTX_HOOK_HEADER Header = {GetParam().first, GetParam().second, {}, kTestTable};
  EXPECT_EQ(KtxDispatchHook(&Header, kHookWithOneHandler), KTX_SUCCESS);
  EXPECT_TRUE(gScript.Calls.empty());
  ASSERT_EQ(Service.Calls.size(), 1u);
  EXPECT_EQ(Service.Calls[0].HookId, kHookWithOneHandler);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x20910056});
}

INSTANTIATE_TEST_SUITE_P(Fields, BadHeader,
                         ::testing::Values(std::pair<UINT32, UINT32>{0x58544B25, 1},
                                           std::pair<UINT32, UINT32>{KTX_HOOK_SIGNATURE, 2},
                                           std::pair<UINT32, UINT32>{0, 0}));

TEST(HookTable, HeaderIsDollarKtxVersionOneWithTheTwoLocalHandlers) {
  const auto *Bytes = reinterpret_cast<const uint8_t *>(&gKtxHookHeader);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 8), (std::vector<uint8_t>{0x24, 0x4B, 0x54, 0x58, 1, 0, 0, 0}));
  EXPECT_EQ(std::vector<uint8_t>(Bytes + 8, Bytes + 32), std::vector<uint8_t>(24, 0));
  const KTX_HOOK_ENTRY *Table = gKtxHookHeader.Table;
  EXPECT_EQ(Table[0].HookId, KTX_HOOK_END_OF_INIT);
  EXPECT_EQ(Table[0].Slot.Handler, &CcxKtxTokensFromOptions);
  EXPECT_EQ(Table[1].HookId, KTX_HOOK_OVERCLOCKING);
  EXPECT_EQ(Table[1].Slot.Handler, &CcxRellTavKtxDxeCustomPstates);
  EXPECT_EQ(Table[2].HookId, 0xFFFFFFFFu);
  EXPECT_EQ(Table[2].Slot.EndMark, 0xFFFFFFFFu);
}

// The hooks the driver raises that no local handler takes reach the option service exactly once;
// hooks 0x02 and 0x11 stay with their local handlers.
class DriverHook : public HookDispatch, public ::testing::WithParamInterface<UINT32> {};

TEST_P(DriverHook, ReachesTheOptionServiceOnce) {
  EXPECT_EQ(KtxHookFunc(GetParam(), nullptr), KTX_SUCCESS);
  ASSERT_EQ(Service.Calls.size(), 1u);
  EXPECT_EQ(Service.Calls[0].HookId, GetParam());
  EXPECT_EQ(Service.Calls[0].Params, nullptr);
}

INSTANTIATE_TEST_SUITE_P(RaisedHooks, DriverHook,
                         ::testing::Values(KTX_HOOK_PER_CORE_INIT, KTX_HOOK_READY_TO_BOOT));

}  // namespace
