#include <cstring>

#include "UefiTestSupport.h"
#include "sim/uefi/Guid.h"
#include "sim/uefi/HobListBuilder.h"
#include "sim/uefi/HobWalk.h"
#include "uefi/StandardGuids.h"

namespace sim::test {
namespace {

using HobListTest = UefiTest;

template <typename Hob>
Hob Read(uint64_t address) {
  Hob hob;
  std::memcpy(&hob, reinterpret_cast<const void *>(address), sizeof(hob));
  return hob;
}

TEST_F(HobListTest, InstalledListWalksFromTheHandoffTableToItsEnd) {
  const EFI_GUID name = MakeGuid(0x40);
  const std::vector<uint8_t> payload = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
  HobListBuilder builder;
  builder.SetBootMode(BOOT_ON_S3_RESUME).AddGuidHob(name, payload).AddGuidHob(gEfiSmmPeiSmramMemoryReserveGuid, {});
  const EFI_PHYSICAL_ADDRESS list = builder.Install(core_.Memory(), core_.Tables());

  EXPECT_EQ(core_.Tables().FindConfigurationTable(gEfiHobListGuid), reinterpret_cast<void *>(list));
  EXPECT_EQ(core_.Memory().TypeAt(list), std::optional<uint32_t>(EfiBootServicesData));
  const HobWalk walk = WalkHobList(reinterpret_cast<const void *>(list), EFI_PAGE_SIZE);
  ASSERT_TRUE(walk.complete) << walk.problem;
  const std::vector<uint16_t> expectedTypes = {EFI_HOB_TYPE_HANDOFF, EFI_HOB_TYPE_RESOURCE_DESCRIPTOR,
                                               EFI_HOB_TYPE_GUID_EXTENSION, EFI_HOB_TYPE_GUID_EXTENSION,
                                               EFI_HOB_TYPE_END_OF_HOB_LIST};
  ASSERT_EQ(walk.entries.size(), expectedTypes.size());
  for (size_t index = 0; index < walk.entries.size(); index++) {
    EXPECT_EQ(walk.entries[index].type, expectedTypes[index]) << index;
    EXPECT_EQ(walk.entries[index].length % 8, 0u) << index;
  }

  const auto handoff = Read<EFI_HOB_HANDOFF_INFO_TABLE>(list);
  EXPECT_EQ(handoff.BootMode, static_cast<EFI_BOOT_MODE>(BOOT_ON_S3_RESUME));
  EXPECT_EQ(handoff.EfiEndOfHobList, list + walk.entries.back().offset);
  EXPECT_EQ(handoff.EfiFreeMemoryBottom, handoff.EfiEndOfHobList + sizeof(EFI_HOB_GENERIC_HEADER));
  EXPECT_EQ(handoff.EfiMemoryBottom, list);

  const auto dram = Read<EFI_HOB_RESOURCE_DESCRIPTOR>(list + walk.entries[1].offset);
  EXPECT_EQ(dram.ResourceType, static_cast<EFI_RESOURCE_TYPE>(EFI_RESOURCE_SYSTEM_MEMORY));
  EXPECT_EQ(dram.PhysicalStart, kDramBase);
  EXPECT_EQ(dram.ResourceLength, kDramSize);
  EXPECT_EQ(dram.ResourceAttribute & kResourceTested, kResourceTested);

  const uint64_t guidHob = list + walk.entries[2].offset;
  const auto header = Read<EFI_HOB_GUID_TYPE>(guidHob);
  EXPECT_TRUE(SameGuid(header.Name, name));
  EXPECT_EQ(header.Header.HobLength, 40u);
  EXPECT_EQ(
      std::memcmp(reinterpret_cast<const void *>(guidHob + sizeof(EFI_HOB_GUID_TYPE)), payload.data(), payload.size()),
      0);
}

struct PaddingCase {
  size_t dataSize;
  uint16_t hobLength;
};

class GuidHobPaddingTest : public ::testing::TestWithParam<PaddingCase> {};

TEST_P(GuidHobPaddingTest, LengthIsTheHeaderAndDataRoundedUpToEightBytes) {
  HobListBuilder builder;
  builder.AddGuidHob(MakeGuid(0x41), std::vector<uint8_t>(GetParam().dataSize, 0xAB));
  const std::vector<uint8_t> bytes = builder.Bytes(0x1000, 0x2000);
  const HobWalk walk = WalkHobList(bytes.data(), bytes.size());
  ASSERT_TRUE(walk.complete) << walk.problem;
  EXPECT_EQ(walk.entries[1].length, GetParam().hobLength);
  EXPECT_EQ(bytes.size(), builder.Size());
}

INSTANTIATE_TEST_SUITE_P(Sizes, GuidHobPaddingTest,
                         ::testing::Values(PaddingCase{0, 24}, PaddingCase{1, 32}, PaddingCase{8, 32},
                                           PaddingCase{9, 40}, PaddingCase{0xFFE0, 0xFFF8}));

TEST(HobListBuilderLimits, GuidHobBeyondTheSixteenBitLengthIsRefused) {
  HobListBuilder builder;
  EXPECT_THROW(builder.AddGuidHob(MakeGuid(0x42), std::vector<uint8_t>(0xFFE1)), std::length_error);
}

struct MalformedCase {
  const char *what;
  std::vector<uint8_t> raw;
  bool omitEnd;
  const char *problem;
};

class MalformedHobTest : public ::testing::TestWithParam<MalformedCase> {};

TEST_P(MalformedHobTest, WalkStopsAndNamesTheProblem) {
  HobListBuilder builder;
  builder.AddGuidHob(MakeGuid(0x43), std::vector<uint8_t>{1}).AppendRaw(GetParam().raw);
  if (GetParam().omitEnd) {
    builder.OmitEndOfList();
  }
  const std::vector<uint8_t> bytes = builder.Bytes(0x1000, 0x2000);
  const HobWalk walk = WalkHobList(bytes.data(), bytes.size());
  EXPECT_FALSE(walk.complete) << GetParam().what;
  EXPECT_NE(walk.problem.find(GetParam().problem), std::string::npos) << walk.problem;
  EXPECT_EQ(walk.entries.size(), 2u) << GetParam().what;  // the handoff table and the good GUID HOB
}

INSTANTIATE_TEST_SUITE_P(
    Lists, MalformedHobTest,
    ::testing::Values(
        MalformedCase{"length not a multiple of 8", {4, 0, 12, 0, 0, 0, 0, 0, 1, 2, 3, 4}, false, "has length 12"},
        MalformedCase{"length zero", {4, 0, 0, 0, 0, 0, 0, 0}, false, "has length 0"},
        MalformedCase{"runs past the end", {4, 0, 0x40, 0, 0, 0, 0, 0}, true, "runs past the end"},
        MalformedCase{"no end-of-list HOB", {}, true, "no end-of-list HOB"}));

}  // namespace
}  // namespace sim::test
