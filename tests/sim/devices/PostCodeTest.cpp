// The POST-code ports' ordered trace and how it decodes into test points, fatal stops and
// captured debug text.
#include "sim/devices/PostCodePorts.h"

#include <gtest/gtest.h>

#include <thread>

#include "arch/PostCode.h"
#include "sim/devices/IoBus.h"
#include "sim/devices/PostCodeDecoder.h"

namespace sim {
namespace {

class PostCodes : public ::testing::Test {
 protected:
  PostCodes() { Bus.Attach(Ports); }
  IoBus Bus;
  PostCodePorts Ports;
};

TEST_F(PostCodes, WritesToBothPortsKeepOneOrder) {
  Bus.WritePort(0x80, 4, 0xB000AC55);
  Bus.WritePort(0xE0, 2, 0xDEAD);
  Bus.WritePort(0x80, 4, 0x30910235);
  Bus.WritePort(0x80, 1, 0x55);
  EXPECT_EQ(Ports.Writes(), (std::vector<PostCodeWrite>{
                                {0x80, 4, 0xB000AC55}, {0xE0, 2, 0xDEAD}, {0x80, 4, 0x30910235}, {0x80, 1, 0x55}}));
}

TEST_F(PostCodes, ReadReturnsTheLastValueWrittenToThatPort) {
  Bus.WritePort(0x80, 4, 0xB000AC55);
  Bus.WritePort(0xE0, 2, 0xDEAD);
  EXPECT_EQ(Bus.ReadPort(0x80, 4), 0xB000AC55u);
  EXPECT_EQ(Bus.ReadPort(0x80, 2), 0xAC55u);
  EXPECT_EQ(Bus.ReadPort(0xE0, 2), 0xDEADu);
  Bus.WritePort(0x80, 1, 0x12);
  EXPECT_EQ(Bus.ReadPort(0x80, 4), 0x12u) << "a write to the port itself replaces the whole display";
  EXPECT_EQ(Bus.UnclaimedReadCount(), 0u);
}

TEST_F(PostCodes, FatalStopIsDecodedFromMarkerThenCode) {
  Bus.WritePort(0x80, 4, 0xB000AC55);
  Bus.WritePort(0xE0, 2, 0xDEAD);
  Bus.WritePort(0x80, 4, 0x30910235);
  Bus.WritePort(0x80, 4, 0xB000ACE5);
  DecodedPostCodes Decoded = DecodePostCodes(Ports.Writes());
  ASSERT_EQ(Decoded.FatalStops.size(), 1u);
  EXPECT_EQ(Decoded.FatalStops[0].Code, 0x30910235u);
  ASSERT_EQ(Decoded.TestPoints.size(), 2u);
  EXPECT_LT(Decoded.TestPoints[0].Position, Decoded.FatalStops[0].Position);
  EXPECT_GT(Decoded.TestPoints[1].Position, Decoded.FatalStops[0].Position);
  EXPECT_TRUE(Decoded.Unrecognized.empty());
}

TEST(PostCodeDecoder, MarkerWithoutCodeAndStrayWritesAreUnrecognized) {
  DecodedPostCodes Decoded = DecodePostCodes({{0xE0, 2, 0xDEAD}, {0x80, 1, 0x11}, {0xE0, 1, 0x7}, {0xE0, 2, 0xDEAD}});
  EXPECT_TRUE(Decoded.FatalStops.empty());
  EXPECT_EQ(Decoded.Unrecognized, (std::vector<size_t>{0, 2, 3}));
  ASSERT_EQ(Decoded.TestPoints.size(), 1u);
  EXPECT_EQ(Decoded.TestPoints[0].Value, 0x11u);
}

TEST(PostCodeDecoder, CapturedTextIsFramedByMarkersAndKeptApartFromTestPoints) {
  std::vector<PostCodeWrite> Trace = {{0x80, 4, PostCode::CaptureStartMarker}};
  for (char C : std::string("Hi\r\n")) {
    Trace.push_back({0x80, 1, static_cast<uint8_t>(C)});
  }
  Trace.push_back({0x80, 4, PostCode::CaptureEndMarker});
  Trace.push_back({0x80, 1, 0x55});
  Trace.push_back({0x80, 4, PostCode::CaptureStartMarker});
  Trace.push_back({0x80, 1, 'x'});
  DecodedPostCodes Decoded = DecodePostCodes(Trace);
  ASSERT_EQ(Decoded.Messages.size(), 2u);
  EXPECT_EQ(Decoded.Messages[0].Text, "Hi\r\n");
  EXPECT_TRUE(Decoded.Messages[0].Complete);
  EXPECT_EQ(Decoded.Messages[1].Text, "x");
  EXPECT_FALSE(Decoded.Messages[1].Complete);
  ASSERT_EQ(Decoded.TestPoints.size(), 1u);
  EXPECT_EQ(Decoded.TestPoints[0].Width, 1u);
}

struct CodeCase {
  uint32_t Code;
  uint32_t Shown;
};

class TestPointCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(TestPointCodes, ShownValueDecodesBackToTheCode) {
  EXPECT_EQ(PostCode::TestPointValue(GetParam().Code), GetParam().Shown);
  EXPECT_EQ(TestPointCode(GetParam().Shown), GetParam().Code);
}

INSTANTIATE_TEST_SUITE_P(Codes, TestPointCodes,
                         ::testing::Values(CodeCase{0xAC55, 0xB000AC55}, CodeCase{0xACE8, 0xB000ACE8},
                                           CodeCase{0xAC10, 0xB000AC10}, CodeCase{0xAA55, 0xAA55AA55}));

TEST(PostCodeDecoder, ValueNoTestPointShowsHasNoCode) {
  EXPECT_FALSE(TestPointCode(0x30910235).has_value());
  EXPECT_FALSE(TestPointCode(0x5F535452).has_value());
}

TEST_F(PostCodes, ConcurrentWritersEachKeepTheirOwnOrder) {
  constexpr uint32_t Writers = 4;
  constexpr uint32_t PerWriter = 1000;
  std::vector<std::thread> Threads;
  for (uint32_t W = 0; W < Writers; ++W) {
    Threads.emplace_back([this, W] {
      for (uint32_t I = 0; I < PerWriter; ++I) {
        Bus.WritePort(0x80, 4, W << 24 | I);
      }
    });
  }
  for (std::thread &Thread : Threads) {
    Thread.join();
  }
  std::vector<PostCodeWrite> Writes = Ports.Writes();
  ASSERT_EQ(Writes.size(), Writers * PerWriter);
  std::vector<uint32_t> Next(Writers, 0);
  for (const PostCodeWrite &Write : Writes) {
    uint32_t Writer = Write.Value >> 24;
    ASSERT_LT(Writer, Writers);
    EXPECT_EQ(Write.Value & 0xFFFFFF, Next[Writer]++);
  }
}

}  // namespace
}  // namespace sim
