// TestPoint and its mirror: the value on port 0x80 at each configured width, the printed text,
// and which selectors write the sideband pair.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDebugHardware.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"

namespace {

namespace image = CCX_IMAGE_NAMESPACE;
using fake::Access;
using fake::IoWrite;
using fake::MmioWrite;

// The record as the library start-up fills it.
TEST_POINT_CONFIG StartupConfig() {
  TEST_POINT_CONFIG Config = {};
  Config.TestPointPortEnable = 1;
  Config.TestPointPortWidth = 3;
  Config.FatalStopEnable = 1;
  Config.TestPointMirrorCall = 0;
  Config.TestPointMirrorEnable = 0;
  Config.TestPointMirrorSelector = 2;
  Config.TestPointMirrorFallback = 2;
  Config.TestPointMirrorTag = 0x03E30600;
  return Config;
}

class TestPointFixture : public testing::Test {
 protected:
  TestPointFixture() {
    image::ImageLoad();
    Hardware.Ports[0x2FB] = 0x03;  // legacy serial port already set up
  }
  ~TestPointFixture() override { image::ImageLoad(); }
  TEST_POINT_CONFIG &Config() { return image::gImage.Library.TestPointConfig; }
  // The one message the port-capture back-end framed on port 0x80.
  std::string CapturedText() const {
    const std::vector<std::string> Frames = Hardware.CaptureFrames();
    EXPECT_EQ(Frames.size(), 1u);
    return Frames.empty() ? std::string() : Frames.front();
  }
  fake::FakeDebugHardware Hardware;
};

using TestPointOutput = TestPointFixture;

TEST_F(TestPointOutput, StartupConfigShowsTheCodeAndPrintsIt) {
  Config() = StartupConfig();
  image::TestPoint(0xAC55);
  ASSERT_FALSE(Hardware.Log.empty());
  EXPECT_EQ(Hardware.Log.front(), IoWrite(0x80, 4, 0xB000AC55));
  EXPECT_EQ(CapturedText(), "VELTA_TP:[B000AC55]\r\n");
  EXPECT_TRUE(Hardware.Only(fake::AccessKind::MmioWrite).empty());
  EXPECT_TRUE(Hardware.Only(fake::AccessKind::MmioRead).empty());
}

TEST_F(TestPointOutput, CodeAA55IsShownDoubled) {
  Config() = StartupConfig();
  image::TestPoint(0xAA55);
  EXPECT_EQ(Hardware.Log.front(), IoWrite(0x80, 4, 0xAA55AA55));
  EXPECT_EQ(CapturedText(), "VELTA_TP:[AA55AA55]\r\n");
}

TEST_F(TestPointOutput, DisabledPortWritesAndPrintsNothing) {
  Config() = StartupConfig();
  Config().TestPointPortEnable = 0;
  image::TestPoint(0xAC55);
  EXPECT_TRUE(Hardware.Log.empty());
}

TEST_F(TestPointOutput, AllZeroRecordDoesNothing) {
  image::TestPoint(0xAC55);
  image::TestPoint(0xAA55);
  EXPECT_TRUE(Hardware.Log.empty());
}

struct WidthCase {
  UINT8 Configured;
  unsigned Bytes;
  uint64_t Shown;
};

class TestPointWidth : public TestPointFixture, public testing::WithParamInterface<WidthCase> {};

TEST_P(TestPointWidth, PortWriteHasTheConfiguredWidth) {
  Config() = StartupConfig();
  Config().TestPointPortWidth = GetParam().Configured;
  image::TestPoint(0xAC55);
  EXPECT_EQ(Hardware.Log.front(), IoWrite(0x80, GetParam().Bytes, GetParam().Shown));
  EXPECT_EQ(CapturedText(), "VELTA_TP:[B000AC55]\r\n");
}

INSTANTIATE_TEST_SUITE_P(TestPoint, TestPointWidth,
                         testing::Values(WidthCase{0x01, 1, 0x55}, WidthCase{0x81, 1, 0x55},
                                         WidthCase{0x02, 2, 0xAC55}, WidthCase{0x82, 2, 0xAC55},
                                         WidthCase{0x03, 4, 0xB000AC55}, WidthCase{0x83, 4, 0xB000AC55},
                                         WidthCase{0x00, 4, 0xB000AC55}, WidthCase{0x04, 4, 0xB000AC55},
                                         WidthCase{0xFF, 4, 0xB000AC55}));

struct MirrorCase {
  const char *Name;
  UINT8 Call;
  UINT8 Enable;
  UINT8 Selector;
  UINT8 Fallback;
  bool Writes;
};

class TestPointMirrorSelection : public TestPointFixture, public testing::WithParamInterface<MirrorCase> {};

TEST_P(TestPointMirrorSelection, WritesTheSidebandPairOnlyWhenSelected) {
  Config() = StartupConfig();
  Config().TestPointPortEnable = 0;
  Config().TestPointMirrorCall = GetParam().Call;
  Config().TestPointMirrorEnable = GetParam().Enable;
  Config().TestPointMirrorSelector = GetParam().Selector;
  Config().TestPointMirrorFallback = GetParam().Fallback;
  image::TestPoint(0xAC55);
  const std::vector<Access> Expected = GetParam().Writes
                                           ? std::vector<Access>{MmioWrite(0x3FB000000B8, 4, 0x03E30600),
                                                                 MmioWrite(0x3FB000000BC, 4, 0xB000AC55)}
                                           : std::vector<Access>{};
  EXPECT_EQ(Hardware.Log, Expected);
}

INSTANTIATE_TEST_SUITE_P(TestPoint, TestPointMirrorSelection,
                         testing::Values(MirrorCase{"FallbackThree", 1, 1, 0x0F, 3, true},
                                         MirrorCase{"FallbackTwo", 1, 1, 0x0F, 2, true},
                                         MirrorCase{"SelectorTwo", 1, 1, 2, 0x0F, true},
                                         MirrorCase{"SelectorThree", 1, 1, 3, 0, true},
                                         MirrorCase{"FallbackUnset", 1, 1, 0x0F, 0x0F, false},
                                         MirrorCase{"SelectorFour", 1, 1, 4, 2, false},
                                         MirrorCase{"SelectorZero", 1, 1, 0, 2, false},
                                         MirrorCase{"MirrorDisabled", 1, 0, 2, 2, false},
                                         MirrorCase{"MirrorNotCalled", 0, 1, 2, 2, false}),
                         [](const testing::TestParamInfo<MirrorCase> &Info) {
                           return std::string(Info.param.Name);
                         });

TEST_F(TestPointOutput, MirrorFollowsThePortWrite) {
  Config() = StartupConfig();
  Config().TestPointMirrorCall = 1;
  Config().TestPointMirrorEnable = 1;
  Config().TestPointMirrorTag = 0x12345678;
  image::TestPoint(0xAA55);
  const std::vector<Access> Memory = Hardware.Only(fake::AccessKind::MmioWrite);
  EXPECT_EQ(Memory, (std::vector<Access>{MmioWrite(0x3FB000000B8, 4, 0x12345678),
                                         MmioWrite(0x3FB000000BC, 4, 0xAA55AA55)}));
  EXPECT_EQ(Hardware.Log.front(), IoWrite(0x80, 4, 0xAA55AA55));
  EXPECT_EQ(Hardware.Log.back(), MmioWrite(0x3FB000000BC, 4, 0xAA55AA55));
}

}  // namespace
