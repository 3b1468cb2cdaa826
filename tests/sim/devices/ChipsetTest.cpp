// The chipset register block: plain bytes over two ranges with every write kept in order.
#include "sim/devices/ChipsetRegisters.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "arch/Chipset.h"
#include "sim/devices/MmioBus.h"

namespace sim {
namespace {

class ChipsetBlock : public ::testing::Test {
 protected:
  ChipsetBlock() { Bus.Attach(Chipset); }
  MmioBus Bus;
  ChipsetRegisters Chipset;
};

TEST_F(ChipsetBlock, LockBracketSetAndClearedAroundTheLockIsRecordedInOrder) {
  const uint64_t Bracket = ::Chipset::SmmLockBracket::Address;
  Chipset.Set(Bracket, 4, 0x00000123);
  uint64_t Value = Bus.Read(Bracket, 4);
  Bus.Write(Bracket, 4, ::Chipset::SmmLockBracket::Held::Set(Value, 1));
  EXPECT_EQ(Chipset.Get(Bracket, 4), 0x80000123u);
  Value = Bus.Read(Bracket, 4);
  Bus.Write(Bracket, 4, ::Chipset::SmmLockBracket::Held::Set(Value, 0));
  EXPECT_EQ(Chipset.Writes(), (std::vector<ChipsetWrite>{{Bracket, 4, 0x80000123}, {Bracket, 4, 0x00000123}}));
}

struct WriteCase {
  uint64_t Address;
  unsigned Width;
  uint64_t Value;
};

class ChipsetRegisterWrite : public ChipsetBlock, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(ChipsetRegisterWrite, EveryRegisterTheDriverTouchesIsClaimedStoredAndRecorded) {
  const WriteCase &Case = GetParam();
  Bus.Write(Case.Address, Case.Width, Case.Value);
  EXPECT_EQ(Bus.Read(Case.Address, Case.Width), Case.Value);
  EXPECT_EQ(Chipset.Writes(), (std::vector<ChipsetWrite>{{Case.Address, Case.Width, Case.Value}}));
  EXPECT_EQ(Bus.UnclaimedReadCount() + Bus.UnclaimedWriteCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Registers, ChipsetRegisterWrite,
                         ::testing::Values(WriteCase{0xFED80298, 4, 0x80000000}, WriteCase{0xFEDC0020, 2, 0x040A},
                                           WriteCase{0xFEDC9008, 2, 0x0001}, WriteCase{0xFEDCA008, 2, 0x0001},
                                           WriteCase{0xFEDCE008, 2, 0x0001}, WriteCase{0xFEDCF008, 2, 0x0001},
                                           WriteCase{0xFED80D87, 1, 0x5A}, WriteCase{0xFED81720, 1, 0x5A},
                                           WriteCase{0xFED80D89, 1, 0x5A}, WriteCase{0xFED80D8A, 1, 0x5A},
                                           WriteCase{0xFED80D8E, 1, 0x5A}, WriteCase{0xFED80D8F, 1, 0x5A},
                                           WriteCase{0xFED80D8C, 4, 0xA5A5A5A5}));

TEST_F(ChipsetBlock, BytesWrittenSeparatelyReadBackAsOneWord) {
  Bus.Write(0xFED80D8C, 1, 0x11);
  Bus.Write(0xFED80D8D, 1, 0x22);
  Bus.Write(0xFED80D8E, 2, 0x4433);
  EXPECT_EQ(Bus.Read(0xFED80D8C, 4), 0x44332211u);
  EXPECT_EQ(Chipset.Writes().size(), 3u);
}

TEST_F(ChipsetBlock, AddressesJustOutsideTheRangesAreUnclaimed) {
  EXPECT_EQ(Bus.Read(0xFED82000, 1), 0xFFu);
  EXPECT_EQ(Bus.Read(0xFEDD0000, 2), 0xFFFFu);
  EXPECT_EQ(Bus.Read(0xFED7FFFF, 1), 0xFFu);
  EXPECT_EQ(Bus.UnclaimedReadCount(), 3u);
  EXPECT_THROW(Chipset.Get(0xFED81FFE, 4), std::out_of_range);
}

}  // namespace
}  // namespace sim
