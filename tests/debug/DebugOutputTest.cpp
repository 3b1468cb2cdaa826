// PrintDebugMessage with debug output built in: the level filter, the order of the back-ends,
// the 511-character cut and what an unformattable message still sends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDebugHardware.h"
#include "debug/DebugBackend.h"
#include "debug/DebugPrint.h"

namespace {

namespace image = CCX_IMAGE_NAMESPACE;
using fake::Access;
using fake::AccessKind;

enum Channel { kCapture = 0, kUart = 1, kLegacy = 2, kOther = 3 };

Channel ChannelOf(const Access &Entry) {
  if (Entry.Kind == AccessKind::MmioRead || Entry.Kind == AccessKind::MmioWrite) {
    return kLegacy;  // only the legacy port's set-up touches memory
  }
  if (Entry.Address == 0x80) return kCapture;
  if (Entry.Address >= 0x3F8 && Entry.Address <= 0x3FF) return kUart;
  if (Entry.Address >= 0x2F8 && Entry.Address <= 0x2FF) return kLegacy;
  return kOther;
}

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

class DebugOutput : public testing::Test {
 protected:
  DebugOutput() {
    Hardware.Ports[0x2FB] = 0x03;  // legacy port already set up
  }
  // The one message framed by the capture markers on port 0x80.
  std::vector<uint8_t> Captured() const {
    const std::vector<std::string> Frames = Hardware.CaptureFrames();
    EXPECT_EQ(Frames.size(), 1u);
    return Frames.empty() ? std::vector<uint8_t>() : Bytes(Frames.front());
  }
  fake::FakeDebugHardware Hardware;
};

struct LevelCase {
  const char *Name;
  UINT64 Level;
  bool Admitted;
};

class DebugLevel : public DebugOutput, public testing::WithParamInterface<LevelCase> {};

TEST_P(DebugLevel, FilterDecidesWhetherEveryBackendPrints) {
  image::PrintDebugMessage(GetParam().Level, "A\n");
  if (!GetParam().Admitted) {
    EXPECT_TRUE(Hardware.Log.empty());
    return;
  }
  EXPECT_EQ(Captured(), Bytes("A\r\n"));
  EXPECT_EQ(Hardware.BytesWritten(0x3F8), Bytes("A\r\r\n"));
  EXPECT_EQ(Hardware.BytesWritten(0x2F8), Bytes("A\r\n"));
  // Port capture first, then the UART, then the legacy serial port, each finished before the next.
  std::vector<Channel> Order;
  for (const Access &Entry : Hardware.Log) {
    const Channel Current = ChannelOf(Entry);
    if (Order.empty() || Order.back() != Current) {
      Order.push_back(Current);
    }
  }
  EXPECT_EQ(Order, (std::vector<Channel>{kCapture, kUart, kLegacy}));
}

INSTANTIATE_TEST_SUITE_P(
    DebugOutput, DebugLevel,
    testing::Values(LevelCase{"TraceCpu", TRACE_CPU, true}, LevelCase{"DebugError", DEBUG_ERROR, true},
                    LevelCase{"TraceGeneral", TRACE_GENERAL, true}, LevelCase{"FilterBit3", 0x8, true},
                    LevelCase{"FilterBit60", 1ULL << 60, true}, LevelCase{"TraceConfig", TRACE_CONFIG, false},
                    LevelCase{"TraceHook", TRACE_HOOK, false}, LevelCase{"Bit0", 0x1, false},
                    LevelCase{"NoLevel", 0, false}),
    [](const testing::TestParamInfo<LevelCase> &Info) { return std::string(Info.param.Name); });

TEST_F(DebugOutput, MessageOf511CharactersIsSentWhole) {
  const std::string Text(511, 'x');
  image::PrintDebugMessage(TRACE_CPU, Text.c_str());
  EXPECT_EQ(Captured(), Bytes(Text));
  EXPECT_EQ(Hardware.BytesWritten(0x2F8), Bytes(Text));
}

TEST_F(DebugOutput, MessageOf512CharactersLosesItsLastCharacter) {
  const std::string Text = std::string(511, 'x') + "y";
  image::PrintDebugMessage(TRACE_CPU, Text.c_str());
  EXPECT_EQ(Captured(), Bytes(std::string(511, 'x')));
  EXPECT_EQ(Hardware.BytesWritten(0x2F8), Bytes(std::string(511, 'x')));
}

TEST_F(DebugOutput, ArgumentsAreFormattedIntoTheMessage) {
  image::PrintDebugMessage(DEBUG_ERROR, "[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", "Start",
                           UINT64{0x800000000000000EULL});
  EXPECT_EQ(Captured(), Bytes("[Start] LocateProtocol: gPcdProtocolGuid, Status: Not Found\r\n"));
}

TEST_F(DebugOutput, UnformattableMessageStillReachesEveryBackendEmpty) {
  image::PrintDebugMessage(TRACE_CPU, nullptr);
  const std::vector<Access> Expected = {fake::IoWrite(0x80, 4, 0x5F535452),
                                        fake::IoWrite(0x80, 4, 0x5F454E44)};
  EXPECT_EQ(Hardware.Writes(), Expected);
  // The legacy port checked its set-up and waited for its transmitter; the UART sent nothing.
  EXPECT_EQ(Hardware.PortReads(0x2FB), 1u);
  EXPECT_EQ(Hardware.PortReads(0x2FD), 1u);
  EXPECT_EQ(Hardware.PortReads(0x3FD), 0u);
}

TEST_F(DebugOutput, InitializationSucceedsWithoutTouchingHardware) {
  EXPECT_EQ(image::InitializeDebugOutput(), EFI_SUCCESS);
  EXPECT_TRUE(Hardware.Log.empty());
}

// Back-ends that count how often they are asked, to see that every one is asked.
int gAsked[3];
BOOLEAN AskedYes0() { return ++gAsked[0], TRUE; }
BOOLEAN AskedNo1() { return ++gAsked[1], FALSE; }
BOOLEAN AskedNo2() { return ++gAsked[2], FALSE; }
BOOLEAN AskedNo0() { return ++gAsked[0], FALSE; }

TEST(DebugBackendList, EveryBackendIsAskedEvenAfterAYes) {
  const image::DEBUG_OUTPUT_BACKEND Yes = {AskedYes0, nullptr, nullptr, nullptr};
  const image::DEBUG_OUTPUT_BACKEND No1 = {AskedNo1, nullptr, nullptr, nullptr};
  const image::DEBUG_OUTPUT_BACKEND No2 = {AskedNo2, nullptr, nullptr, nullptr};
  const image::DEBUG_OUTPUT_BACKEND No0 = {AskedNo0, nullptr, nullptr, nullptr};
  gAsked[0] = gAsked[1] = gAsked[2] = 0;
  image::DEBUG_OUTPUT_BACKEND_ENTRY Mixed[] = {&Yes, &No1, &No2, nullptr};
  EXPECT_TRUE(image::AnyDebugBackendSupported(Mixed));
  EXPECT_EQ(gAsked[0] + gAsked[1] + gAsked[2], 3);
  image::DEBUG_OUTPUT_BACKEND_ENTRY None[] = {&No0, &No1, &No2, nullptr};
  EXPECT_FALSE(image::AnyDebugBackendSupported(None));
  image::DEBUG_OUTPUT_BACKEND_ENTRY Empty[] = {nullptr};
  EXPECT_FALSE(image::AnyDebugBackendSupported(Empty));
}

}  // namespace
