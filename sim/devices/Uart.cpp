#include "sim/devices/Uart.h"

#include "arch/Uart16550.h"

namespace sim {

namespace U = ::Uart16550;

const char *Describe(UartProgramming::Target Register) {
  switch (Register) {
    case UartProgramming::Target::DivisorLow:
      return "divisor low";
    case UartProgramming::Target::DivisorHigh:
      return "divisor high";
    case UartProgramming::Target::InterruptEnable:
      return "interrupt enable";
    case UartProgramming::Target::FifoControl:
      return "FIFO control";
    case UartProgramming::Target::LineControl:
      return "line control";
    case UartProgramming::Target::ModemControl:
      return "modem control";
  }
  return "unknown";
}

Uart::Uart(std::string Name, uint64_t Base)
    : Device(std::move(Name)), Base_(Base), Stride_(U::Stride(Base)), Bank_(this->Name()) {
  ReportedModemInputs_ = ModemInputs();
  DefineRegisters();
}

void Uart::DefineRegisters() {
  using Target = UartProgramming::Target;
  auto At = [this](unsigned Index) { return Index * Stride_; };
  Bank_.Define({"Data", At(U::Data::Index), 1,
                [this]() -> uint64_t { return DivisorLatchSelected() ? DivisorLow_ : ReceiveBuffer(); },
                [this](uint64_t Value) {
                  if (DivisorLatchSelected()) {
                    DivisorLow_ = static_cast<uint8_t>(Value);
                    Record(Target::DivisorLow, DivisorLow_);
                  } else {
                    Transmit(static_cast<uint8_t>(Value));
                  }
                }});
  Bank_.Define({"InterruptEnable", At(U::InterruptEnable::Index), 1,
                [this]() -> uint64_t { return DivisorLatchSelected() ? DivisorHigh_ : InterruptEnable_; },
                [this](uint64_t Value) {
                  if (DivisorLatchSelected()) {
                    DivisorHigh_ = static_cast<uint8_t>(Value);
                    Record(Target::DivisorHigh, DivisorHigh_);
                  } else {
                    InterruptEnable_ = static_cast<uint8_t>(Value & U::InterruptEnable::Writable);
                    Record(Target::InterruptEnable, static_cast<uint8_t>(Value));
                  }
                }});
  Bank_.Define({"InterruptIdentification/FifoControl", At(U::FifoControl::Index), 1,
                [this]() -> uint64_t { return InterruptIdentification(); },
                [this](uint64_t Value) {
                  FifoControl_ = static_cast<uint8_t>(Value);
                  Record(Target::FifoControl, FifoControl_);
                  if (U::FifoControl::ClearReceiveFifo::IsSet(Value)) {
                    Received_.clear();
                  }
                }});
  Bank_.Define({"LineControl", At(U::LineControl::Index), 1, [this]() -> uint64_t { return LineControl_; },
                [this](uint64_t Value) {
                  LineControl_ = static_cast<uint8_t>(Value);
                  Record(Target::LineControl, LineControl_);
                }});
  Bank_.Define({"ModemControl", At(U::ModemControl::Index), 1, [this]() -> uint64_t { return ModemControl_; },
                [this](uint64_t Value) {
                  ModemControl_ = static_cast<uint8_t>(Value & U::ModemControl::Writable);
                  Record(Target::ModemControl, static_cast<uint8_t>(Value));
                }});
  // The status registers are read-only here; writes to them are factory-test features.
  Bank_.Define({"LineStatus", At(U::LineStatus::Index), 1, [this]() -> uint64_t { return LineStatus(); }, {}});
  Bank_.Define({"ModemStatus", At(U::ModemStatus::Index), 1, [this]() -> uint64_t { return ReadModemStatus(); }, {}});
  Bank_.Define({"Scratch", At(U::Scratch::Index), 1, [this]() -> uint64_t { return Scratch_; },
                [this](uint64_t Value) { Scratch_ = static_cast<uint8_t>(Value); }});
}

std::vector<AddressRange> Uart::Ranges() const { return {{Base_, U::RegisterCount * Stride_}}; }

uint64_t Uart::OnRead(uint64_t Address, unsigned Width) { return Bank_.Read(Address - Base_, Width); }

void Uart::OnWrite(uint64_t Address, unsigned Width, uint64_t Value) { Bank_.Write(Address - Base_, Width, Value); }

bool Uart::DivisorLatchSelected() const { return U::LineControl::DivisorLatchAccess::IsSet(LineControl_); }

void Uart::Record(UartProgramming::Target Register, uint8_t Value) { Programming_.push_back({Register, Value}); }

void Uart::Transmit(uint8_t Byte) {
  if (TransmitterStalled_) {
    ++Dropped_;
  } else if (U::ModemControl::Loop::IsSet(ModemControl_)) {
    Received_.push_back(Byte);
  } else {
    Transmitted_.push_back(static_cast<char>(Byte));
  }
}

uint8_t Uart::ReceiveBuffer() {
  if (Received_.empty()) {
    return 0;
  }
  uint8_t Byte = Received_.front();
  Received_.pop_front();
  return Byte;
}

uint8_t Uart::InterruptIdentification() const {
  uint64_t Value = U::InterruptIdentification::NoInterruptPending::Set(0, 1);
  if (U::FifoControl::FifoEnable::IsSet(FifoControl_)) {
    Value = U::InterruptIdentification::FifosEnabled::Set(Value, 3);
  }
  // Received data outranks an empty transmitter, as on the 16550.
  uint64_t Pending = 0;
  if (U::InterruptEnable::ReceivedData::IsSet(InterruptEnable_) && !Received_.empty()) {
    Pending = U::InterruptIdentification::IdReceivedData;
  } else if (U::InterruptEnable::TransmitterEmpty::IsSet(InterruptEnable_) && !TransmitterStalled_) {
    Pending = U::InterruptIdentification::IdTransmitterEmpty;
  }
  if (Pending != 0) {
    Value = U::InterruptIdentification::NoInterruptPending::Set(Value, 0);
    Value = U::InterruptIdentification::InterruptId::Set(Value, Pending);
  }
  return static_cast<uint8_t>(Value);
}

uint8_t Uart::LineStatus() const {
  uint64_t Value = U::LineStatus::DataReady::Set(0, Received_.empty() ? 0 : 1);
  if (!TransmitterStalled_) {
    Value = U::LineStatus::TransmitHoldingEmpty::Set(Value, 1);
    Value = U::LineStatus::TransmitterEmpty::Set(Value, 1);
  }
  return static_cast<uint8_t>(Value);
}

uint8_t Uart::ModemInputs() const {
  uint64_t Value = 0;
  if (U::ModemControl::Loop::IsSet(ModemControl_)) {
    // In loop mode the modem control outputs come back as the modem status inputs.
    Value = U::ModemStatus::ClearToSend::Set(Value, U::ModemControl::RequestToSend::Get(ModemControl_));
    Value = U::ModemStatus::DataSetReady::Set(Value, U::ModemControl::DataTerminalReady::Get(ModemControl_));
    Value = U::ModemStatus::RingIndicator::Set(Value, U::ModemControl::Out1::Get(ModemControl_));
    Value = U::ModemStatus::CarrierDetect::Set(Value, U::ModemControl::Out2::Get(ModemControl_));
  } else if (CableConnected_) {
    Value = U::ModemStatus::ClearToSend::Set(Value, 1);
    Value = U::ModemStatus::DataSetReady::Set(Value, 1);
    Value = U::ModemStatus::CarrierDetect::Set(Value, 1);
  }
  return static_cast<uint8_t>(Value);
}

uint8_t Uart::ReadModemStatus() {
  uint8_t Now = ModemInputs();
  uint8_t Changed = Now ^ ReportedModemInputs_;
  uint64_t Value = Now;
  Value = U::ModemStatus::DeltaClearToSend::Set(Value, U::ModemStatus::ClearToSend::Get(Changed));
  Value = U::ModemStatus::DeltaDataSetReady::Set(Value, U::ModemStatus::DataSetReady::Get(Changed));
  Value = U::ModemStatus::DeltaCarrierDetect::Set(Value, U::ModemStatus::CarrierDetect::Get(Changed));
  // The ring indicator reports only its trailing edge.
  bool RingEnded = U::ModemStatus::RingIndicator::IsSet(ReportedModemInputs_) &&
                   !U::ModemStatus::RingIndicator::IsSet(Now);
  Value = U::ModemStatus::TrailingEdgeRingIndicator::Set(Value, RingEnded ? 1 : 0);
  ReportedModemInputs_ = Now;
  return static_cast<uint8_t>(Value);
}

std::string Uart::TransmittedText() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return Transmitted_;
}

void Uart::ClearTransmitted() {
  std::lock_guard<std::mutex> Guard(Lock());
  Transmitted_.clear();
}

std::vector<UartProgramming> Uart::Programming() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return Programming_;
}

uint16_t Uart::Divisor() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return static_cast<uint16_t>(DivisorHigh_ << 8 | DivisorLow_);
}

uint8_t Uart::LineControl() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return LineControl_;
}

uint8_t Uart::ModemControl() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return ModemControl_;
}

bool Uart::FifosEnabled() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return U::FifoControl::FifoEnable::IsSet(FifoControl_);
}

void Uart::SetTransmitterStalled(bool Stalled) {
  std::lock_guard<std::mutex> Guard(Lock());
  TransmitterStalled_ = Stalled;
}

void Uart::SetCableConnected(bool Connected) {
  std::lock_guard<std::mutex> Guard(Lock());
  CableConnected_ = Connected;
}

uint64_t Uart::DroppedBytes() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return Dropped_;
}

void Uart::Receive(std::string_view Bytes) {
  std::lock_guard<std::mutex> Guard(Lock());
  Received_.insert(Received_.end(), Bytes.begin(), Bytes.end());
}

}  // namespace sim
