// The configuration token accessors over the ActDb: lookups, updates in place and appends at the
// capacity's edge, the messages of each path, either table missing, the store missing, and stores
// whose offsets or counts would lead outside the heap buffer. The debug image's filter admits the
// general level but not the configuration level, so the 8-bit table's change messages never reach
// the UART while the 16-bit table's do: that difference is part of what is checked.
#include <cstring>

#include "options/TokenStore.h"
#include "tests/options/TokenStoreFixture.h"

namespace {

using Lines_t = std::vector<std::string>;
using image::GetVeltaCfg16;
using image::GetVeltaCfg8;
using image::SetVeltaCfg16;
using image::SetVeltaCfg8;

constexpr uint32_t kUidA = 0x0AE23766;
constexpr uint32_t kUidB = 0xCCD6584C;
constexpr uint32_t kUidNew = 0x3BED107B;

class TokenStore : public TokenStoreFixture {};

struct CapacityCase {
  uint32_t Capacity;
  uint32_t Result;
  uint32_t CountAfter;
  std::string LastLine;
};

class TokenCapacity : public TokenStore, public ::testing::WithParamInterface<CapacityCase> {};

TEST_P(TokenCapacity, ThirdTokenIsAppendedOnlyWhenItFits) {
  MakeStore(TokenTableShape{GetParam().Capacity, {{kUidA, 1}, {kUidB, 2}}}, std::nullopt, 64);
  EXPECT_EQ(SetVeltaCfg8(kUidNew, 5), GetParam().Result);
  EXPECT_EQ(Count(false), GetParam().CountAfter);
  ASSERT_FALSE(Lines().empty());
  EXPECT_EQ(Lines().back(), GetParam().LastLine);
  if (GetParam().Result == image::VELTA_SUCCESS) {
    EXPECT_EQ(Tokens(false).back(), (std::pair<uint32_t, uint16_t>{kUidNew, 5}));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Edges, TokenCapacity,
    ::testing::Values(CapacityCase{16, image::VELTA_NO_SPACE, 2, "Not enough space <<"},
                      CapacityCase{23, image::VELTA_NO_SPACE, 2, "Not enough space <<"},
                      CapacityCase{24, image::VELTA_SUCCESS, 3, "GetVeltaCfg8 UID:3BED107B Not found"}));

TEST_F(TokenStore, FullTableStillUpdatesEitherExistingToken) {
  MakeStore(TokenTableShape{16, {{kUidA, 1}, {kUidB, 2}}}, std::nullopt);
  EXPECT_EQ(SetVeltaCfg8(kUidA, 0x11), image::VELTA_SUCCESS);
  EXPECT_EQ(SetVeltaCfg8(kUidB, 0x22), image::VELTA_SUCCESS);
  EXPECT_EQ(Tokens(false), (std::vector<std::pair<uint32_t, uint16_t>>{{kUidA, 0x11}, {kUidB, 0x22}}));
}

TEST_F(TokenStore, UpdatePrintsTheLookupAndTheChangeEvenForTheSameValue) {
  MakeStore(TokenTableShape{16, {{kUidA, 1}, {kUidB, 7}}}, TokenTableShape{16, {{kUidA, 1}, {kUidB, 7}}});
  EXPECT_EQ(SetVeltaCfg16(kUidB, 7), image::VELTA_SUCCESS);
  EXPECT_EQ(Lines(), (Lines_t{"SetVeltaCfg16 UID:CCD6584C Value:7 >>", "GetVeltaCfg16 UID:CCD6584C Index 1 Value:7",
                              "ACT16[1] 0x7=>0x7 <<"}));
  Firmware.PortWrites.clear();
  // The 8-bit table's own lines are at the configuration level; only the lookup's show.
  EXPECT_EQ(SetVeltaCfg8(kUidB, 7), image::VELTA_SUCCESS);
  EXPECT_EQ(Lines(), (Lines_t{"GetVeltaCfg8 UID:CCD6584C Index 1 Value:7"}));
}

TEST_F(TokenStore, UpdateChangesOnlyTheValueBytesOfTheEntry) {
  MakeStore(std::nullopt, TokenTableShape{16, {{kUidA, 0x1234}}});
  const std::vector<uint8_t> Before = StoreBytes();
  EXPECT_EQ(SetVeltaCfg16(kUidA, 0xBEEF), image::VELTA_SUCCESS);
  std::vector<uint8_t> Expected = Before;
  const size_t Value = 16 + 16 + 4;
  Expected[Value] = 0xEF;
  Expected[Value + 1] = 0xBE;
  EXPECT_EQ(StoreBytes(), Expected);
  EXPECT_EQ(Lines().back(), "ACT16[0] 0x1234=>0xBEEF <<");
}

TEST_F(TokenStore, LookupReportsIndexAndValueOrNotFound) {
  MakeStore(TokenTableShape{16, {{kUidA, 1}, {kUidB, 0x9C}}}, TokenTableShape{8, {{kUidB, 0xA55A}}});
  UINT32 Index = 99;
  EXPECT_EQ(GetVeltaCfg8(kUidB, &Index), image::VELTA_SUCCESS);
  EXPECT_EQ(Index, 1u);
  EXPECT_EQ(GetVeltaCfg16(kUidB, nullptr), image::VELTA_SUCCESS);
  Index = 99;
  EXPECT_EQ(GetVeltaCfg16(kUidNew, &Index), image::VELTA_NOT_FOUND);
  EXPECT_EQ(Index, 99u);
  EXPECT_EQ(Lines(),
            (Lines_t{"GetVeltaCfg8 UID:CCD6584C Index 1 Value:9C", "GetVeltaCfg16 UID:CCD6584C Index 0 Value:A55A",
                     "GetVeltaCfg16 UID:3BED107B Not found"}));
}

TEST_F(TokenStore, SixteenBitAppendUsesItsOwnTableAndMessages) {
  MakeStore(TokenTableShape{16, {}}, TokenTableShape{16, {{kUidA, 1}}});
  EXPECT_EQ(SetVeltaCfg16(kUidNew, 0x1F4), image::VELTA_SUCCESS);
  EXPECT_EQ(Tokens(true), (std::vector<std::pair<uint32_t, uint16_t>>{{kUidA, 1}, {kUidNew, 0x1F4}}));
  EXPECT_EQ(Count(false), 0u);
  EXPECT_EQ(Lines(), (Lines_t{"SetVeltaCfg16 UID:3BED107B Value:1F4 >>", "GetVeltaCfg16 UID:3BED107B Not found",
                              "New ACT16[1]=0x1F4, Count: 1 => 2 <<"}));
}

// One table set up and the other at offset 0: the set-up table serves, the other answers
// "not initialized" and nothing changes.
class OneTableMissing : public TokenStore, public ::testing::WithParamInterface<bool> {};

TEST_P(OneTableMissing, TheOtherTableStillServes) {
  const bool SixteenMissing = GetParam();
  const TokenTableShape Shape{24, {{kUidA, 3}}};
  MakeStore(SixteenMissing ? std::optional(Shape) : std::nullopt, SixteenMissing ? std::nullopt : std::optional(Shape));
  const std::vector<uint8_t> Before = StoreBytes();
  const UINT32 Missing = SixteenMissing ? SetVeltaCfg16(kUidNew, 1) : SetVeltaCfg8(kUidNew, 1);
  EXPECT_EQ(Missing, image::VELTA_NOT_FOUND);
  EXPECT_EQ(Lines().back(), "ActDb not initialized <<");
  EXPECT_EQ(StoreBytes(), Before);
  const UINT32 Served = SixteenMissing ? SetVeltaCfg8(kUidNew, 1) : SetVeltaCfg16(kUidNew, 1);
  EXPECT_EQ(Served, image::VELTA_SUCCESS);
  EXPECT_EQ(Count(!SixteenMissing), 2u);
}

INSTANTIATE_TEST_SUITE_P(EitherWidth, OneTableMissing, ::testing::Bool());

TEST_F(TokenStore, MissingStoreAnswersSevenForEveryOperation) {
  EXPECT_EQ(GetVeltaCfg8(kUidA, nullptr), image::VELTA_NO_STORE);
  EXPECT_EQ(GetVeltaCfg16(kUidA, nullptr), image::VELTA_NO_STORE);
  EXPECT_EQ(SetVeltaCfg8(kUidA, 1), image::VELTA_NO_STORE);
  EXPECT_EQ(SetVeltaCfg16(kUidA, 1), image::VELTA_NO_STORE);
  EXPECT_EQ(Lines(),
            (Lines_t{"GetVeltaCfg8 UID:AE23766 ActDb locate fail <<", "GetVeltaCfg16 UID:AE23766 ActDb locate fail <<",
                     "ActDb locate fail <<", "SetVeltaCfg16 UID:AE23766 Value:1 >>", "ActDb locate fail <<"}));
}

// Stores whose own words lead outside the heap buffer: each is refused as not initialized before
// anything is read or written there.
struct BrokenStoreCase {
  const char *Name;
  uint32_t Table8Offset;
  uint32_t Count;
  uint32_t BufferSize;
};

class BrokenStore : public TokenStore, public ::testing::WithParamInterface<BrokenStoreCase> {};

TEST_P(BrokenStore, IsTreatedAsNotInitialized) {
  std::vector<uint8_t> Bytes(GetParam().BufferSize, 0);
  auto Put = [&](size_t Offset, uint32_t Value) {
    if (Offset + 4 <= Bytes.size()) std::memcpy(&Bytes[Offset], &Value, 4);
  };
  Put(4, GetParam().Table8Offset);
  Put(16 + 4, 0x1000);  // a capacity far beyond the buffer
  Put(16 + 8, GetParam().Count);
  MakeRawStore(Bytes);
  const std::vector<uint8_t> Before = StoreBytes();
  EXPECT_EQ(GetVeltaCfg8(kUidA, nullptr), image::VELTA_NOT_FOUND);
  EXPECT_EQ(SetVeltaCfg8(kUidA, 1), image::VELTA_NOT_FOUND);
  EXPECT_EQ(Lines().back(), "ActDb not initialized <<");
  EXPECT_EQ(StoreBytes(), Before);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BrokenStore,
    ::testing::Values(BrokenStoreCase{"ShorterThanItsHeader", 4, 0, 8},
                      BrokenStoreCase{"TableOffsetPastTheBuffer", 0x10000, 0, 64},
                      BrokenStoreCase{"TableHeaderCutByTheBufferEnd", 56, 0, 64},
                      BrokenStoreCase{"CountReachingPastTheBuffer", 16, 5, 64},
                      BrokenStoreCase{"CountThatWrapsWhenMultiplied", 16, 0x20000001, 64},
                      BrokenStoreCase{"TableOverTheStoreHeader", 2, 0, 64}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(TokenStore, CapacityLargerThanTheBufferStillKeepsAppendsInside) {
  // Room for exactly two entries behind the table header, but a capacity that claims far more.
  std::vector<uint8_t> Bytes(16 + 16 + 16, 0);
  const uint32_t Offset = 16, Capacity = 0x1000;
  std::memcpy(&Bytes[4], &Offset, 4);
  std::memcpy(&Bytes[16 + 4], &Capacity, 4);
  MakeRawStore(Bytes);
  EXPECT_EQ(SetVeltaCfg8(kUidA, 1), image::VELTA_SUCCESS);
  EXPECT_EQ(SetVeltaCfg8(kUidB, 2), image::VELTA_SUCCESS);
  EXPECT_EQ(SetVeltaCfg8(kUidNew, 3), image::VELTA_NO_SPACE);
  EXPECT_EQ(Count(false), 2u);
}

}  // namespace
