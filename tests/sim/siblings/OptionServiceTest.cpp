// The simulated option service: the NV table it builds from the machine's option values, its
// answers to the size and copy requests, the calls it records, and the machine keys that set it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/OptionService.h"

namespace sim {
namespace {

TEST(OptionNvTable, PacksEveryValueSizeBehindTheHeaderAndEndsWithTheEndMark) {
  const std::vector<uint8_t> Table =
      BuildOptionNvTable({{0xD018, 1, 0xA5}, {0x1234, 2, 0xBEEF}, {0x0102, 4, 0x11223344},
                          {0xFFFE, 8, 0x8877665544332211}});
  std::vector<uint8_t> Expected = {0x24, 0x4B, 0x4E, 0x56};
  Expected.resize(32, 0);
  const std::vector<uint8_t> Entries = {0x18, 0xD0, 0x00, 0xA5,                                      //
                                        0x34, 0x12, 0x01, 0xEF, 0xBE,                                //
                                        0x02, 0x01, 0x02, 0x44, 0x33, 0x22, 0x11,                    //
                                        0xFE, 0xFF, 0x03, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,  //
                                        0xFF, 0xFF, 0x00, 0x00};
  Expected.insert(Expected.end(), Entries.begin(), Entries.end());
  EXPECT_EQ(Table, Expected);
}

class OptionServiceCalls : public ::testing::Test {
 protected:
  explicit OptionServiceCalls(OptionServiceSettings Settings = {{{0xD018, 1, 7}}, {}, 0},
                              std::vector<InjectedFault> Injected = {})
      : Faults(std::move(Injected)), Service(Settings, Faults) {}

  EFI_STATUS Call(UINT32 HookId, void *Params) {
    ZRB_OPTION_HOOK_REQUEST Request = {0, Params};
    QORVEX_ZRB_OPTION_HOOK_PROTOCOL *Protocol = Service.Protocol();
    return Protocol->ZrbOptionHook(nullptr, &Request, HookId, Protocol);
  }
  EFI_STATUS AskSize(UINT32 &Size) {
    ZRB_NV_TABLE_REQUEST Fetch = {nullptr, &Size};
    return Call(ZRB_HOOK_FETCH_NV_TABLE, &Fetch);
  }
  EFI_STATUS Copy(std::vector<uint8_t> &Buffer, UINT32 &Size) {
    ZRB_NV_TABLE_REQUEST Fetch = {Buffer.data(), &Size};
    return Call(ZRB_HOOK_FETCH_NV_TABLE, &Fetch);
  }

  FaultInjector Faults;
  OptionService Service;
};

TEST_F(OptionServiceCalls, ServesTheTableInTwoRequestsAndRecordsEveryCall) {
  EXPECT_EQ(Call(0x03, nullptr), EFI_SUCCESS);
  UINT32 Size = 0;
  ASSERT_EQ(AskSize(Size), EFI_SUCCESS);
  EXPECT_EQ(Size, Service.Table().size());
  std::vector<uint8_t> Buffer(Size + 8, 0);
  ASSERT_EQ(Copy(Buffer, Size), EFI_SUCCESS);
  EXPECT_EQ(std::vector<uint8_t>(Buffer.begin(), Buffer.begin() + Size), Service.Table());
  EXPECT_EQ(std::vector<uint8_t>(Buffer.begin() + Size, Buffer.end()), std::vector<uint8_t>(8, 0));
  EXPECT_EQ(Call(0x14, nullptr), EFI_SUCCESS);
  const std::vector<OptionHookCall> Expected = {{OptionHookCall::Hook, 0x03, EFI_SUCCESS},
                                                {OptionHookCall::TableSize, 0xFFFFFFFE, EFI_SUCCESS},
                                                {OptionHookCall::TableCopy, 0xFFFFFFFE, EFI_SUCCESS},
                                                {OptionHookCall::Hook, 0x14, EFI_SUCCESS}};
  EXPECT_EQ(Service.Calls(), Expected);
}

TEST_F(OptionServiceCalls, BufferSmallerThanTheTableGetsOnlyTheSize) {
  std::vector<uint8_t> Buffer(64, 0x11);
  UINT32 Size = 4;
  EXPECT_EQ(Copy(Buffer, Size), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(Size, Service.Table().size());
  EXPECT_EQ(Buffer, std::vector<uint8_t>(64, 0x11));
}

TEST_F(OptionServiceCalls, MalformedRequestsAreRefused) {
  EXPECT_EQ(Call(ZRB_HOOK_FETCH_NV_TABLE, nullptr), EFI_INVALID_PARAMETER);
  ZRB_NV_TABLE_REQUEST NoSize = {nullptr, nullptr};
  EXPECT_EQ(Call(ZRB_HOOK_FETCH_NV_TABLE, &NoSize), EFI_INVALID_PARAMETER);
  UINT64 Unexpected = 0;
  EXPECT_EQ(Call(0x02, &Unexpected), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Service.Calls().size(), 3u);
}

class OverrunningService : public OptionServiceCalls {
 protected:
  OverrunningService() : OptionServiceCalls({{{0xD018, 1, 7}}, {}, 6}) {}
};

TEST_F(OverrunningService, WritesPastTheSizeItReports) {
  UINT32 Size = 0;
  AskSize(Size);
  std::vector<uint8_t> Buffer(Size + 8, 0);
  ASSERT_EQ(Copy(Buffer, Size), EFI_SUCCESS);
  EXPECT_EQ(Size, Service.Table().size());
  EXPECT_EQ(std::vector<uint8_t>(Buffer.begin() + Size, Buffer.end()),
            (std::vector<uint8_t>{0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0, 0}));
}

class ShrinkingService : public OptionServiceCalls {
 protected:
  ShrinkingService() : OptionServiceCalls({{{0xD018, 1, 7}}, {}, 0, 20}) {}
};

TEST_F(ShrinkingService, CopiesTheWholeTableAndReportsTheSizeItWasGiven) {
  UINT32 Size = 0;
  AskSize(Size);
  EXPECT_EQ(Size, Service.Table().size());
  std::vector<uint8_t> Buffer(Size, 0);
  ASSERT_EQ(Copy(Buffer, Size), EFI_SUCCESS);
  EXPECT_EQ(Size, 20u);
  EXPECT_EQ(Buffer, Service.Table());
}

// Standing failures from the machine's "fail" list, and one-call failures from the fault injector.
struct FailureCase {
  const char *Name;
  std::vector<std::string> Fail;
  std::vector<InjectedFault> Injected;
  // Statuses of: hook 0x02, size request, copy request, hook 0x14.
  std::vector<EFI_STATUS> Statuses;
};

class FailingService : public ::testing::TestWithParam<FailureCase> {};

TEST_P(FailingService, FailsExactlyTheRequestsItWasToldTo) {
  FaultInjector Faults(GetParam().Injected);
  OptionService Service({{{0xD018, 1, 7}}, GetParam().Fail, 0}, Faults);
  QORVEX_ZRB_OPTION_HOOK_PROTOCOL *Protocol = Service.Protocol();
  auto Call = [&](UINT32 HookId, void *Params) {
    ZRB_OPTION_HOOK_REQUEST Request = {0, Params};
    return Protocol->ZrbOptionHook(nullptr, &Request, HookId, Protocol);
  };
  UINT32 Size = 0;
  ZRB_NV_TABLE_REQUEST SizeQuery = {nullptr, &Size};
  std::vector<uint8_t> Buffer(128, 0);
  UINT32 Room = 128;
  ZRB_NV_TABLE_REQUEST CopyRequest = {Buffer.data(), &Room};
  const std::vector<EFI_STATUS> Seen = {Call(0x02, nullptr), Call(ZRB_HOOK_FETCH_NV_TABLE, &SizeQuery),
                                        Call(ZRB_HOOK_FETCH_NV_TABLE, &CopyRequest), Call(0x14, nullptr)};
  EXPECT_EQ(Seen, GetParam().Statuses);
  std::vector<EFI_STATUS> Recorded;
  for (const OptionHookCall &Entry : Service.Calls()) Recorded.push_back(Entry.Status);
  EXPECT_EQ(Recorded, GetParam().Statuses);
}

constexpr EFI_STATUS kFailed = EFI_DEVICE_ERROR;
constexpr EFI_STATUS kInjected = 0x8000000000000015ULL;

INSTANTIATE_TEST_SUITE_P(
    Cases, FailingService,
    ::testing::Values(
        FailureCase{"Nothing", {}, {}, {EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS}},
        FailureCase{"Hooks", {"hooks"}, {}, {kFailed, EFI_SUCCESS, EFI_SUCCESS, kFailed}},
        FailureCase{"Size", {"size"}, {}, {EFI_SUCCESS, kFailed, EFI_SUCCESS, EFI_SUCCESS}},
        FailureCase{"Copy", {"copy"}, {}, {EFI_SUCCESS, EFI_SUCCESS, kFailed, EFI_SUCCESS}},
        FailureCase{"SecondHookOnce", {}, {{"option_hook", "RunHook", 2, kInjected}},
                    {EFI_SUCCESS, EFI_SUCCESS, EFI_SUCCESS, kInjected}},
        FailureCase{"CopyOnce", {}, {{"option_hook", "CopyTable", 1, kInjected}},
                    {EFI_SUCCESS, EFI_SUCCESS, kInjected, EFI_SUCCESS}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// The machine keys of the option service.
std::string MachineWith(const std::string &Options) {
  return R"({"name": "m", "topology": {"sockets": 1, "dies_per_socket": 1, "complex_dies_per_die": 1,
  "complexes_per_complex_die": 1, "cores_per_complex": 1, "threads_per_core": 1},
  "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]},
  "msrs": {"0xC0010058": "0x000003FB00000021"}, "options": )" +
         Options + "}";
}

TEST(OptionMachineKeys, ReadValuesInOrderWithTheirSizes) {
  const Machine Loaded = ParseMachine(MachineWith(R"({"values": [{"id": "0xD018", "size": 1, "value": 255},
      {"id": 7, "size": 8, "value": "0xFFFFFFFFFFFFFFFF"}], "fail": ["copy", "hooks"], "overrun": 104,
      "size_after_copy": "0x20"})"),
                                      "m.json");
  ASSERT_EQ(Loaded.Options.Values.size(), 2u);
  EXPECT_EQ(Loaded.Options.Values[0].Id, 0xD018);
  EXPECT_EQ(Loaded.Options.Values[0].Size, 1u);
  EXPECT_EQ(Loaded.Options.Values[0].Value, 255u);
  EXPECT_EQ(Loaded.Options.Values[1].Id, 7);
  EXPECT_EQ(Loaded.Options.Values[1].Value, ~0ULL);
  EXPECT_EQ(Loaded.Options.Fail, (std::vector<std::string>{"copy", "hooks"}));
  EXPECT_EQ(Loaded.Options.Overrun, 104u);
  EXPECT_EQ(Loaded.Options.SizeAfterCopy, 0x20u);
  EXPECT_FALSE(ParseMachine(MachineWith(R"({"values": []})"), "m.json").Options.SizeAfterCopy.has_value());
}

TEST(OptionMachineKeys, OptionServiceIsAKnownSiblingThatCanBeAbsent) {
  const Machine Loaded = ParseMachine(
      MachineWith(R"({"values": []}, "siblings": {"option_hook": "absent"})"), "m.json");
  EXPECT_FALSE(Loaded.SiblingExists("option_hook"));
  EXPECT_TRUE(DefaultMachine().SiblingAtStart("option_hook"));
}

struct BadKey {
  const char *Name;
  const char *Options;
  const char *Error;
};

class BadOptionKey : public ::testing::TestWithParam<BadKey> {};

TEST_P(BadOptionKey, IsRefusedWithItsPath) {
  try {
    ParseMachine(MachineWith(GetParam().Options), "m.json");
    FAIL() << "accepted " << GetParam().Options;
  } catch (const MachineError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Error), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BadOptionKey,
    ::testing::Values(
        BadKey{"SizeOfThree", R"({"values": [{"id": 1, "size": 3, "value": 0}]})",
               "m.json: options.values[0].size: an option value is 1, 2, 4 or 8 bytes"},
        BadKey{"ValueTooWideForItsSize", R"({"values": [{"id": 1, "size": 2, "value": 65536}]})",
               "options.values[0].value"},
        BadKey{"EndMarkAsOption", R"({"values": [{"id": "0xFFFF", "size": 1, "value": 0}]})", "options.values[0].id"},
        BadKey{"MissingSize", R"({"values": [{"id": 1, "value": 0}]})", "options.values[0]"},
        BadKey{"UnknownValueKey", R"({"values": [{"id": 1, "size": 1, "value": 0, "width": 1}]})",
               "options.values[0]"},
        BadKey{"UnknownFailure", R"({"fail": ["everything"]})",
               "options.fail[0]: expected \"size\", \"copy\" or \"hooks\""},
        BadKey{"FailureListedTwice", R"({"fail": ["size", "size"]})", "options.fail[1]: \"size\" is listed twice"},
        BadKey{"OverrunPastTheSlack", R"({"overrun": 105})", "options.overrun"},
        BadKey{"SizeAfterCopyBeyond32Bits", R"({"size_after_copy": "0x100000000"})",
               "m.json: options.size_after_copy: expected an unsigned number from 0 to 4294967295"},
        BadKey{"SizeAfterCopyNegative", R"({"size_after_copy": -1})", "options.size_after_copy"},
        BadKey{"UnknownKey", R"({"table": []})", "options"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
