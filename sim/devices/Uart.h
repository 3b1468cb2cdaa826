// A 16550-compatible UART, at an I/O base (registers one port apart) or a memory-mapped base
// (registers four bytes apart). It transmits at once: every byte written to the transmit holding
// register becomes part of the text a terminal on the other end would have received. Tests can
// stall it (the transmitter never reports ready, or the cable drops clear-to-send) to exercise a
// driver's time-outs, and read back how the driver programmed it.
#ifndef SIM_DEVICES_UART_H_
#define SIM_DEVICES_UART_H_

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "sim/devices/Device.h"
#include "sim/devices/RegisterBank.h"

namespace sim {

// A programming write as the UART understood it: which register it reached after the divisor
// latch selection, and the byte written.
struct UartProgramming {
  enum class Target { DivisorLow, DivisorHigh, InterruptEnable, FifoControl, LineControl, ModemControl };
  Target Register;
  uint8_t Value;

  bool operator==(const UartProgramming &) const = default;
};

const char *Describe(UartProgramming::Target Register);

class Uart : public Device {
 public:
  Uart(std::string Name, uint64_t Base);

  std::vector<AddressRange> Ranges() const override;
  uint64_t Base() const { return Base_; }

  std::string TransmittedText() const;
  void ClearTransmitted();
  // Every programming write in order: divisor bytes, interrupt enable, FIFO, line and modem
  // control.
  std::vector<UartProgramming> Programming() const;
  uint16_t Divisor() const;
  uint8_t LineControl() const;
  uint8_t ModemControl() const;
  bool FifosEnabled() const;

  // A stalled transmitter never reports ready and drops whatever is written to it.
  void SetTransmitterStalled(bool Stalled);
  // With the cable disconnected the modem inputs (clear to send, data set ready, carrier detect)
  // are low. Bytes are still sent if written; a careful driver does not write them.
  void SetCableConnected(bool Connected);
  // Bytes written while the transmitter was stalled, which no terminal received.
  uint64_t DroppedBytes() const;
  // Queues bytes as if a terminal had sent them.
  void Receive(std::string_view Bytes);

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override;
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override;

 private:
  void DefineRegisters();
  bool DivisorLatchSelected() const;
  void Record(UartProgramming::Target Register, uint8_t Value);
  void Transmit(uint8_t Byte);
  uint8_t ReceiveBuffer();
  uint8_t InterruptIdentification() const;
  uint8_t LineStatus() const;
  // The modem status inputs (the upper four bits of the modem status register).
  uint8_t ModemInputs() const;
  uint8_t ReadModemStatus();

  uint64_t Base_;
  uint64_t Stride_;
  RegisterBank Bank_;

  uint8_t DivisorLow_ = 0;
  uint8_t DivisorHigh_ = 0;
  uint8_t InterruptEnable_ = 0;
  uint8_t FifoControl_ = 0;
  uint8_t LineControl_ = 0;
  uint8_t ModemControl_ = 0;
  uint8_t Scratch_ = 0;
  uint8_t ReportedModemInputs_ = 0;

  bool TransmitterStalled_ = false;
  bool CableConnected_ = true;
  std::string Transmitted_;
  std::deque<uint8_t> Received_;
  std::vector<UartProgramming> Programming_;
  uint64_t Dropped_ = 0;
};

}  // namespace sim

#endif  // SIM_DEVICES_UART_H_
