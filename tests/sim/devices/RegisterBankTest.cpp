// How a declarative register bank cuts accesses into its registers.
#include "sim/devices/RegisterBank.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace sim {
namespace {

// Two registers with a gap between them: a 16-bit one at 0 and a 32-bit one at 4. Each keeps
// the whole values its writer was called with.
class TwoRegisters : public ::testing::Test {
 protected:
  TwoRegisters() {
    Bank.Define({"Low16", 0, 2, [this]() -> uint64_t { return Low; }, [this](uint64_t V) { LowWrites.push_back(V); Low = V; }})
        .Define({"Word", 4, 4, [this]() -> uint64_t { return Word; }, [this](uint64_t V) { WordWrites.push_back(V); Word = V; }});
  }
  RegisterBank Bank{"test"};
  uint64_t Low = 0xBEEF;
  uint64_t Word = 0x11223344;
  std::vector<uint64_t> LowWrites;
  std::vector<uint64_t> WordWrites;
};

TEST_F(TwoRegisters, NarrowReadKeepsOnlyTheBytesItCovers) {
  EXPECT_EQ(Bank.Read(5, 1), 0x33u);
  EXPECT_EQ(Bank.Read(6, 2), 0x1122u);
  EXPECT_EQ(Bank.Read(1, 1), 0xBEu);
}

TEST_F(TwoRegisters, NarrowWriteMergesIntoWhatTheRegisterReads) {
  Bank.Write(6, 1, 0xAA);
  EXPECT_EQ(WordWrites, (std::vector<uint64_t>{0x11AA3344}));
}

TEST_F(TwoRegisters, WideAccessSpansRegistersAndGapWithoutStoreReadsZero) {
  EXPECT_EQ(Bank.Read(0, 8), 0x112233440000BEEFu);
  Bank.Write(0, 8, 0x5566778899AABBCC);
  EXPECT_EQ(LowWrites, (std::vector<uint64_t>{0xBBCC}));
  EXPECT_EQ(WordWrites, (std::vector<uint64_t>{0x55667788}));
  EXPECT_EQ(Bank.Read(2, 2), 0u) << "gap bytes without a store keep nothing";
}

TEST_F(TwoRegisters, GapBytesGoToTheBackingStore) {
  ByteStore Store(8);
  Bank.SetBackingStore(&Store);
  Bank.Write(0, 8, 0x5566778899AABBCC);
  EXPECT_EQ(Store.Get(2, 2), 0x99AAu);
  EXPECT_EQ(Store.Get(4, 4), 0u) << "register bytes never reach the store";
  EXPECT_EQ(Bank.Read(2, 2), 0x99AAu);
}

TEST(RegisterBank, RegistersOutOfOrderOrOverlappingAreRefused) {
  RegisterBank Bank("order");
  Bank.Define({"A", 4, 4, {}, {}});
  EXPECT_THROW(Bank.Define({"B", 0, 4, {}, {}}), std::logic_error);
  EXPECT_THROW(Bank.Define({"C", 7, 1, {}, {}}), std::logic_error);
  EXPECT_THROW(Bank.Define({"D", 8, 9, {}, {}}), std::logic_error);
  EXPECT_NO_THROW(Bank.Define({"E", 8, 1, {}, {}}));
  ASSERT_NE(Bank.Find(6), nullptr);
  EXPECT_EQ(Bank.Find(6)->Name, "A");
  EXPECT_EQ(Bank.Find(9), nullptr);
}

TEST(RegisterBank, WriteOnlyReadsZeroAndReadOnlyIgnoresWrites) {
  uint64_t Written = 0;
  RegisterBank Bank("modes");
  Bank.Define({"WriteOnly", 0, 1, {}, [&Written](uint64_t V) { Written = V; }})
      .Define({"ReadOnly", 1, 1, []() -> uint64_t { return 0x5A; }, {}});
  Bank.Write(0, 2, 0xFFC3);
  EXPECT_EQ(Written, 0xC3u);
  EXPECT_EQ(Bank.Read(0, 2), 0x5A00u);
}

}  // namespace
}  // namespace sim
