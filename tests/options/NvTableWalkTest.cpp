// The search through an option NV table: entry sizes, the end mark, and tables whose end mark is
// missing or whose last entry is cut short, which must never be read past their reported size.
#include <gtest/gtest.h>

#include <vector>

#include "options/NvTableWalk.h"
#include "options/OptionHooks.h"
#include "tests/options/FakeOptionService.h"

using namespace CcxImage;
using fake::NvEntry;
using fake::NvTable;

namespace {

struct Lookup {
  UINT32 Result;
  UINT64 Value;
};

// Looks an option up in the first Size bytes of Bytes (all of them by default).
Lookup Find(const std::vector<uint8_t> &Bytes, UINT16 OptionId, size_t Size = SIZE_MAX) {
  Lookup Answer = {0xFFFFFFFF, 0x5A5A5A5A5A5A5A5AULL};
  Answer.Result = KtxFindNvValue(Bytes.data(), Size == SIZE_MAX ? Bytes.size() : Size, OptionId, &Answer.Value);
  return Answer;
}

TEST(NvTableWalk, FindsTheFirstEntryAndNotItsNeighbour) {
  const auto Table = NvTable({NvEntry(0x1234, 1, 0xBEEF)});
  const Lookup Found = Find(Table, 0x1234);
  EXPECT_EQ(Found.Result, KTX_SUCCESS);
  EXPECT_EQ(Found.Value, 0xBEEFu);
  EXPECT_EQ(Find(Table, 0x1235).Result, KTX_NOT_FOUND);
}

TEST(NvTableWalk, HeaderAndEndMarkAloneFindNothing) {
  const auto Table = NvTable({});
  for (UINT16 Option : {0x0000, 0x0001, 0xD018, 0xFFFE, 0xFFFF}) EXPECT_EQ(Find(Table, Option).Result, KTX_NOT_FOUND);
}

// Entries of every size in a row: each is found with its own value, zero-extended, which proves
// every entry length is stepped over correctly.
struct SizeCase {
  unsigned SizeCode;
  UINT16 OptionId;
  UINT64 Value;
};

class ValueSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(ValueSize, IsReadWholeAndZeroExtended) {
  const auto Table = NvTable({NvEntry(0x0100, 3, 0x1111111111111111ULL), NvEntry(0x0101, 0, 0x22),
                              NvEntry(0x0102, 2, 0x33333333), NvEntry(0x0103, 1, 0x4444),
                              NvEntry(GetParam().OptionId, GetParam().SizeCode, GetParam().Value)});
  const Lookup Found = Find(Table, GetParam().OptionId);
  EXPECT_EQ(Found.Result, KTX_SUCCESS);
  EXPECT_EQ(Found.Value, GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ValueSize,
                         ::testing::Values(SizeCase{0, 0xD018, 0x80}, SizeCase{1, 0xD019, 0x8001},
                                           SizeCase{2, 0xD01A, 0x80000001},
                                           SizeCase{3, 0xD017, 0x8000000000000001ULL}));

TEST(NvTableWalk, FirstOfTwoEntriesWithTheSameOptionWins) {
  const auto Table = NvTable({NvEntry(0x0007, 0, 1), NvEntry(0x0007, 0, 2)});
  EXPECT_EQ(Find(Table, 0x0007).Value, 1u);
}

TEST(NvTableWalk, EndMarkStopsBeforeLaterEntries) {
  auto Table = NvTable({NvEntry(0x0001, 0, 1)});
  const auto Behind = NvEntry(0x0002, 0, 2);
  Table.insert(Table.end(), Behind.begin(), Behind.end());
  EXPECT_EQ(Find(Table, 0x0002).Result, KTX_NOT_FOUND);
}

// The table's reported size ends the walk, whatever follows in memory: here a matching entry sits
// right behind the reported size and must not be found.
TEST(NvTableWalk, UnterminatedTableEndsAtItsReportedSize) {
  auto Bytes = NvTable({NvEntry(0x0001, 0, 1), NvEntry(0x0002, 1, 2)}, false);
  const size_t Reported = Bytes.size();
  const auto Behind = NvEntry(0x0003, 0, 3);
  Bytes.insert(Bytes.end(), Behind.begin(), Behind.end());
  EXPECT_EQ(Find(Bytes, 0x0002, Reported).Value, 2u);
  EXPECT_EQ(Find(Bytes, 0x0003, Reported).Result, KTX_NOT_FOUND);
  EXPECT_EQ(Find(Bytes, 0x0003).Result, KTX_SUCCESS) << "the same bytes with the larger size do hold it";
}

// A last entry cut short at every possible length is never taken: its missing bytes lie behind
// the reported size, and the walk does not read them as part of its value.
class CutShort : public ::testing::TestWithParam<size_t> {};

TEST_P(CutShort, LastEntryIsNotTaken) {
  auto Bytes = NvTable({NvEntry(0x0001, 0, 1), NvEntry(0x0ABC, 3, 0x0102030405060708ULL)}, false);
  const size_t Reported = Bytes.size() - GetParam();
  EXPECT_EQ(Find(Bytes, 0x0ABC, Reported).Result, KTX_NOT_FOUND);
  EXPECT_EQ(Find(Bytes, 0x0001, Reported).Value, 1u);
}

INSTANTIATE_TEST_SUITE_P(MissingBytes, CutShort, ::testing::Range<size_t>(1, 11));

TEST(NvTableWalk, TableShorterThanItsHeaderHasNoEntries) {
  const auto Bytes = NvTable({NvEntry(0x0001, 0, 1)});
  for (size_t Size : {0, 1, 31, 32, 33}) EXPECT_EQ(Find(Bytes, 0x0001, Size).Result, KTX_NOT_FOUND) << Size;
  EXPECT_EQ(Find(Bytes, 0x0001, 36).Result, KTX_SUCCESS);
}

}  // namespace
