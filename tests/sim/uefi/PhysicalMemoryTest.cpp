#include <sys/mman.h>

#include <cstring>

#include "UefiTestSupport.h"
#include "sim/uefi/HostMapping.h"
#include "sim/uefi/MemoryTypes.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim::test {
namespace {

class PhysicalMemoryTest : public UefiTest {
 protected:
  PhysicalMemory &Memory() { return core_.Memory(); }
  EFI_STATUS Allocate(EFI_ALLOCATE_TYPE type, uint64_t pages, uint64_t &address,
                      EFI_MEMORY_TYPE memoryType = EfiBootServicesData) {
    return Boot().AllocatePages(type, memoryType, pages, &address);
  }
};

// True when the host has nothing mapped at the page: a probe mapping can take its place.
bool HostPageIsFree(uint64_t address) {
  if (MapHostPages(address, EFI_PAGE_SIZE) != 0) {
    return false;
  }
  UnmapHostPages(address, EFI_PAGE_SIZE);
  return true;
}

TEST_F(PhysicalMemoryTest, AnyPagesComeFromTheTopOfDramAndAreUsableAtTheirAddress) {
  uint64_t address = 0;
  ASSERT_EQ(Allocate(AllocateAnyPages, 4, address), EFI_SUCCESS);
  EXPECT_EQ(address, kDramEnd - 4 * EFI_PAGE_SIZE);
  EXPECT_TRUE(Memory().IsMapped(address, 4 * EFI_PAGE_SIZE));
  EXPECT_FALSE(Memory().IsMapped(address - 1, 2));
  auto *bytes = reinterpret_cast<uint8_t *>(address);
  bytes[0] = 0x5A;
  bytes[4 * EFI_PAGE_SIZE - 1] = 0xA5;
  EXPECT_EQ(bytes[0] + bytes[4 * EFI_PAGE_SIZE - 1], 0xFF);

  uint64_t second = 0;
  ASSERT_EQ(Allocate(AllocateAnyPages, 1, second), EFI_SUCCESS);
  EXPECT_EQ(second, address - EFI_PAGE_SIZE);
}

struct MaxAddressCase {
  uint64_t maxAddress;
  uint64_t pages;
  EFI_STATUS status;
  uint64_t base;
};

class MaxAddressTest : public PhysicalMemoryTest, public ::testing::WithParamInterface<MaxAddressCase> {};

TEST_P(MaxAddressTest, AllocationEndsAtOrBelowTheMaximumAddress) {
  const MaxAddressCase &c = GetParam();
  uint64_t address = c.maxAddress;
  EXPECT_EQ(Allocate(AllocateMaxAddress, c.pages, address), c.status);
  if (c.status == EFI_SUCCESS) {
    EXPECT_EQ(address, c.base);
    EXPECT_LE(address + c.pages * EFI_PAGE_SIZE - 1, c.maxAddress);
  } else {
    EXPECT_EQ(address, c.maxAddress);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, MaxAddressTest,
    ::testing::Values(MaxAddressCase{0x18000FFF, 1, EFI_SUCCESS, 0x18000000},  // last byte exactly at the limit
                      MaxAddressCase{0x18000FFE, 1, EFI_SUCCESS, 0x17FFF000},  // one byte short: a page lower
                      MaxAddressCase{0x18000FFF, 3, EFI_SUCCESS, 0x17FFE000},
                      MaxAddressCase{0xFFFFFFFFFFFFFFFF, 1, EFI_SUCCESS, kDramEnd - EFI_PAGE_SIZE},
                      MaxAddressCase{kDramBase + 0xFFF, 2, EFI_OUT_OF_RESOURCES, 0},
                      MaxAddressCase{kDramBase - 1, 1, EFI_OUT_OF_RESOURCES, 0}));

TEST_F(PhysicalMemoryTest, FixedAddressAllocationLandsExactlyThere) {
  uint64_t address = 0x12345000;
  ASSERT_EQ(Allocate(AllocateAddress, 3, address, EfiACPIMemoryNVS), EFI_SUCCESS);
  EXPECT_EQ(address, 0x12345000u);
  EXPECT_EQ(Memory().TypeAt(0x12347FFF), std::optional<uint32_t>(EfiACPIMemoryNVS));
  EXPECT_EQ(Memory().TypeAt(0x12348000), std::optional<uint32_t>(EfiConventionalMemory));
}

struct FixedCase {
  const char *what;
  uint64_t address;
  uint64_t pages;
  EFI_STATUS status;
};

class FixedAddressTest : public PhysicalMemoryTest, public ::testing::WithParamInterface<FixedCase> {};

TEST_P(FixedAddressTest, FixedRequestIsRefusedUnlessEveryPageIsFreeDram) {
  uint64_t taken = 0x14000000;
  ASSERT_EQ(Allocate(AllocateAddress, 4, taken), EFI_SUCCESS);  // 0x14000000-0x14003FFF
  const uint64_t key = Memory().MapKey();
  uint64_t address = GetParam().address;
  EXPECT_EQ(Allocate(AllocateAddress, GetParam().pages, address), GetParam().status) << GetParam().what;
  EXPECT_EQ(Memory().MapKey() == key, GetParam().status != EFI_SUCCESS) << GetParam().what;
  EXPECT_EQ(address, GetParam().address);
}

INSTANTIATE_TEST_SUITE_P(Requests, FixedAddressTest,
                         ::testing::Values(FixedCase{"same start", 0x14000000, 1, EFI_NOT_FOUND},
                                           FixedCase{"overlaps the start", 0x13FFF000, 2, EFI_NOT_FOUND},
                                           FixedCase{"overlaps the end", 0x14003000, 2, EFI_NOT_FOUND},
                                           FixedCase{"covers it", 0x13FF0000, 0x100, EFI_NOT_FOUND},
                                           FixedCase{"adjacent below", 0x13FFF000, 1, EFI_SUCCESS},
                                           FixedCase{"adjacent above", 0x14004000, 1, EFI_SUCCESS},
                                           FixedCase{"not page aligned", 0x15000001, 1, EFI_NOT_FOUND},
                                           FixedCase{"below DRAM", kDramBase - EFI_PAGE_SIZE, 1, EFI_NOT_FOUND},
                                           FixedCase{"runs past DRAM", kDramEnd - EFI_PAGE_SIZE, 2, EFI_NOT_FOUND}));

struct FreeCase {
  const char *what;
  uint64_t address;
  uint64_t pages;
  EFI_STATUS status;
};

class FreeTest : public PhysicalMemoryTest, public ::testing::WithParamInterface<FreeCase> {};

TEST_P(FreeTest, FreeOfPagesThatWereNotAllocatedIsRefused) {
  uint64_t taken = 0x16000000;
  ASSERT_EQ(Allocate(AllocateAddress, 2, taken), EFI_SUCCESS);
  const uint64_t key = Memory().MapKey();
  EXPECT_EQ(Boot().FreePages(GetParam().address, GetParam().pages), GetParam().status) << GetParam().what;
  EXPECT_EQ(Memory().MapKey(), key);
  EXPECT_TRUE(Memory().IsMapped(0x16000000, 2 * EFI_PAGE_SIZE));
}

INSTANTIATE_TEST_SUITE_P(Requests, FreeTest,
                         ::testing::Values(FreeCase{"never allocated", 0x17000000, 1, EFI_NOT_FOUND},
                                           FreeCase{"runs past the allocation", 0x16001000, 2, EFI_NOT_FOUND},
                                           FreeCase{"starts before the allocation", 0x15FFF000, 2, EFI_NOT_FOUND},
                                           FreeCase{"outside DRAM", 0x30000000, 1, EFI_NOT_FOUND},
                                           FreeCase{"not page aligned", 0x16000800, 1, EFI_INVALID_PARAMETER},
                                           FreeCase{"no pages", 0x16000000, 0, EFI_INVALID_PARAMETER}));

TEST_F(PhysicalMemoryTest, FreeOfPoolPagesIsRefused) {
  void *block = nullptr;
  ASSERT_EQ(Boot().AllocatePool(EfiBootServicesData, 64, &block), EFI_SUCCESS);
  const uint64_t page = reinterpret_cast<uint64_t>(block) & ~(EFI_PAGE_SIZE - 1);
  EXPECT_EQ(Boot().FreePages(page, 1), EFI_NOT_FOUND);
  EXPECT_TRUE(Memory().IsMapped(reinterpret_cast<uint64_t>(block), 64));
}

// A pool block may lie in any page of a larger allocation, not only in its first page.
TEST_F(PhysicalMemoryTest, RangesInsideALargerAllocationAreMapped) {
  uint64_t address = 0;
  ASSERT_EQ(Allocate(AllocateAnyPages, 4, address), EFI_SUCCESS);
  EXPECT_TRUE(Memory().IsMapped(address + 2 * EFI_PAGE_SIZE + 0x100, 32));
  EXPECT_TRUE(Memory().IsMapped(address + EFI_PAGE_SIZE, 3 * EFI_PAGE_SIZE));
  EXPECT_FALSE(Memory().IsMapped(address + 3 * EFI_PAGE_SIZE, 2 * EFI_PAGE_SIZE));
}

TEST_F(PhysicalMemoryTest, FreedPagesReturnToTheMapAndTheHost) {
  uint64_t address = 0;
  ASSERT_EQ(Allocate(AllocateAnyPages, 8, address), EFI_SUCCESS);
  ASSERT_EQ(Boot().FreePages(address + EFI_PAGE_SIZE, 2), EFI_SUCCESS);
  EXPECT_FALSE(Memory().IsMapped(address + EFI_PAGE_SIZE, 1));
  EXPECT_TRUE(HostPageIsFree(address + 2 * EFI_PAGE_SIZE));
  EXPECT_TRUE(Memory().IsMapped(address, EFI_PAGE_SIZE));
  EXPECT_TRUE(Memory().IsMapped(address + 3 * EFI_PAGE_SIZE, 5 * EFI_PAGE_SIZE));
  ASSERT_EQ(Boot().FreePages(address, 1), EFI_SUCCESS);
  ASSERT_EQ(Boot().FreePages(address + 3 * EFI_PAGE_SIZE, 5), EFI_SUCCESS);
  ASSERT_EQ(Memory().Map().size(), 1u);
  EXPECT_EQ(Memory().Map()[0].type, static_cast<uint32_t>(EfiConventionalMemory));
  EXPECT_EQ(Memory().Map()[0].pages, kDramSize / EFI_PAGE_SIZE);
}

TEST_F(PhysicalMemoryTest, MemoryMapMergesAdjacentRangesOfOneTypeOnly) {
  uint64_t a = 0x11000000, b = 0x11001000, c = 0x11002000;
  ASSERT_EQ(Allocate(AllocateAddress, 1, a, EfiRuntimeServicesData), EFI_SUCCESS);
  ASSERT_EQ(Allocate(AllocateAddress, 1, b, EfiRuntimeServicesData), EFI_SUCCESS);
  ASSERT_EQ(Allocate(AllocateAddress, 1, c, EfiACPIReclaimMemory), EFI_SUCCESS);

  UINTN size = 0, key = 0, descriptorSize = 0;
  UINT32 version = 0;
  ASSERT_EQ(Boot().GetMemoryMap(&size, nullptr, &key, &descriptorSize, &version), EFI_BUFFER_TOO_SMALL);
  ASSERT_EQ(descriptorSize, 48u);
  // Conventional below, the two runtime pages as one range, the ACPI page, conventional above.
  ASSERT_EQ(size, 4 * descriptorSize);
  std::vector<uint8_t> buffer(size);
  ASSERT_EQ(Boot().GetMemoryMap(&size, reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(buffer.data()), &key, &descriptorSize,
                                &version),
            EFI_SUCCESS);
  EXPECT_EQ(version, static_cast<UINT32>(EFI_MEMORY_DESCRIPTOR_VERSION));
  EXPECT_EQ(key, Memory().MapKey());
  const struct {
    uint32_t type;
    uint64_t start;
    uint64_t pages;
    bool runtime;
  } expected[] = {{EfiConventionalMemory, kDramBase, 0x1000, false},
                  {EfiRuntimeServicesData, 0x11000000, 2, true},
                  {EfiACPIReclaimMemory, 0x11002000, 1, false},
                  {EfiConventionalMemory, 0x11003000, (kDramEnd - 0x11003000) / EFI_PAGE_SIZE, false}};
  for (size_t index = 0; index < 4; index++) {
    EFI_MEMORY_DESCRIPTOR d;
    std::memcpy(&d, buffer.data() + index * descriptorSize, sizeof(d));
    EXPECT_EQ(d.Type, expected[index].type) << index;
    EXPECT_EQ(d.PhysicalStart, expected[index].start) << index;
    EXPECT_EQ(d.NumberOfPages, expected[index].pages) << index;
    EXPECT_EQ((d.Attribute & EFI_MEMORY_RUNTIME) != 0, expected[index].runtime) << index;
  }
}

TEST_F(PhysicalMemoryTest, MapKeyChangesWithTheMap) {
  UINTN size = 4096, firstKey = 0, secondKey = 0, descriptorSize = 0;
  UINT32 version = 0;
  std::vector<uint8_t> buffer(size);
  auto *map = reinterpret_cast<EFI_MEMORY_DESCRIPTOR *>(buffer.data());
  ASSERT_EQ(Boot().GetMemoryMap(&size, map, &firstKey, &descriptorSize, &version), EFI_SUCCESS);
  uint64_t address = 0;
  ASSERT_EQ(Allocate(AllocateAnyPages, 1, address), EFI_SUCCESS);
  size = buffer.size();
  ASSERT_EQ(Boot().GetMemoryMap(&size, map, &secondKey, &descriptorSize, &version), EFI_SUCCESS);
  EXPECT_NE(firstKey, secondKey);
  size = buffer.size();
  EXPECT_EQ(Boot().GetMemoryMap(&size, nullptr, &secondKey, &descriptorSize, &version), EFI_INVALID_PARAMETER);
}

TEST_F(PhysicalMemoryTest, HostAddressThatCannotBeMappedFailsWithOutOfResources) {
  // The host takes the top page of simulated DRAM first, where a top-down allocation would go.
  const uint64_t top = kDramEnd - EFI_PAGE_SIZE;
  void *hostPage = mmap(reinterpret_cast<void *>(top), EFI_PAGE_SIZE, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  ASSERT_EQ(hostPage, reinterpret_cast<void *>(top));
  const auto before = Memory().Map();
  const uint64_t key = Memory().MapKey();

  uint64_t address = 0x1234;
  EXPECT_EQ(Allocate(AllocateAnyPages, 1, address), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(address, 0x1234u);
  EXPECT_EQ(Memory().MapKey(), key);
  EXPECT_EQ(Memory().Map().size(), before.size());
  EXPECT_TRUE(Reported("at 0x1FFFF000"));
  EXPECT_TRUE(Reported(std::strerror(EEXIST)));

  void *pool = nullptr;
  EXPECT_EQ(Boot().AllocatePool(EfiBootServicesData, 16, &pool), EFI_OUT_OF_RESOURCES);
  uint64_t fixed = 0x18000000;
  EXPECT_EQ(Allocate(AllocateAddress, 1, fixed), EFI_SUCCESS);
  munmap(hostPage, EFI_PAGE_SIZE);
}

struct InvalidCase {
  const char *what;
  EFI_ALLOCATE_TYPE type;
  EFI_MEMORY_TYPE memoryType;
  uint64_t pages;
};

class InvalidAllocationTest : public PhysicalMemoryTest, public ::testing::WithParamInterface<InvalidCase> {};

TEST_P(InvalidAllocationTest, IsRefusedAsInvalidParameter) {
  uint64_t address = 0x18000000;
  EXPECT_EQ(Allocate(GetParam().type, GetParam().pages, address, GetParam().memoryType), EFI_INVALID_PARAMETER)
      << GetParam().what;
  EXPECT_EQ(Memory().Map().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, InvalidAllocationTest,
    ::testing::Values(InvalidCase{"undefined allocate type", MaxAllocateType, EfiBootServicesData, 1},
                      InvalidCase{"free memory type", AllocateAnyPages, EfiConventionalMemory, 1},
                      InvalidCase{"persistent memory type", AllocateAnyPages, EfiPersistentMemory, 1},
                      InvalidCase{"unaccepted memory type", AllocateAddress, EfiUnacceptedMemoryType, 1},
                      InvalidCase{"no pages", AllocateAnyPages, EfiBootServicesData, 0}));

TEST_F(PhysicalMemoryTest, NullAddressPointerIsRefused) {
  EXPECT_EQ(Boot().AllocatePages(AllocateAnyPages, EfiBootServicesData, 1, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(PhysicalMemoryTest, OemAndOsMemoryTypesCanBeAllocated) {
  uint64_t address = 0;
  ASSERT_EQ(Memory().AllocatePages(AllocateAnyPages, 0x80000001U, 1, address), EFI_SUCCESS);
  EXPECT_EQ(Memory().TypeAt(address), std::optional<uint32_t>(0x80000001U));
  EXPECT_EQ(Memory().AllocatePages(AllocateAnyPages, 0x6FFFFFFFU, 1, address), EFI_INVALID_PARAMETER);
}

TEST(MemoryTypeNames, NameStandardTypesAndTheOpenRanges) {
  EXPECT_EQ(MemoryTypeName(EfiBootServicesData), "EfiBootServicesData");
  EXPECT_EQ(MemoryTypeName(EfiUnacceptedMemoryType), "EfiUnacceptedMemoryType");
  EXPECT_EQ(MemoryTypeName(0x70000002U), "OEM 0x70000002");
  EXPECT_EQ(MemoryTypeName(0x80000000U), "OS 0x80000000");
  EXPECT_EQ(MemoryTypeName(0x20U), "invalid 0x00000020");
}

TEST(PhysicalMemoryLifetime, DestroyingTheMemoryUnmapsEverythingItMapped) {
  uint64_t address = 0;
  {
    PhysicalMemory memory({DramRange{0x21000000, 0x100000}}, [](const std::string &) {});
    ASSERT_EQ(memory.AllocatePages(AllocateAnyPages, EfiLoaderData, 16, address), EFI_SUCCESS);
    ASSERT_FALSE(HostPageIsFree(address));
  }
  EXPECT_TRUE(HostPageIsFree(address));
  EXPECT_TRUE(HostPageIsFree(address + 15 * EFI_PAGE_SIZE));
}

TEST(PhysicalMemoryLifetime, BadDramLayoutIsRefused) {
  auto quiet = [](const std::string &) {};
  EXPECT_THROW(PhysicalMemory({DramRange{0x21000800, 0x1000}}, quiet), std::invalid_argument);
  EXPECT_THROW(PhysicalMemory({DramRange{0x21000000, 0}}, quiet), std::invalid_argument);
  EXPECT_THROW(PhysicalMemory({DramRange{0x21000000, 0x2000}, DramRange{0x21001000, 0x1000}}, quiet),
               std::invalid_argument);
}

}  // namespace
}  // namespace sim::test
