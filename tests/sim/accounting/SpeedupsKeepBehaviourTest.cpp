// The simulator's speed-ups change how the host backs the machine, never what the driver sees:
// reused host memory reads zero like fresh memory, and register stores made page by page read
// back exactly what was written and zero elsewhere.
#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cstring>

#include "sim/devices/ByteStore.h"
#include "sim/uefi/HostMapping.h"

namespace sim {
namespace {

// Where simulated DRAM may lie in every build (the sanitizers keep the memory above 0x7FFF8000),
// and where this executable has nothing else.
constexpr uint64_t kBase = 0x60000000ULL;
constexpr uint64_t kPage = 4096;

uint8_t *At(uint64_t Address) { return reinterpret_cast<uint8_t *>(Address); }

// Reuse is on while a test runs and off (every kept range given back) after it.
class HostMemoryReuseTest : public ::testing::Test {
 protected:
  void SetUp() override { KeepHostPagesForReuse(true); }
  void TearDown() override { KeepHostPagesForReuse(false); }
};

TEST_F(HostMemoryReuseTest, MemoryMappedAgainReadsZeroWhereTheLastBootWrote) {
  ASSERT_EQ(MapHostPages(kBase, 8 * kPage), 0);
  std::memset(At(kBase), 0xA5, 8 * kPage);
  UnmapHostPages(kBase, 8 * kPage);
  // A smaller range inside the one given back, as the next boot's allocation may be.
  ASSERT_EQ(MapHostPages(kBase + 2 * kPage, 3 * kPage), 0);
  for (uint64_t Offset = 0; Offset < 3 * kPage; Offset++) ASSERT_EQ(At(kBase + 2 * kPage)[Offset], 0) << Offset;
  UnmapHostPages(kBase + 2 * kPage, 3 * kPage);
}

TEST_F(HostMemoryReuseTest, RangeOverlappingKeptMemoryIsMappedFreshAndReadsZero) {
  const uint64_t Base = kBase + 0x100000;
  ASSERT_EQ(MapHostPages(Base, 4 * kPage), 0);
  std::memset(At(Base), 0x5A, 4 * kPage);
  UnmapHostPages(Base, 4 * kPage);
  // Reaches past the kept range on both sides: the overlap is given back and mapped anew.
  ASSERT_EQ(MapHostPages(Base - 2 * kPage, 8 * kPage), 0);
  for (uint64_t Offset = 0; Offset < 8 * kPage; Offset++) ASSERT_EQ(At(Base - 2 * kPage)[Offset], 0) << Offset;
  UnmapHostPages(Base - 2 * kPage, 8 * kPage);
}

TEST_F(HostMemoryReuseTest, RangeInUseIsStillRefused) {
  const uint64_t Base = kBase + 0x200000;
  ASSERT_EQ(MapHostPages(Base, 2 * kPage), 0);
  EXPECT_NE(MapHostPages(Base + kPage, kPage), 0);
  UnmapHostPages(Base, 2 * kPage);
}

TEST(HostMemoryReuseOffTest, GivenBackMemoryIsUnmappedAtOnce) {
  const uint64_t Base = kBase + 0x300000;
  ASSERT_EQ(MapHostPages(Base, kPage), 0);
  UnmapHostPages(Base, kPage);
  // Nothing is left at the address: a mapping of the host's own can be placed there.
  void *Own = mmap(At(Base), kPage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  EXPECT_EQ(Own, At(Base));
  if (Own != MAP_FAILED) munmap(Own, kPage);
}

TEST(ByteStoreTest, ReadsBackWritesAcrossPagesAndZeroElsewhere) {
  ByteStore Store(0x100000);
  Store.Set(kPage - 2, 4, 0x11223344);  // two bytes on each side of a page boundary
  Store.Set(0xFFFF8, 8, 0x0102030405060708ULL);
  EXPECT_EQ(Store.Get(kPage - 2, 4), 0x11223344u);
  EXPECT_EQ(Store.Get(kPage, 2), 0x1122u);
  EXPECT_EQ(Store.Get(0xFFFF8, 8), 0x0102030405060708ULL);
  EXPECT_EQ(Store.Get(kPage + 2, 8), 0u);
  EXPECT_EQ(Store.Get(0x80000, 4), 0u);
  EXPECT_THROW(Store.Get(0xFFFFC, 8), std::out_of_range);
  EXPECT_THROW(Store.Set(0x100000, 1, 0), std::out_of_range);
}

}  // namespace
}  // namespace sim
