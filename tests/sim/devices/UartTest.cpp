// The 16550 model at an I/O base and at a memory-mapped base, driven through its bus as a
// driver would drive it.
#include "sim/devices/Uart.h"

#include <gtest/gtest.h>

#include "arch/Uart16550.h"
#include "sim/devices/IoBus.h"
#include "sim/devices/MmioBus.h"

namespace sim {
namespace {

namespace U = ::Uart16550;
using Target = UartProgramming::Target;

class UartPlacement : public ::testing::TestWithParam<uint64_t> {
 protected:
  UartPlacement() : Port("uart", GetParam()) { BusFor().Attach(Port); }

  Bus &BusFor() { return U::IsMemoryMapped(GetParam()) ? static_cast<Bus &>(Memory) : static_cast<Bus &>(Io); }
  uint8_t ReadRegister(unsigned Index) {
    return static_cast<uint8_t>(BusFor().Read(U::RegisterAddress(GetParam(), Index), 1));
  }
  void WriteRegister(unsigned Index, uint8_t Value) { BusFor().Write(U::RegisterAddress(GetParam(), Index), 1, Value); }

  // Sends one byte the way the debug channel does: wait up to 2000 status reads for an idle
  // transmitter, then up to 2000 for clear-to-send, then write.
  bool SendByte(uint8_t Byte) {
    int Count = 2000;
    do {
      --Count;
    } while ((ReadRegister(U::LineStatus::Index) & 0x60) != 0x60 && Count != 0);
    if (Count == 0) {
      return false;
    }
    Count = 2000;
    do {
      --Count;
    } while (!U::ModemStatus::ClearToSend::IsSet(ReadRegister(U::ModemStatus::Index)) && Count != 0);
    if (Count == 0) {
      return false;
    }
    WriteRegister(U::Data::Index, Byte);
    return true;
  }

  IoBus Io;
  MmioBus Memory;
  Uart Port;
};

TEST_P(UartPlacement, DivisorLatchTakesTheDivisorAndRecordsTheSequence) {
  WriteRegister(U::LineControl::Index, 0x80);
  WriteRegister(U::DivisorLatchHigh::Index, 0x00);
  WriteRegister(U::DivisorLatchLow::Index, 0x01);
  WriteRegister(U::LineControl::Index, 0x03);
  WriteRegister(U::FifoControl::Index, 0x07);
  WriteRegister(U::ModemControl::Index, 0x00);
  EXPECT_EQ(Port.Divisor(), 1u);
  EXPECT_EQ(Port.LineControl(), 0x03u);
  EXPECT_TRUE(Port.FifosEnabled());
  EXPECT_EQ(Port.Programming(),
            (std::vector<UartProgramming>{{Target::LineControl, 0x80}, {Target::DivisorHigh, 0x00},
                                          {Target::DivisorLow, 0x01}, {Target::LineControl, 0x03},
                                          {Target::FifoControl, 0x07}, {Target::ModemControl, 0x00}}));
  EXPECT_TRUE(Port.TransmittedText().empty()) << "divisor bytes are not transmitted";
}

TEST_P(UartPlacement, DivisorLatchSelectionSwitchesRegistersZeroAndOne) {
  WriteRegister(U::InterruptEnable::Index, 0x05);
  WriteRegister(U::LineControl::Index, 0x83);
  WriteRegister(U::DivisorLatchLow::Index, 0x0C);
  WriteRegister(U::DivisorLatchHigh::Index, 0x02);
  EXPECT_EQ(ReadRegister(U::DivisorLatchLow::Index), 0x0Cu);
  EXPECT_EQ(ReadRegister(U::DivisorLatchHigh::Index), 0x02u);
  WriteRegister(U::LineControl::Index, 0x03);
  EXPECT_EQ(ReadRegister(U::InterruptEnable::Index), 0x05u);
  EXPECT_EQ(Port.Divisor(), 0x020Cu);
  WriteRegister(U::Data::Index, 'Z');
  EXPECT_EQ(Port.TransmittedText(), "Z");
  EXPECT_EQ(Port.Divisor(), 0x020Cu);
}

TEST_P(UartPlacement, IdleTransmitterReportsBothEmptyBits) {
  uint8_t Status = ReadRegister(U::LineStatus::Index);
  EXPECT_TRUE(U::LineStatus::TransmitHoldingEmpty::IsSet(Status));
  EXPECT_TRUE(U::LineStatus::TransmitterEmpty::IsSet(Status));
  EXPECT_FALSE(U::LineStatus::DataReady::IsSet(Status));
  EXPECT_TRUE(U::ModemStatus::ClearToSend::IsSet(ReadRegister(U::ModemStatus::Index)));
}

TEST_P(UartPlacement, SentBytesBecomeTheTerminalText) {
  for (char C : std::string("A\r\r\n")) {
    ASSERT_TRUE(SendByte(static_cast<uint8_t>(C)));
  }
  EXPECT_EQ(Port.TransmittedText(), "A\r\r\n");
}

TEST_P(UartPlacement, StalledTransmitterIsNeverReadyAndTheByteTimesOut) {
  Port.SetTransmitterStalled(true);
  EXPECT_FALSE(SendByte('A'));
  EXPECT_EQ(ReadRegister(U::LineStatus::Index) & 0x60, 0);
  EXPECT_TRUE(Port.TransmittedText().empty());
  WriteRegister(U::Data::Index, 'B');
  EXPECT_EQ(Port.DroppedBytes(), 1u) << "a byte forced into a stalled transmitter is lost";
  Port.SetTransmitterStalled(false);
  EXPECT_TRUE(SendByte('C'));
  EXPECT_EQ(Port.TransmittedText(), "C");
}

TEST_P(UartPlacement, DisconnectedCableHoldsClearToSendLowAndTheByteTimesOut) {
  Port.SetCableConnected(false);
  EXPECT_FALSE(SendByte('A'));
  EXPECT_TRUE(Port.TransmittedText().empty());
  EXPECT_EQ(ReadRegister(U::LineStatus::Index) & 0x60, 0x60) << "the transmitter itself is ready";
}

TEST_P(UartPlacement, ModemStatusReportsCableChangesOnce) {
  ReadRegister(U::ModemStatus::Index);
  Port.SetCableConnected(false);
  uint8_t First = ReadRegister(U::ModemStatus::Index);
  EXPECT_TRUE(U::ModemStatus::DeltaClearToSend::IsSet(First));
  EXPECT_FALSE(U::ModemStatus::ClearToSend::IsSet(First));
  EXPECT_FALSE(U::ModemStatus::DeltaClearToSend::IsSet(ReadRegister(U::ModemStatus::Index)));
}

TEST_P(UartPlacement, ReceivedBytesAreReadInOrderAndSetDataReady) {
  Port.Receive("ok");
  EXPECT_TRUE(U::LineStatus::DataReady::IsSet(ReadRegister(U::LineStatus::Index)));
  EXPECT_EQ(ReadRegister(U::Data::Index), 'o');
  EXPECT_EQ(ReadRegister(U::Data::Index), 'k');
  EXPECT_FALSE(U::LineStatus::DataReady::IsSet(ReadRegister(U::LineStatus::Index)));
}

TEST_P(UartPlacement, LoopModeReturnsBytesAndModemLinesToTheReceiver) {
  WriteRegister(U::ModemControl::Index, 0x12);  // loop, request to send
  WriteRegister(U::Data::Index, 'L');
  EXPECT_TRUE(Port.TransmittedText().empty());
  EXPECT_EQ(ReadRegister(U::Data::Index), 'L');
  uint8_t Status = ReadRegister(U::ModemStatus::Index);
  EXPECT_TRUE(U::ModemStatus::ClearToSend::IsSet(Status));
  EXPECT_FALSE(U::ModemStatus::DataSetReady::IsSet(Status));
}

TEST_P(UartPlacement, FifoStateShowsInInterruptIdentification) {
  EXPECT_EQ(ReadRegister(U::InterruptIdentification::Index), 0x01);
  WriteRegister(U::FifoControl::Index, 0x07);
  EXPECT_EQ(ReadRegister(U::InterruptIdentification::Index), 0xC1);
  Port.Receive("x");
  WriteRegister(U::InterruptEnable::Index, 0x03);
  EXPECT_EQ(U::InterruptIdentification::InterruptId::Get(ReadRegister(U::InterruptIdentification::Index)),
            U::InterruptIdentification::IdReceivedData);
}

INSTANTIATE_TEST_SUITE_P(Bases, UartPlacement, ::testing::Values(0x3F8, 0x2F8, 0xFE030000),
                         [](const auto &Info) {
                           return U::IsMemoryMapped(Info.param) ? std::string("MemoryMapped")
                                                                : "Port" + std::to_string(Info.param);
                         });

TEST(Uart, MemoryMappedRegistersLieFourBytesApartAndAnswerWideReads) {
  MmioBus Memory;
  Uart Port("mmio", 0xFE030000);
  Memory.Attach(Port);
  EXPECT_EQ(Port.Ranges()[0].Size, 0x20u);
  EXPECT_EQ(Memory.Read(0xFE030014, 4), 0x60u) << "the line status byte with its three unused bytes";
  Memory.Write(0xFE030000, 4, 0x41);
  EXPECT_EQ(Port.TransmittedText(), "A");
  EXPECT_EQ(Memory.UnclaimedReadCount(), 0u);
}

}  // namespace
}  // namespace sim
