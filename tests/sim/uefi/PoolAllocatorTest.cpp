#include <algorithm>
#include <cstring>

#include "UefiTestSupport.h"

namespace sim::test {
namespace {

using PoolTest = UefiTest;

struct Block {
  uint64_t address;
  uint64_t size;
};

TEST_F(PoolTest, BlocksAreAlignedDisjointAndInDramOfTheirType) {
  const struct {
    EFI_MEMORY_TYPE type;
    uint64_t size;
  } requests[] = {{EfiBootServicesData, 1},   {EfiBootServicesData, 7},    {EfiRuntimeServicesData, 8},
                  {EfiBootServicesData, 100}, {EfiACPIMemoryNVS, 5000},    {EfiBootServicesData, 70000},
                  {EfiBootServicesData, 0},   {EfiRuntimeServicesData, 24}};
  std::vector<Block> blocks;
  for (const auto &request : requests) {
    void *buffer = nullptr;
    ASSERT_EQ(Boot().AllocatePool(request.type, request.size, &buffer), EFI_SUCCESS);
    const auto address = reinterpret_cast<uint64_t>(buffer);
    EXPECT_EQ(address % 8, 0u);
    EXPECT_TRUE(core_.Memory().IsMapped(address, std::max<uint64_t>(request.size, 1)));
    EXPECT_EQ(core_.Memory().TypeAt(address), std::optional<uint32_t>(request.type));
    std::memset(buffer, 0xEE, request.size);
    blocks.push_back(Block{address, std::max<uint64_t>(request.size, 1)});
  }
  std::sort(blocks.begin(), blocks.end(), [](const Block &a, const Block &b) { return a.address < b.address; });
  for (size_t index = 1; index < blocks.size(); index++) {
    EXPECT_LE(blocks[index - 1].address + blocks[index - 1].size, blocks[index].address);
  }
  EXPECT_FALSE(Reported("written past its end"));
}

TEST_F(PoolTest, FreeingEveryBlockLeavesNoPoolInTheMap) {
  std::vector<void *> buffers;
  for (uint64_t size : {16, 4000, 20000, 16, 300000}) {
    void *buffer = nullptr;
    ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, size, &buffer), EFI_SUCCESS);
    buffers.push_back(buffer);
  }
  for (void *buffer : buffers) {
    EXPECT_EQ(Boot().FreePool(buffer), EFI_SUCCESS);
  }
  ASSERT_EQ(core_.Memory().Map().size(), 1u);
  EXPECT_EQ(core_.Memory().Map()[0].type, static_cast<uint32_t>(EfiConventionalMemory));
}

TEST_F(PoolTest, FreedSpaceIsReused) {
  void *first = nullptr;
  void *second = nullptr;
  void *keep = nullptr;
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 64, &keep), EFI_SUCCESS);
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 64, &first), EFI_SUCCESS);
  ASSERT_EQ(Boot().FreePool(first), EFI_SUCCESS);
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 64, &second), EFI_SUCCESS);
  EXPECT_EQ(first, second);
}

TEST_F(PoolTest, FreePoolOfAPointerNotFromThePoolIsRefused) {
  void *buffer = nullptr;
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 64, &buffer), EFI_SUCCESS);
  uint64_t pages = 0;
  ASSERT_EQ(Boot().AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, &pages), EFI_SUCCESS);
  int onTheStack = 0;
  void *foreign[] = {&onTheStack, static_cast<uint8_t *>(buffer) + 8, reinterpret_cast<void *>(pages), nullptr};
  for (void *pointer : foreign) {
    EXPECT_EQ(Boot().FreePool(pointer), EFI_INVALID_PARAMETER) << pointer;
  }
  EXPECT_EQ(Boot().FreePool(buffer), EFI_SUCCESS);
  EXPECT_EQ(Boot().FreePool(buffer), EFI_INVALID_PARAMETER);  // the second free of one block
}

TEST_F(PoolTest, WritingPastTheEndOfABlockIsReportedWhenItIsFreed) {
  void *buffer = nullptr;
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 13, &buffer), EFI_SUCCESS);
  static_cast<uint8_t *>(buffer)[13] = 0;
  EXPECT_EQ(Boot().FreePool(buffer), EFI_SUCCESS);
  EXPECT_TRUE(Reported("written past its end"));
}

TEST_F(PoolTest, InvalidPoolRequestsAreRefused) {
  void *buffer = nullptr;
  EXPECT_EQ(Boot().AllocatePool(EfiConventionalMemory, 8, &buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().AllocatePool(EfiPersistentMemory, 8, &buffer), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().AllocatePool(EfiBootServicesData, 8, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().AllocatePool(EfiBootServicesData, kDramSize, &buffer), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(core_.Pool().LiveBlocks(), 0u);
}

}  // namespace
}  // namespace sim::test
