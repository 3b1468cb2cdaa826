// The machine keys of the shared heap's HOBs and of the security coprocessor: what they set, and
// the errors a bad value gets.
#include <gtest/gtest.h>

#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "tests/sim/machine/MinimalMachine.h"

namespace sim {
namespace {

// A minimal machine with further top-level fields.
TEST(HeapHobKey, ListsTheRecordsInOrderWithWellFormedDefaults) {
  const Machine M = ParseMachine(Minimal(R"(, "heap_hobs": [
      {"handle": "0xA036", "persistence": 1, "data": [1, 2, 255]},
      {"handle": 7, "persistence": 8, "size": 64, "valid": 0, "signature": "0x12345678"}])"),
                                 "m.json");
  ASSERT_EQ(M.HeapHobs.size(), 2u);
  EXPECT_EQ(M.HeapHobs[0].Handle, 0xA036u);
  EXPECT_EQ(M.HeapHobs[0].Data, (std::vector<uint8_t>{1, 2, 255}));
  EXPECT_FALSE(M.HeapHobs[0].Size.has_value());
  EXPECT_EQ(M.HeapHobs[0].Valid, 1u);
  EXPECT_EQ(M.HeapHobs[0].Signature, 0x50414548u);
  EXPECT_EQ(M.HeapHobs[1].Persistence, 8u);
  EXPECT_EQ(M.HeapHobs[1].Size, std::optional<uint32_t>(64));
  EXPECT_EQ(M.HeapHobs[1].Valid, 0u);
  EXPECT_EQ(M.HeapHobs[1].Signature, 0x12345678u);
}

TEST(CoprocessorKey, SetsPresenceBaseAndContention) {
  const Machine Default = ParseMachine(Minimal(""), "m.json");
  EXPECT_TRUE(Default.Coprocessor.Present);
  EXPECT_TRUE(Default.Coprocessor.Contends);
  const Machine M = ParseMachine(Minimal(R"(, "coprocessor": {"present": false, "mmio_base": "0xFE800000",
      "sideband_block": "0x13E10000", "mailbox_offset": "0x10500", "contends": false, "hold_polls": 9})"),
                                 "m.json");
  EXPECT_FALSE(M.Coprocessor.Present);
  EXPECT_EQ(M.Coprocessor.MmioBase, 0xFE800000u);
  EXPECT_EQ(M.Coprocessor.SidebandBlock, 0x13E10000u);
  EXPECT_EQ(M.Coprocessor.MailboxOffset, 0x10500u);
  EXPECT_FALSE(M.Coprocessor.Contends);
  EXPECT_EQ(M.Coprocessor.HoldPolls, 9u);
}

struct BadKey {
  const char *Name;
  const char *Extra;
  const char *Message;
};

class BadSmmKey : public ::testing::TestWithParam<BadKey> {};

TEST_P(BadSmmKey, IsRefusedNamingTheField) {
  try {
    ParseMachine(Minimal(GetParam().Extra), "bad.json");
    FAIL() << "accepted";
  } catch (const MachineError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Message), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Keys, BadSmmKey,
    ::testing::Values(
        BadKey{"HandleMissing", R"(, "heap_hobs": [{"persistence": 1}])", "bad.json: heap_hobs[0]"},
        BadKey{"ByteTooLarge", R"(, "heap_hobs": [{"handle": 1, "persistence": 1, "data": [1, 256]}])",
               "heap_hobs[0].data[1]"},
        BadKey{"BaseUnaligned", R"(, "coprocessor": {"mmio_base": "0xFE880000"})",
               "coprocessor.mmio_base: the coprocessor's MMIO block is 1 MB aligned"},
        BadKey{"MailboxOutsideTheBlock", R"(, "coprocessor": {"mailbox_offset": "0xFFFA0"})",
               "coprocessor.mailbox_offset"},
        BadKey{"NoHoldPolls", R"(, "coprocessor": {"hold_polls": 0})", "coprocessor.hold_polls"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
