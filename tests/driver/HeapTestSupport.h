// Support for unit tests of the shared heap and the HOB walk against the fake firmware: a HOB list
// laid out in host memory and published in the configuration table, and a pool that records the
// memory type of each allocation, fails when told to, and frees everything when the test ends
// (the heap never frees its nodes).
#ifndef TESTS_DRIVER_HEAP_TEST_SUPPORT_H_
#define TESTS_DRIVER_HEAP_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "interfaces/HeapProtocol.h"
#include "sim/uefi/HobListBuilder.h"
#include "tests/support/FakeFirmware.h"

namespace heaptest {

// The data of a heap HOB: the buffer header, then the buffer's bytes. Size defaults to the data's
// length.
std::vector<uint8_t> HeapRecord(uint32_t Handle, uint8_t Persistence, const std::vector<uint8_t> &Data,
                                std::optional<uint32_t> Size = {}, uint8_t Valid = HEAP_BUFFER_VALID,
                                uint32_t Signature = HEAP_SIGNATURE);

struct PoolBlock {
  uint32_t Type;
  uint64_t Size;
  void *Address;
};

class HeapFixture : public ::testing::Test {
 protected:
  HeapFixture();
  ~HeapFixture() override;

  // Places the list in host memory, followed by After (bytes that lie beyond the list's end), and
  // publishes it under gEfiHobListGuid. Returns the list's address.
  uint64_t PublishHobList(const sim::HobListBuilder &Builder, std::span<const uint8_t> After = {});
  // Publishes bytes as they are, for lists without a handoff table.
  uint64_t PublishRawHobList(std::span<const uint8_t> Bytes);

 public:
  // Pool allocations of the code under test, in order.
  std::vector<PoolBlock> Pool;
  // Memory types whose allocations fail with EFI_OUT_OF_RESOURCES.
  std::set<uint32_t> FailingPoolTypes;
  fake::FakeFirmware Firmware;

  // The fatal-stop codes the code under test put on port 0x80.
  std::vector<uint32_t> FatalStops() const;

 private:
  uint64_t Publish(std::vector<uint64_t> &&Storage);
  // Every list published, kept until the test ends.
  std::vector<std::vector<uint64_t>> Storage_;
  EFI_CONFIGURATION_TABLE Table_{};
};

}  // namespace heaptest

#endif  // TESTS_DRIVER_HEAP_TEST_SUPPORT_H_
