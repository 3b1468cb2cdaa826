// The HOB walk: every GUID extension HOB of a name once, in list order, and a walk that ends
// where a malformed HOB would make it loop or read outside the list.
#include "driver/HobList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/ImageState.h"
#include "tests/driver/HeapTestSupport.h"
#include "uefi/StandardGuids.h"

using namespace CcxImage;

namespace {

const EFI_GUID kTarget = {0x7A3C0F52, 0x1B2D, 0x4E6F, {0x81, 0x92, 0xA3, 0xB4, 0xC5, 0xD6, 0xE7, 0xF8}};
const EFI_GUID kOther = {0x11111111, 0x2222, 0x3333, {0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44, 0x44}};

std::vector<uint8_t> Bytes(std::initializer_list<uint8_t> List) { return List; }

// A HOB header followed by Body zero bytes.
std::vector<uint8_t> Header(uint16_t Type, uint16_t Length, size_t Body = 0) {
  std::vector<uint8_t> Raw(sizeof(EFI_HOB_GENERIC_HEADER) + Body, 0);
  EFI_HOB_GENERIC_HEADER Value = {Type, Length, 0};
  std::memcpy(Raw.data(), &Value, sizeof(Value));
  return Raw;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> First, const std::vector<uint8_t> &Second) {
  First.insert(First.end(), Second.begin(), Second.end());
  return First;
}

// A GUID extension HOB named kTarget with one byte of data, as raw bytes.
std::vector<uint8_t> TargetHob(uint8_t Data) {
  std::vector<uint8_t> Raw = Header(EFI_HOB_TYPE_GUID_EXTENSION, 32);
  Raw.resize(32, 0);
  std::memcpy(Raw.data() + 8, &kTarget, sizeof(kTarget));
  Raw[24] = Data;
  return Raw;
}

uint8_t FirstDataByte(const EFI_HOB_GUID_TYPE *Hob) { return reinterpret_cast<const uint8_t *>(Hob + 1)[0]; }

using HobWalk = heaptest::HeapFixture;

TEST_F(HobWalk, VisitsEveryHobOfANameOnceInListOrder) {
  sim::HobListBuilder Builder;
  Builder.AddGuidHob(kTarget, Bytes({1}));
  Builder.AddResourceDescriptor(EFI_RESOURCE_SYSTEM_MEMORY, 0, 0x100000, 0x100000);
  Builder.AddGuidHob(kOther, Bytes({9}));
  Builder.AddGuidHob(kTarget, Bytes({2, 2, 2, 2, 2, 2, 2, 2, 2}));
  Builder.AddGuidHob(kTarget, Bytes({3}));
  PublishHobList(Builder);
  std::vector<uint8_t> Seen;
  for (EFI_HOB_GUID_TYPE *Hob = HobFindGuid(&kTarget); Hob != nullptr; Hob = HobFindNextGuid(&kTarget, Hob)) {
    Seen.push_back(FirstDataByte(Hob));
  }
  EXPECT_EQ(Seen, (std::vector<uint8_t>{1, 2, 3}));
  const EFI_HOB_GUID_TYPE *Other = HobFindGuid(&kOther);
  ASSERT_NE(Other, nullptr);
  EXPECT_EQ(HobGuidDataSize(Other), 8u) << "one byte padded to the HOB alignment";
  EXPECT_EQ(HobFindNextGuid(&kOther, Other), nullptr);
}

struct MalformedCase {
  const char *Name;
  std::vector<uint8_t> Raw;    // appended to the list before the target
  std::vector<uint8_t> After;  // bytes behind the list's end in memory
  bool OmitEndOfList;
  bool TargetFound;
};

class MalformedHob : public HobWalk, public ::testing::WithParamInterface<MalformedCase> {};

// A list whose target HOB, if any, is reachable only by trusting a bad length or reading past the
// end: the walk stops there as at the end of the list, so the target is not found.
TEST_P(MalformedHob, EndsTheWalkInsideTheList) {
  sim::HobListBuilder Builder;
  Builder.AppendRaw(GetParam().Raw);
  Builder.AppendRaw(TargetHob(7));
  if (GetParam().OmitEndOfList) Builder.OmitEndOfList();
  PublishHobList(Builder, GetParam().After);
  const EFI_HOB_GUID_TYPE *Found = HobFindGuid(&kTarget);
  EXPECT_EQ(Found != nullptr, GetParam().TargetFound);
}

// The list is the 56-byte handoff table, the raw bytes, the 32-byte target, then the end HOB.
INSTANTIATE_TEST_SUITE_P(
    Lengths, MalformedHob,
    ::testing::Values(
        // Stepping by 0 would visit the same HOB forever.
        MalformedCase{"LengthZero", Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 0), {}, false, false},
        // A length that runs past the end HOB (at 96, the list ending at 104) onto a target lying
        // behind the list at 112.
        MalformedCase{"RunsPastTheEnd", Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 56), Concat(Header(0, 0), TargetHob(8)),
                      false, false},
        // Without its end HOB the list still yields what lies before where the handoff table
        // says it ends.
        MalformedCase{"NoEndOfListHobStillYieldsItsHobs", {}, {}, true, true},
        // A GUID extension HOB too short for a name is stepped over, not matched.
        MalformedCase{"GuidHobWithoutRoomForItsName", Header(EFI_HOB_TYPE_GUID_EXTENSION, 16, 8), {}, false, true}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// A HOB whose length is not a multiple of 8 is stepped over by its length, however short, and the
// HOBs behind it are found where that length puts them, aligned or not.
struct UnevenLengthCase {
  const char *Name;
  std::vector<uint8_t> Raw;
};

class UnevenLength : public HobWalk, public ::testing::WithParamInterface<UnevenLengthCase> {};

TEST_P(UnevenLength, IsSteppedOverByItsLength) {
  sim::HobListBuilder Builder;
  Builder.AppendRaw(GetParam().Raw);
  Builder.AppendRaw(TargetHob(7));
  Builder.AppendRaw(TargetHob(8));
  PublishHobList(Builder);
  const EFI_HOB_GUID_TYPE *First = HobFindGuid(&kTarget);
  ASSERT_NE(First, nullptr);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(First) - reinterpret_cast<uintptr_t>(GetHobList()),
            sizeof(EFI_HOB_HANDOFF_INFO_TABLE) + GetParam().Raw.size());
  EXPECT_EQ(FirstDataByte(First), 7);
  EXPECT_EQ(HobGuidDataSize(First), 8u);
  const EFI_HOB_GUID_TYPE *Second = HobFindNextGuid(&kTarget, First);
  ASSERT_NE(Second, nullptr);
  EXPECT_EQ(FirstDataByte(Second), 8);
  EXPECT_EQ(HobFindNextGuid(&kTarget, Second), nullptr);
}

std::vector<uint8_t> Truncated(std::vector<uint8_t> Raw, size_t Size) {
  Raw.resize(Size);
  return Raw;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, UnevenLength,
    ::testing::Values(UnevenLengthCase{"Twelve", Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 12, 4)},
                      UnevenLengthCase{"Nine", Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 9, 1)},
                      UnevenLengthCase{"ShorterThanAHeader", Truncated(Header(EFI_HOB_TYPE_GUID_EXTENSION, 4), 4)},
                      UnevenLengthCase{"NineThenFifteenRealign",
                                       Concat(Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 9, 1),
                                              Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, 15, 7))}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(HobWalk, HobBehindAListWithoutItsEndHobIsNotRead) {
  sim::HobListBuilder Builder;
  Builder.OmitEndOfList();
  PublishHobList(Builder, TargetHob(8));
  EXPECT_EQ(HobFindGuid(&kTarget), nullptr);
}

TEST_F(HobWalk, ListThatDoesNotStartWithAHandoffTableHasNothingToFind) {
  std::vector<uint8_t> Raw = TargetHob(1);
  const std::vector<uint8_t> End = Header(EFI_HOB_TYPE_END_OF_HOB_LIST, 8);
  Raw.insert(Raw.end(), End.begin(), End.end());
  PublishRawHobList(Raw);
  EXPECT_EQ(HobFindGuid(&kTarget), nullptr);
}

TEST_F(HobWalk, ListIsLookedUpUntilFoundAndThenKept) {
  EXPECT_EQ(GetHobList(), nullptr);
  EXPECT_EQ(HobFindGuid(&kTarget), nullptr);
  sim::HobListBuilder First;
  First.AddGuidHob(kTarget, Bytes({1}));
  const uint64_t FirstList = PublishHobList(First);
  EXPECT_EQ(reinterpret_cast<uint64_t>(GetHobList()), FirstList);
  // The configuration table now names another list; the one found first stays in use.
  sim::HobListBuilder Second;
  Second.AddGuidHob(kTarget, Bytes({2}));
  const uint64_t SecondList = PublishHobList(Second);
  ASSERT_NE(SecondList, FirstList);
  EXPECT_EQ(reinterpret_cast<uint64_t>(GetHobList()), FirstList);
}

}  // namespace
