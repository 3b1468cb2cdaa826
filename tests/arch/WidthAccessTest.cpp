#include "arch/WidthAccess.h"

#include <gtest/gtest.h>

#include "arch/Processor.h"
#include "driver/ImageState.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;

namespace {

struct WidthCase {
  uint8_t Width;
  unsigned Bytes;
};

class WidthAccess : public ::testing::TestWithParam<WidthCase> {
 protected:
  void SetUp() override {
    ImageLoad();
    gImage.Library.TestPointConfig.FatalStopEnable = 1;
  }
  fake::FakeFirmware Firmware;
};

TEST_P(WidthAccess, WritesOnlyTheBytesOfItsWidth) {
  const uint32_t Value = 0x12345678;
  IoWriteWidth(GetParam().Width, 0x80, &Value);
  ASSERT_EQ(Firmware.PortWrites.size(), 1u);
  EXPECT_EQ(Firmware.PortWrites[0].Width, GetParam().Bytes);
  const uint32_t Mask = GetParam().Bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * GetParam().Bytes)) - 1;
  EXPECT_EQ(Firmware.PortWrites[0].Value, Value & Mask);
}

TEST_P(WidthAccess, ReadsOnlyTheBytesOfItsWidthIntoTheValue) {
  Firmware.Mmio[0x1000] = 0xA1B2C3D4;
  uint32_t Value = 0x55555555;
  MemReadWidth(GetParam().Width, 0x1000, &Value);
  const uint32_t Mask = GetParam().Bytes == 4 ? 0xFFFFFFFFu : (1u << (8 * GetParam().Bytes)) - 1;
  EXPECT_EQ(Value & Mask, 0xA1B2C3D4u & Mask);
  EXPECT_EQ(Value & ~Mask, 0x55555555u & ~Mask) << "bytes beyond the width were written";
}

INSTANTIATE_TEST_SUITE_P(AllCodes, WidthAccess,
                         ::testing::Values(WidthCase{1, 1}, WidthCase{0x81, 1}, WidthCase{2, 2}, WidthCase{0x82, 2},
                                           WidthCase{3, 4}, WidthCase{0x83, 4}));

struct BadWidthCase {
  const char *Operation;
  uint32_t FatalCode;
};

class BadWidth : public ::testing::TestWithParam<BadWidthCase> {};

// A code outside the six stops with the operation's own code and then makes no access at all.
TEST_P(BadWidth, StopsWithItsCodeAndMakesNoAccess) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  gImage.Library.TestPointConfig.FatalStopEnable = 1;
  uint32_t Value = 0xCAFEF00D;
  const std::string Operation = GetParam().Operation;
  Firmware.Mmio[0x2000] = 0x11111111;
  if (Operation == "IoRead") IoReadWidth(4, 0x80, &Value);
  if (Operation == "IoWrite") IoWriteWidth(4, 0x80, &Value);
  if (Operation == "MemRead") MemReadWidth(0x84, 0x2000, &Value);
  if (Operation == "MemWrite") MemWriteWidth(0, 0x2000, &Value);
  EXPECT_EQ(Value, 0xCAFEF00Du);
  EXPECT_EQ(Firmware.Mmio[0x2000], 0x11111111u);
  // The fatal stop is the only port traffic: 0xDEAD on 0xE0, then the code on 0x80.
  ASSERT_EQ(Firmware.PortWrites.size(), 2u);
  EXPECT_EQ(Firmware.PortWrites[0], (fake::PortWrite{0xE0, 2, 0xDEAD}));
  EXPECT_EQ(Firmware.PortWrites[1], (fake::PortWrite{0x80, 4, GetParam().FatalCode}));
}

INSTANTIATE_TEST_SUITE_P(EachOperation, BadWidth,
                         ::testing::Values(BadWidthCase{"IoRead", 0x00010098}, BadWidthCase{"IoWrite", 0x00010135},
                                           BadWidthCase{"MemRead", 0x00010279}, BadWidthCase{"MemWrite", 0x00010320}));

}  // namespace
