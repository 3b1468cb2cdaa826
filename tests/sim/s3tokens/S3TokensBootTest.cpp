// Whole boots with the configuration tokens, the custom P-state 0 and the S3 save table: what the
// token store, the SMU, every processor and the SMM side show afterwards, with a second driver of
// the boot running the S3 library first, with other drivers' entries, and with the faults the
// driver must not pass on (a table it can't end safely, a missing buffer or protocol).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "driver/ImageDescriptor.h"
#include "sim/machine/JsonFields.h"
#include "sim/platform/BootRunner.h"
#include "sim/siblings/TokenStoreOwner.h"

namespace sim {
namespace {

using TokenList = std::vector<std::pair<uint32_t, uint16_t>>;

constexpr uint64_t kRecordItem = 706;
constexpr uint64_t kTableItem = 707;
constexpr uint64_t kResetPstate0 = 0x8000000005120890ULL;

Machine OverclockMachine() { return LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/overclock.json"); }

bool HasFatalStop(const BootRecord &Boot, uint32_t Code) {
  return std::find(Boot.FatalStops.begin(), Boot.FatalStops.end(), Code) != Boot.FatalStops.end();
}

size_t PcdWritesOf(const BootRecord &Boot, uint64_t Token) {
  return std::count_if(Boot.PcdWrites.begin(), Boot.PcdWrites.end(),
                       [&](const auto &Write) { return Write.first == Token; });
}

TEST(S3TokensBoot, DefaultBootWritesTheTokensOfHook02) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  const TokenStoreView &After = Boot.S3Tokens.TokensAfter;
  ASSERT_TRUE(After.Present);
  ASSERT_TRUE(After.Table8.Initialized);
  // Four options, then the 24 eight-bit configuration items.
  ASSERT_EQ(After.Table8.Tokens.size(), 28u);
  EXPECT_EQ(TokenList(After.Table8.Tokens.begin(), After.Table8.Tokens.begin() + 4),
            (TokenList{{0x0AE23766, 2}, {0xCCD6584C, 1}, {0x3BED107B, 1}, {0xA0A9E098, 0}}));
  // PcdCcxSnpMode is 2 and PcdCcxHeapA02BValue TRUE on the default machine.
  EXPECT_NE(
      std::find(After.Table8.Tokens.begin(), After.Table8.Tokens.end(), std::pair<uint32_t, uint16_t>{0x4C8E4576, 2}),
      After.Table8.Tokens.end());
  EXPECT_NE(
      std::find(After.Table8.Tokens.begin(), After.Table8.Tokens.end(), std::pair<uint32_t, uint16_t>{0xBAAA911F, 1}),
      After.Table8.Tokens.end());
  EXPECT_EQ(After.Table16.Tokens, (TokenList{{0x5A9DD6C9, 0}}));
  EXPECT_TRUE(Boot.S3Tokens.TokensBefore.Table8.Tokens.empty());
}

TEST(S3TokensBoot, DefaultBootHandsAnEmptyListToSmm) {
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  EXPECT_TRUE(Boot.FatalStops.empty());
  ASSERT_EQ(Boot.S3Tokens.S3Handoffs.size(), 1u);
  const S3HandoffView &View = Boot.S3Tokens.S3Handoffs[0];
  EXPECT_EQ(View.MessageLength, 16u);
  EXPECT_EQ(View.Command, 1u);
  EXPECT_EQ(View.RecordAddress, Boot.S3Tokens.S3RecordAddress);
  EXPECT_EQ(View.TableAddress, Boot.S3Tokens.S3TableAddress);
  // Ready-to-lock came before ready-to-boot; the record is closed only once SMM has the table.
  EXPECT_EQ(View.Locked, 1);
  EXPECT_EQ(View.Closed, 0);
  EXPECT_EQ(View.TableSize, 0x4000u);
  EXPECT_EQ(View.NextOffset, 48u);
  EXPECT_TRUE(View.Entries.empty());
  EXPECT_TRUE(View.EndMarkFound);
  EXPECT_EQ(View.EndMarkOffset, 48u);
  EXPECT_EQ(View.Problem, "");
  EXPECT_TRUE(Boot.S3Tokens.S3RecordRead);
  EXPECT_EQ(Boot.S3Tokens.S3Closed, 1);
  // Neither the SMU nor any core was asked for a custom P-state.
  EXPECT_TRUE(Boot.S3Tokens.SmuMessages.empty());
  ASSERT_EQ(Boot.S3Tokens.Pstate0.size(), 1u);
  EXPECT_EQ(Boot.S3Tokens.Pstate0[0].Value, kResetPstate0);
}

TEST(S3TokensBoot, OverclockingMachineChangesPstate0OnEveryProcessor) {
  const BootRecord Boot = RunBoot(OverclockMachine(), CcxImageDescriptor, {});
  // 4800 MHz: FID 0xC0 with divisor 8; VID 0x1A0: 0xA0 in bits 21:14 and bit 32 set.
  const uint64_t Expected =
      (kResetPstate0 & ~(0x3FFFULL | 0xFFULL << 14 | 1ULL << 32)) | 0xC0 | 8ULL << 8 | 0xA0ULL << 14 | 1ULL << 32;
  ASSERT_EQ(Boot.S3Tokens.Pstate0.size(), 1u);
  EXPECT_EQ(Boot.S3Tokens.Pstate0[0].Value, Expected);
  EXPECT_EQ(Boot.S3Tokens.Pstate0[0].Processors.size(), Boot.ProcessorCount);
  std::vector<std::pair<uint32_t, uint32_t>> Messages;
  for (const SmuCall &Call : Boot.S3Tokens.SmuMessages) Messages.emplace_back(Call.Address, Call.Value);
  EXPECT_EQ(Messages, (std::vector<std::pair<uint32_t, uint32_t>>{{0x5A, 0}, {0x5B, 0x1A0}, {0x5C, 4800}}));
}

TEST(S3TokensBoot, TokensAlreadyInTheStoreAreUpdatedInPlace) {
  const BootRecord Boot = RunBoot(OverclockMachine(), CcxImageDescriptor, {});
  const TokenStoreView &After = Boot.S3Tokens.TokensAfter;
  ASSERT_GE(After.Table8.Tokens.size(), 2u);
  // PcdCcxOcMode (1) reaches the token that held 0; option 0xD018 (2) leaves its token at 2.
  EXPECT_EQ(After.Table8.Tokens[0], (std::pair<uint32_t, uint16_t>{0x8043E855, 1}));
  EXPECT_EQ(After.Table8.Tokens[1], (std::pair<uint32_t, uint16_t>{0x0AE23766, 2}));
  EXPECT_EQ(After.Table8.Tokens.size(), 2u + 3u + 23u);
  EXPECT_EQ(After.Table16.Tokens, (TokenList{{0x5A9DD6C9, 0x1234}}));
}

TEST(S3TokensBoot, OtherDriversEntriesReachSmmEndedByTheMark) {
  const BootRecord Boot = RunBoot(OverclockMachine(), CcxImageDescriptor, {});
  ASSERT_EQ(Boot.S3Tokens.S3Handoffs.size(), 1u);
  const S3HandoffView &View = Boot.S3Tokens.S3Handoffs[0];
  ASSERT_EQ(View.Entries.size(), 2u);
  EXPECT_EQ(View.Entries[0].Offset, 48u);
  EXPECT_EQ(View.Entries[0].Kind, 1u);
  EXPECT_EQ(View.Entries[0].Length, 16u);
  EXPECT_EQ(View.Entries[1].Offset, 64u);
  EXPECT_EQ(View.Entries[1].Kind, 2u);
  EXPECT_EQ(View.NextOffset, 72u);
  EXPECT_TRUE(View.EndMarkFound);
  EXPECT_EQ(View.EndMarkOffset, 72u);
}

TEST(S3TokensBoot, SecondDriverOfTheBootJoinsTheRecordTheFirstCreated) {
  BootOptions Options;
  Options.PeerBefore = &CcxPeerImageDescriptor;
  const BootRecord Boot = RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  EXPECT_EQ(PcdWritesOf(Boot, kRecordItem), 1u);
  EXPECT_EQ(PcdWritesOf(Boot, kTableItem), 1u);
  size_t LibraryEvents = 0;
  for (const ArmedEvent &Event : Boot.Armed) LibraryEvents += Event.Tpl == 8;
  // Both of the library's events fired and closed in the driver that created them.
  EXPECT_EQ(LibraryEvents, 0u);
  ASSERT_EQ(Boot.S3Tokens.S3Handoffs.size(), 1u);
  EXPECT_TRUE(Boot.S3Tokens.S3Handoffs[0].EndMarkFound);
  EXPECT_TRUE(Boot.FatalStops.empty());
}

struct FaultCase {
  const char *Name;
  std::function<void(Machine &)> Arrange;
  uint32_t FatalStop;
};

class S3HandOffFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(S3HandOffFault, NothingReachesSmm) {
  Machine Description = DefaultMachine();
  GetParam().Arrange(Description);
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_EQ(Boot.End.How, BootEnd::Returned);
  EXPECT_TRUE(HasFatalStop(Boot, GetParam().FatalStop));
  EXPECT_TRUE(Boot.S3Tokens.S3Handoffs.empty());
  EXPECT_EQ(Boot.S3Tokens.S3Closed, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, S3HandOffFault,
    ::testing::Values(
        FaultCase{"NextOffsetWhereTheEndMarkWouldLeaveTheBlock", [](Machine &M) { M.S3.NextOffset = 0x4000 + 3; },
                  0xA0640},
        FaultCase{"NextOffsetFarPastTheTable", [](Machine &M) { M.S3.NextOffset = 0x10000000; }, 0xA0640},
        FaultCase{"NoCommunicationBuffer", [](Machine &M) { M.S3.CommBuffer = false; }, 0xA0752},
        FaultCase{"NoSmmCommunication",
                  [](Machine &M) { M.Siblings["smm_communication"].When = SiblingArrival::Absent; }, 0xA0766}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(S3TokensBoot, MachineWithoutTokenStoreStillBoots) {
  Machine Description = DefaultMachine();
  Description.TokenStore.Present = false;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_EQ(Boot.End.How, BootEnd::Returned);
  EXPECT_FALSE(Boot.S3Tokens.TokensAfter.Present);
}

TEST(S3TokensBoot, SixteenBitTableNeverSetUpStaysSoWhileEightBitTokensAreWritten) {
  Machine Description = DefaultMachine();
  Description.TokenStore.Table16.Present = false;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_EQ(Boot.S3Tokens.TokensAfter.Table16.Offset, 0u);
  EXPECT_EQ(Boot.S3Tokens.TokensAfter.Table8.Tokens.size(), 28u);
}

TEST(S3TokensBoot, MissingOcMessageTableLeavesEveryPstate0Alone) {
  Machine Description = OverclockMachine();
  Description.Soc.OcMessages.Present = false;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  EXPECT_TRUE(HasFatalStop(Boot, 0x308E0128));
  EXPECT_TRUE(Boot.S3Tokens.SmuMessages.empty());
  ASSERT_EQ(Boot.S3Tokens.Pstate0.size(), 1u);
  EXPECT_EQ(Boot.S3Tokens.Pstate0[0].Value, kResetPstate0);
}

// The machine keys of this part are read strictly, with the field named in the error.
struct BadKeyCase {
  const char *Name;
  const char *Json;
  const char *Expected;
};

class S3TokensMachineKeys : public ::testing::TestWithParam<BadKeyCase> {};

TEST_P(S3TokensMachineKeys, AreRefusedWithTheirPath) {
  const std::string Text = std::string(R"({"name": "x", "topology": {"sockets": 1, "dies_per_socket": 1,
      "complex_dies_per_die": 1, "complexes_per_complex_die": 1, "cores_per_complex": 1, "threads_per_core": 1},
      "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]},
      "msrs": {"0xC0010058": "0x000003FB00000021"}, )") +
                           GetParam().Json + "}";
  try {
    ParseMachine(Text, "m.json");
    FAIL() << "accepted";
  } catch (const MachineError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Expected), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, S3TokensMachineKeys,
    ::testing::Values(
        BadKeyCase{"EightBitValueTooWide", R"("token_store": {"table8": {"tokens": [{"uid": 1, "value": 256}]}})",
                   "token_store.table8.tokens[0].value"},
        BadKeyCase{"UnknownTableKey", R"("token_store": {"table8": {"room": 8}})", "token_store.table8"},
        BadKeyCase{"TableNeitherObjectNorAbsent", R"("token_store": {"table16": "gone"})", "token_store.table16"},
        BadKeyCase{"EntryWithTheEndMarkAsKind", R"("s3": {"entries": [{"kind": "0xFFFF"}]})", "s3.entries[0].kind"},
        BadKeyCase{"UnknownOcMessageKey", R"("soc": {"oc_messages": {"extra": 1}})", "soc.oc_messages"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST(S3TokensMachine, TokenStoreIsLaidOutAsTheOwnerHandsItOver) {
  TokenStoreSettings Settings;
  Settings.Table8 = {true, 16, {{0x11223344, 0x5A}}};
  Settings.Table16.Present = false;
  const std::vector<uint8_t> Bytes = LayOutTokenStore(Settings);
  const std::vector<uint8_t> Expected = {0x41, 0x44, 0x42, 0x31, 16, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                         0, 0, 0, 0, 16, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0,
                                         0x44, 0x33, 0x22, 0x11, 0x5A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes, Expected);
  const TokenStoreView View = DecodeTokenStore(Bytes);
  EXPECT_EQ(View.Table8.Tokens, (TokenList{{0x11223344, 0x5A}}));
  EXPECT_EQ(View.Table16.Offset, 0u);
}

}  // namespace
}  // namespace sim
