// 16550-compatible UART registers. A UART at a base of 0xFFFF or below sits in I/O space with its
// registers one port apart; above that it is memory-mapped with its registers four bytes apart.
#ifndef ARCH_UART16550_H_
#define ARCH_UART16550_H_

#include "arch/Registers.h"

namespace Uart16550 {

// The two standard PC serial port bases.
constexpr uint16_t Com1Base = 0x3F8;
constexpr uint16_t Com2Base = 0x2F8;

constexpr uint64_t HighestIoBase = 0xFFFF;
constexpr uint64_t IoStride = 1;
constexpr uint64_t MmioStride = 4;
constexpr unsigned RegisterCount = 8;

constexpr bool IsMemoryMapped(uint64_t Base) { return Base > HighestIoBase; }
constexpr uint64_t Stride(uint64_t Base) { return IsMemoryMapped(Base) ? MmioStride : IoStride; }
// Where register Index of the UART at Base lies: a port number or a byte address.
constexpr uint64_t RegisterAddress(uint64_t Base, unsigned Index) {
  return IsMemoryMapped(Base) ? Base + MmioStride * Index : ((Base + Index) & 0xFFFF);
}

// Index 0: receive buffer on read, transmit holding on write; divisor latch low byte while the
// divisor latch is selected.
struct Data {
  static constexpr unsigned Index = 0;
};
struct DivisorLatchLow {
  static constexpr unsigned Index = 0;
};

// Index 1: interrupt enable; divisor latch high byte while the divisor latch is selected.
struct InterruptEnable {
  static constexpr unsigned Index = 1;
  using ReceivedData = RegisterBit<0>;
  using TransmitterEmpty = RegisterBit<1>;
  using LineStatus = RegisterBit<2>;
  using ModemStatus = RegisterBit<3>;
  static constexpr uint8_t Writable = 0x0F;
};
struct DivisorLatchHigh {
  static constexpr unsigned Index = 1;
};

// Index 2 on read: which interrupt is pending, and whether the FIFOs are on.
struct InterruptIdentification {
  static constexpr unsigned Index = 2;
  using NoInterruptPending = RegisterBit<0>;
  using InterruptId = RegisterField<3, 1>;
  using FifosEnabled = RegisterField<7, 6>;
  static constexpr uint8_t IdTransmitterEmpty = 1;
  static constexpr uint8_t IdReceivedData = 2;
};

// Index 2 on write: FIFO control.
struct FifoControl {
  static constexpr unsigned Index = 2;
  using FifoEnable = RegisterBit<0>;
  using ClearReceiveFifo = RegisterBit<1>;
  using ClearTransmitFifo = RegisterBit<2>;
  using DmaMode = RegisterBit<3>;
  using ReceiveTrigger = RegisterField<7, 6>;
};

// Index 3: line control. Bit 7 selects the divisor latch at indices 0 and 1.
struct LineControl {
  static constexpr unsigned Index = 3;
  using WordLength = RegisterField<1, 0>;
  using StopBits = RegisterBit<2>;
  using Parity = RegisterField<5, 3>;
  using Break = RegisterBit<6>;
  using DivisorLatchAccess = RegisterBit<7>;
  // The word length, stop-bit and parity bits together.
  using Format = RegisterField<5, 0>;
  // 8 data bits, no parity, one stop bit.
  static constexpr uint8_t Format8N1 = 0x03;
};

// Index 4: modem control. Loop feeds the transmitter back to the receiver and the modem
// control outputs back to the modem status inputs.
struct ModemControl {
  static constexpr unsigned Index = 4;
  using DataTerminalReady = RegisterBit<0>;
  using RequestToSend = RegisterBit<1>;
  using Out1 = RegisterBit<2>;
  using Out2 = RegisterBit<3>;
  using Loop = RegisterBit<4>;
  static constexpr uint8_t Writable = 0x1F;
};

// Index 5: line status. Bits 5 and 6 together mean that the transmitter has taken the last
// byte and is idle.
struct LineStatus {
  static constexpr unsigned Index = 5;
  using DataReady = RegisterBit<0>;
  using OverrunError = RegisterBit<1>;
  using ParityError = RegisterBit<2>;
  using FramingError = RegisterBit<3>;
  using BreakInterrupt = RegisterBit<4>;
  using TransmitHoldingEmpty = RegisterBit<5>;
  using TransmitterEmpty = RegisterBit<6>;
  using ReceiveFifoError = RegisterBit<7>;
};

// Index 6: modem status. The low four bits report changes of the upper four since the last read.
struct ModemStatus {
  static constexpr unsigned Index = 6;
  using DeltaClearToSend = RegisterBit<0>;
  using DeltaDataSetReady = RegisterBit<1>;
  using TrailingEdgeRingIndicator = RegisterBit<2>;
  using DeltaCarrierDetect = RegisterBit<3>;
  using ClearToSend = RegisterBit<4>;
  using DataSetReady = RegisterBit<5>;
  using RingIndicator = RegisterBit<6>;
  using CarrierDetect = RegisterBit<7>;
};

// Index 7: scratch byte with no effect on the UART.
struct Scratch {
  static constexpr unsigned Index = 7;
};

}  // namespace Uart16550

#endif  // ARCH_UART16550_H_
