// The option service in whole boots: the hooks the driver raises reach it and show in the report,
// and GetKtxNvValue serves the machine's option values to the driver, on a sound service and on
// one that is absent, fails, or writes past its table.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "driver/ImageDescriptor.h"
#include "options/OptionHooks.h"
#include "sim/platform/BootRunner.h"
#include "tools/Report.h"

// The header declares the lookup in the delivered image's namespace; the image built with debug
// output has the same function in its own.
namespace CcxImageDebug {
UINT32 GetKtxNvValue(UINT16 OptionId, UINT64 *Value);
}

namespace sim {
namespace {

// The option values of every size that the test machines serve.
const std::vector<OptionValue> kValues = {
    {0xD018, 1, 0x5A}, {0x1234, 2, 0xBEEF}, {0x0200, 4, 0xDEADBEEF}, {0x0300, 8, 0x0123456789ABCDEFULL}};

Machine WithOptions(OptionServiceSettings Settings) {
  Machine Description = DefaultMachine();
  Description.Options = std::move(Settings);
  return Description;
}

size_t Count(const BootRecord &Boot, OptionHookCall::Kind Request, uint32_t HookId) {
  return std::count_if(Boot.OptionHooks.begin(), Boot.OptionHooks.end(), [&](const OptionHookCall &Call) {
    return Call.Request == Request && Call.HookId == HookId;
  });
}

TEST(OptionBoot, PerCoreHookReachesTheServiceAndTheReport) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  ASSERT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  // Hook 0x03 has no local handler, so the service takes it; hook 0x02 stays with its handler.
  EXPECT_EQ(Count(Boot, OptionHookCall::Hook, 0x03), 1u);
  EXPECT_EQ(Count(Boot, OptionHookCall::Hook, 0x02), 0u);
  for (const OptionHookCall &Call : Boot.OptionHooks) EXPECT_EQ(Call.Status, EFI_SUCCESS);
  // Ready to boot comes after the per-core initialization.
  const auto EndOfInit = std::find_if(Boot.OptionHooks.begin(), Boot.OptionHooks.end(),
                                      [](const OptionHookCall &Call) { return Call.HookId == 0x03; });
  const auto ReadyToBoot = std::find_if(Boot.OptionHooks.begin(), Boot.OptionHooks.end(),
                                        [](const OptionHookCall &Call) { return Call.HookId == 0x14; });
  EXPECT_TRUE(ReadyToBoot == Boot.OptionHooks.end() || EndOfInit < ReadyToBoot);

  std::ostringstream Report;
  ccxsim::PrintBoot(Report, Boot, 1, 1);
  const std::string Text = Report.str();
  const size_t Section = Text.find("\noption hooks received (" + std::to_string(Boot.OptionHooks.size()) + "):\n");
  ASSERT_NE(Section, std::string::npos) << Text;
  EXPECT_NE(Text.find("  0x00000003 per-core initialization with MP services  hook -> EFI_SUCCESS\n", Section),
            std::string::npos)
      << Text;
  EXPECT_EQ(ccxsim::BootJson(Boot)["option_hooks"].size(), Boot.OptionHooks.size());
}

TEST(OptionBoot, DriverReadsTheMachinesOptionValuesFromOneFetch) {
  BootOptions Options;
  std::vector<std::pair<UINT32, UINT64>> Seen;
  Options.AfterBoot = [&Seen](Platform &) {
    for (const OptionValue &Option : kValues) {
      UINT64 Value = 0;
      const UINT32 Result = CcxImage::GetKtxNvValue(Option.Id, &Value);
      Seen.emplace_back(Result, Value);
    }
    UINT64 Value = 0;
    Seen.emplace_back(CcxImage::GetKtxNvValue(0x0999, &Value), 0);
  };
  const BootRecord Boot = RunBoot(WithOptions({kValues, {}, 0}), CcxImageDescriptor, Options);
  ASSERT_EQ(Seen.size(), kValues.size() + 1);
  for (size_t Index = 0; Index < kValues.size(); Index++) {
    EXPECT_EQ(Seen[Index], (std::pair<UINT32, UINT64>{0, kValues[Index].Value})) << Index;
  }
  EXPECT_EQ(Seen.back().first, 1u);
  EXPECT_EQ(Count(Boot, OptionHookCall::TableSize, 0xFFFFFFFE), 1u);
  EXPECT_EQ(Count(Boot, OptionHookCall::TableCopy, 0xFFFFFFFE), 1u);
  EXPECT_TRUE(Boot.FatalStops.empty());
}

TEST(OptionBoot, MissingServiceLeavesTheBootWhole) {
  Machine Description = WithOptions({kValues, {}, 0});
  Description.Siblings["option_hook"].When = SiblingArrival::Absent;
  UINT32 Result = 0;
  BootOptions Options;
  Options.AfterBoot = [&Result](Platform &) {
    UINT64 Value = 0;
    Result = CcxImage::GetKtxNvValue(0xD018, &Value);
  };
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  EXPECT_TRUE(Boot.OptionHooks.empty());
  EXPECT_EQ(Result, 7u);
}

TEST(OptionBoot, FailingHooksAreRecordedWithTheirStatus) {
  const BootRecord Boot = RunBoot(WithOptions({kValues, {"hooks"}, 0}), CcxImageDescriptor, {});
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS) << "no caller looks at a hook's result";
  ASSERT_NE(Count(Boot, OptionHookCall::Hook, 0x03), 0u);
  // Only hooks fail; the table fetch of hook 0x02's handler is another request.
  for (const OptionHookCall &Call : Boot.OptionHooks) {
    if (Call.Request == OptionHookCall::Hook) EXPECT_EQ(Call.Status, EFI_DEVICE_ERROR);
  }
}

// A service that overruns its table by the whole slack trips the guard on the fetch, which hook
// 0x02's handler makes during the boot; the kept buffer then answers later lookups without a
// second fetch. The debug image shows the messages.
TEST(OptionBoot, OverrunIsReportedOnceAndTheTableIsKept) {
  std::vector<std::pair<UINT32, UINT64>> Seen;
  BootOptions Options;
  Options.AfterBoot = [&Seen](Platform &) {
    for (int Lookup = 0; Lookup < 2; Lookup++) {
      UINT64 Value = 0;
      const UINT32 Result = CcxImageDebug::GetKtxNvValue(0x1234, &Value);
      Seen.emplace_back(Result, Value);
    }
  };
  const BootRecord Boot = RunBoot(WithOptions({kValues, {}, 104}), CcxImageDebugDescriptor, Options);
  ASSERT_EQ(Seen.size(), 2u);
  EXPECT_EQ(Seen[0], (std::pair<UINT32, UINT64>{0, 0xBEEF}));
  EXPECT_EQ(Seen[1], (std::pair<UINT32, UINT64>{0, 0xBEEF}));
  EXPECT_EQ(Boot.FatalStops, std::vector<uint32_t>{0x20910176});
  EXPECT_EQ(Count(Boot, OptionHookCall::TableCopy, 0xFFFFFFFE), 1u);
  // 32 header bytes, entries of 4, 5, 7 and 11 bytes, and the 4-byte end mark.
  const size_t Size = Boot.Uart3F8.find("\nGet KtxNV table size 0x3F\r");
  ASSERT_NE(Size, std::string::npos) << Boot.Uart3F8;
  EXPECT_NE(Boot.Uart3F8.find("\nZRB data exceed the boundary\r", Size), std::string::npos) << Boot.Uart3F8;
}

// A service that reports a smaller table once it has copied it has written nothing past its room:
// the boot keeps every option, and hook 0x02 copies option 0xD018 into its token.
TEST(OptionBoot, SmallerSizeAfterTheCopyKeepsEveryOption) {
  OptionServiceSettings Settings{kValues, {}, 0};
  Settings.SizeAfterCopy = 40;
  std::vector<std::pair<UINT32, UINT64>> Seen;
  BootOptions Options;
  Options.AfterBoot = [&Seen](Platform &) {
    for (const OptionValue &Option : kValues) {
      UINT64 Value = 0;
      const UINT32 Result = CcxImage::GetKtxNvValue(Option.Id, &Value);
      Seen.emplace_back(Result, Value);
    }
  };
  const BootRecord Boot = RunBoot(WithOptions(Settings), CcxImageDescriptor, Options);
  ASSERT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  EXPECT_TRUE(Boot.FatalStops.empty());
  ASSERT_EQ(Seen.size(), kValues.size());
  for (size_t Index = 0; Index < kValues.size(); Index++) {
    EXPECT_EQ(Seen[Index], (std::pair<UINT32, UINT64>{0, kValues[Index].Value})) << Index;
  }
  const auto &Tokens = Boot.S3Tokens.TokensAfter.Table8.Tokens;
  EXPECT_NE(std::find(Tokens.begin(), Tokens.end(), std::pair<uint32_t, uint16_t>{0x0AE23766, 0x5A}), Tokens.end());
  EXPECT_EQ(Count(Boot, OptionHookCall::TableCopy, 0xFFFFFFFE), 1u);
}

TEST(OptionBoot, InjectedCopyFailureFailsTheFetch) {
  Machine Description = WithOptions({kValues, {}, 0});
  Description.Faults.push_back({"option_hook", "CopyTable", 1, 0x8000000000000007ULL});
  UINT32 Result = 0;
  BootOptions Options;
  Options.AfterBoot = [&Result](Platform &) {
    UINT64 Value = 0;
    Result = CcxImage::GetKtxNvValue(0xD018, &Value);
  };
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  // Hook 0x02's handler makes the fetch during the boot, and it fails there, once.
  ASSERT_FALSE(Boot.FatalStops.empty());
  EXPECT_EQ(Boot.FatalStops.front(), 0x20910168u);
  EXPECT_EQ(Count(Boot, OptionHookCall::TableCopy, 0xFFFFFFFE), 1u);
  EXPECT_NE(Result, 0u);
}

}  // namespace
}  // namespace sim
