// The three back-ends on fake hardware: exact port, UART and serial byte sequences, bounded UART
// waits, and the legacy serial port's lazy set-up.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FakeDebugHardware.h"
#include "debug/DebugBackend.h"
#include "debug/LegacySerialBackend.h"
#include "debug/UartBackend.h"

namespace {

namespace image = CCX_IMAGE_NAMESPACE;
using fake::Access;
using fake::AccessKind;
using fake::IoWrite;
using fake::MmioRead;
using fake::MmioWrite;

constexpr uint16_t kUartLineStatus = 0x3FD;
constexpr uint16_t kUartModemStatus = 0x3FE;
constexpr uint16_t kLegacyLineControl = 0x2FB;
constexpr uint16_t kLegacyLineStatus = 0x2FD;

std::vector<uint8_t> Bytes(const std::string &Text) { return std::vector<uint8_t>(Text.begin(), Text.end()); }

class DebugBackend : public testing::Test {
 protected:
  fake::FakeDebugHardware Hardware;
};

TEST_F(DebugBackend, PortCaptureFramesTheTextWithMarkers) {
  image::PortCaptureBackend.Print("A\r\n", 3);
  const std::vector<Access> Expected = {IoWrite(0x80, 4, 0x5F535452), IoWrite(0x80, 1, 'A'),
                                        IoWrite(0x80, 1, '\r'), IoWrite(0x80, 1, '\n'),
                                        IoWrite(0x80, 4, 0x5F454E44)};
  EXPECT_EQ(Hardware.Log, Expected);
}

TEST_F(DebugBackend, PortCaptureSendsBothMarkersForAnEmptyMessage) {
  image::PortCaptureBackend.Print("", 0);
  const std::vector<Access> Expected = {IoWrite(0x80, 4, 0x5F535452), IoWrite(0x80, 4, 0x5F454E44)};
  EXPECT_EQ(Hardware.Log, Expected);
}

TEST_F(DebugBackend, IoUartReadsStatusThenWritesTheHoldingRegister) {
  Hardware.Ports[kUartLineStatus] = 0x60;
  Hardware.Ports[kUartModemStatus] = 0x10;
  EXPECT_TRUE(image::UartWriteByte('Z'));
  const std::vector<Access> Expected = {
      {AccessKind::IoRead, 0x3FD, 1, 0x60}, {AccessKind::IoRead, 0x3FE, 1, 0x10}, IoWrite(0x3F8, 1, 'Z')};
  EXPECT_EQ(Hardware.Log, Expected);
}

TEST_F(DebugBackend, MemoryMappedUartUsesFourByteRegisterSpacing) {
  constexpr uint64_t Base = 0xFEDC9000;
  Hardware.Memory[Base + 0x14] = 0x60;
  Hardware.Memory[Base + 0x18] = 0x10;
  EXPECT_TRUE(image::UartWriteByteAt(Base, 'Z'));
  const std::vector<Access> Expected = {MmioRead(Base + 0x14, 1, 0x60), MmioRead(Base + 0x18, 1, 0x10),
                                        MmioWrite(Base, 1, 'Z')};
  EXPECT_EQ(Hardware.Log, Expected);
}

TEST_F(DebugBackend, IoUartRegisterNumbersWrapAtSixteenBits) {
  EXPECT_TRUE(image::UartWriteByteAt(0xFFFF, 'Z'));
  const std::vector<Access> Expected = {
      {AccessKind::IoRead, 0x0004, 1, 0xFF}, {AccessKind::IoRead, 0x0005, 1, 0xFF}, IoWrite(0xFFFF, 1, 'Z')};
  EXPECT_EQ(Hardware.Log, Expected);
}

TEST_F(DebugBackend, UartBackendTurnsLineFeedIntoCrLf) {
  image::UartBackend.Print("A\r\n", 3);
  EXPECT_EQ(Hardware.BytesWritten(0x3F8), Bytes("A\r\r\n"));
}

// How many status reads show "not ready" before the first ready one, and whether the byte goes out.
struct UartWaitCase {
  const char *Name;
  uint16_t StalledRegister;
  uint64_t NotReady;
  uint64_t Ready;
  size_t NotReadyReads;
  bool Sent;
};

class UartWait : public DebugBackend, public testing::WithParamInterface<UartWaitCase> {};

TEST_P(UartWait, ByteIsDroppedWhenTheWaitRunsOut) {
  const UartWaitCase &Case = GetParam();
  Hardware.Ports[kUartLineStatus] = 0x60;
  Hardware.Ports[kUartModemStatus] = 0x10;
  Hardware.PortReadScript[Case.StalledRegister].assign(Case.NotReadyReads, Case.NotReady);
  Hardware.Ports[Case.StalledRegister] = Case.Ready;
  EXPECT_EQ(image::UartWriteByte('Z') != 0, Case.Sent);
  EXPECT_EQ(Hardware.BytesWritten(0x3F8), Case.Sent ? Bytes("Z") : Bytes(""));
  EXPECT_LE(Hardware.PortReads(Case.StalledRegister), 2000u);
}

INSTANTIATE_TEST_SUITE_P(
    DebugBackend, UartWait,
    testing::Values(UartWaitCase{"TransmitterNeverReady", kUartLineStatus, 0x20, 0x20, 0, false},
                    UartWaitCase{"TransmitterReadyOnRead1999", kUartLineStatus, 0x40, 0x60, 1998, true},
                    UartWaitCase{"TransmitterReadyOnRead2000", kUartLineStatus, 0x00, 0x60, 1999, false},
                    UartWaitCase{"ClearToSendNever", kUartModemStatus, 0x00, 0x00, 0, false},
                    UartWaitCase{"ClearToSendOnRead1999", kUartModemStatus, 0xEF, 0x10, 1998, true},
                    UartWaitCase{"ClearToSendOnRead2000", kUartModemStatus, 0xEF, 0x10, 1999, false}),
    [](const testing::TestParamInfo<UartWaitCase> &Info) { return std::string(Info.param.Name); });

TEST_F(DebugBackend, StalledUartDropsEachByteAfterBoundedWaits) {
  Hardware.Ports[kUartLineStatus] = 0x00;
  EXPECT_EQ(image::UartBackend.Print("AB", 2), 0u);
  EXPECT_EQ(Hardware.PortReads(kUartLineStatus), 4000u);
  EXPECT_TRUE(Hardware.Writes().empty());
}

TEST_F(DebugBackend, UartGoesOnWithTheNextByteAfterADroppedOne) {
  Hardware.PortReadScript[kUartLineStatus].assign(2000, 0x00);
  Hardware.Ports[kUartLineStatus] = 0x60;
  Hardware.Ports[kUartModemStatus] = 0x10;
  EXPECT_EQ(image::UartBackend.Print("AB", 2), 1u);
  EXPECT_EQ(Hardware.BytesWritten(0x3F8), Bytes("B"));
}

TEST_F(DebugBackend, FirstLegacySerialMessageSetsThePortUp) {
  Hardware.Memory[0xFEDCA008] = 0x1234;
  Hardware.Memory[0xFEDC9008] = 0x8000;
  Hardware.Memory[0x3FB000A00FC] = 0x00000001;
  Hardware.Ports[kLegacyLineStatus] = 0x40;
  EXPECT_EQ(image::LegacySerialWrite("A\r\n", 3), 3u);
  const std::vector<Access> Expected = {
      MmioWrite(0xFEDC0020, 2, 0x040A),
      MmioWrite(0xFEDCA008, 2, 0x1235),
      MmioWrite(0x3FB000A00FC, 4, 0x20000001),
      MmioWrite(0xFEDC9008, 2, 0x8001),
      MmioWrite(0x3FB000A00FC, 4, 0x30000001),
      IoWrite(0x2FB, 1, 0x80),
      IoWrite(0x2F9, 1, 0x00),
      IoWrite(0x2F8, 1, 0x01),
      IoWrite(0x2FB, 1, 0x03),
      IoWrite(0x2FA, 1, 0x07),
      IoWrite(0x2FC, 1, 0x00),
      MmioWrite(0xFED80D87, 1, 0),
      MmioWrite(0xFED81720, 1, 0),
      MmioWrite(0xFED80D89, 1, 0),
      MmioWrite(0xFED80D8A, 1, 0),
      MmioWrite(0xFED80D8E, 1, 0),
      MmioWrite(0xFED80D8F, 1, 0),
      MmioWrite(0xFED80D8C, 4, 0),
      IoWrite(0x2F8, 1, 'A'),
      IoWrite(0x2F8, 1, '\r'),
      IoWrite(0x2F8, 1, '\n'),
  };
  EXPECT_EQ(Hardware.Writes(), Expected);
}

TEST_F(DebugBackend, LaterLegacySerialMessagesSkipTheSetUp) {
  Hardware.Ports[kLegacyLineStatus] = 0x40;
  image::LegacySerialWrite("A", 1);
  Hardware.Log.clear();
  image::LegacySerialWrite("BC", 2);
  EXPECT_EQ(Hardware.Writes(), (std::vector<Access>{IoWrite(0x2F8, 1, 'B'), IoWrite(0x2F8, 1, 'C')}));
}

struct LineControlCase {
  uint64_t LineControl;
  bool SetsUp;
};

class LegacyLineControl : public DebugBackend, public testing::WithParamInterface<LineControlCase> {};

TEST_P(LegacyLineControl, OnlyTheLowSixBitsDecideTheSetUp) {
  Hardware.Ports[kLegacyLineControl] = GetParam().LineControl;
  Hardware.Ports[kLegacyLineStatus] = 0x40;
  image::LegacySerialWrite("A", 1);
  EXPECT_EQ(Hardware.Only(AccessKind::MmioWrite).empty(), !GetParam().SetsUp);
}

INSTANTIATE_TEST_SUITE_P(DebugBackend, LegacyLineControl,
                         testing::Values(LineControlCase{0x03, false}, LineControlCase{0x83, false},
                                         LineControlCase{0xC3, false}, LineControlCase{0x1B, true},
                                         LineControlCase{0x00, true}, LineControlCase{0xFF, true}));

TEST_F(DebugBackend, LegacySerialWaitsForAnEmptyTransmitterBeforeEachByte) {
  Hardware.Ports[kLegacyLineControl] = 0x03;
  Hardware.PortReadScript[kLegacyLineStatus] = {0x20, 0x00, 0x40, 0x20, 0x40};
  Hardware.Ports[kLegacyLineStatus] = 0x40;
  image::LegacySerialWrite("AB", 2);
  std::vector<std::string> Sequence;
  for (const Access &Entry : Hardware.Log) {
    if (Entry.Address == kLegacyLineStatus) {
      Sequence.push_back(Entry.Value & 0x40 ? "ready" : "busy");
    } else if (Entry.Kind == AccessKind::IoWrite) {
      Sequence.push_back(std::string(1, static_cast<char>(Entry.Value)));
    }
  }
  EXPECT_EQ(Sequence, (std::vector<std::string>{"busy", "busy", "ready", "A", "busy", "ready", "B"}));
}

TEST_F(DebugBackend, EmptyLegacySerialMessageOnlyWaitsForTheTransmitter) {
  Hardware.Ports[kLegacyLineControl] = 0x03;
  Hardware.PortReadScript[kLegacyLineStatus] = {0x00, 0x00};
  Hardware.Ports[kLegacyLineStatus] = 0x40;
  EXPECT_EQ(image::LegacySerialWrite("", 0), 0u);
  EXPECT_EQ(Hardware.PortReads(kLegacyLineStatus), 3u);
  EXPECT_TRUE(Hardware.Writes().empty());
}

TEST_F(DebugBackend, LegacySerialIgnoresANullBuffer) {
  EXPECT_EQ(image::LegacySerialWrite(nullptr, 5), 0u);
  EXPECT_TRUE(Hardware.Log.empty());
}

}  // namespace
