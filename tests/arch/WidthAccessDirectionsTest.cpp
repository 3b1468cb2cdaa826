// Port reads and memory writes by width code: a port read fills exactly its width of the value,
// and a memory write stores exactly its width of it.
#include "arch/WidthAccess.h"

#include <gtest/gtest.h>

#include "driver/ImageState.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;

namespace {

struct DirectionCase {
  uint8_t Width;
  unsigned Bytes;
};

uint32_t MaskOf(unsigned Bytes) { return Bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * Bytes)) - 1; }

class WidthDirections : public ::testing::TestWithParam<DirectionCase> {
 protected:
  void SetUp() override {
    ImageLoad();
    gImage.Library.TestPointConfig.FatalStopEnable = 1;
  }
  fake::FakeFirmware Firmware;
};

// The fake platform answers a port read with all ones of the width read.
TEST_P(WidthDirections, PortReadFillsAndMemoryWriteStoresOnlyTheBytesOfItsWidth) {
  uint32_t Read = 0;
  IoReadWidth(GetParam().Width, 0x80, &Read);
  EXPECT_EQ(Read, MaskOf(GetParam().Bytes));
  const uint32_t Written = 0xA1B2C3D4;
  MemWriteWidth(GetParam().Width, 0x3000, &Written);
  ASSERT_EQ(Firmware.Mmio.count(0x3000), 1u);
  EXPECT_EQ(Firmware.Mmio[0x3000], Written & MaskOf(GetParam().Bytes));
}

INSTANTIATE_TEST_SUITE_P(AllCodes, WidthDirections,
                         ::testing::Values(DirectionCase{1, 1}, DirectionCase{0x81, 1}, DirectionCase{2, 2},
                                           DirectionCase{0x82, 2}, DirectionCase{3, 4}, DirectionCase{0x83, 4}));

}  // namespace
