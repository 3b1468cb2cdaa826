#include "sim/devices/HcuCoprocessor.h"

#include <stdexcept>
#include <string>

namespace sim {

HcuCoprocessor::HcuCoprocessor(const HcuConfig &Config)
    : Device("Hcu coprocessor"), Config_(Config), Store_(Hcu::MmioBlockSize), Bank_("Hcu coprocessor") {
  if (Config.MmioBase % Hcu::MmioBlockSize != 0 || Config.MmioBase > Hcu::MmioBaseRegister::BaseMask) {
    throw std::invalid_argument("Hcu MMIO base must be 1 MB aligned and below 4 GB");
  }
  if ((Config.BaseRegisterLowBits & Hcu::MmioBaseRegister::BaseMask) != 0) {
    throw std::invalid_argument("Hcu base register low bits reach into the base");
  }
  const uint64_t Mailbox = Config.MailboxOffset;
  if (Mailbox + Hcu::Mutex::TurnOffset + 4 > Hcu::MmioBlockSize) {
    throw std::invalid_argument("Hcu mailbox at " + std::to_string(Mailbox) + " leaves the MMIO block");
  }
  Bank_.SetBackingStore(&Store_);
  Bank_
      .Define({"X86RequestFlag", Mailbox + Hcu::Mutex::X86FlagOffset, 4,
               [this]() -> uint64_t { return LockPeer_.ReadX86Flag(); },
               [this](uint64_t Value) { LockPeer_.WriteX86Flag(static_cast<uint32_t>(Value)); }})
      .Define({"CoprocessorRequestFlag", Mailbox + Hcu::Mutex::CoprocessorFlagOffset, 4,
               [this]() -> uint64_t { return LockPeer_.ReadCoprocessorFlag(); },
               [this](uint64_t Value) { LockPeer_.WriteCoprocessorFlag(static_cast<uint32_t>(Value)); }})
      .Define({"Turn", Mailbox + Hcu::Mutex::TurnOffset, 4, [this]() -> uint64_t { return LockPeer_.ReadTurn(); },
               [this](uint64_t Value) { LockPeer_.WriteTurn(static_cast<uint32_t>(Value)); }});
}

HcuCoprocessor::~HcuCoprocessor() { StopContender(); }

std::vector<AddressRange> HcuCoprocessor::Ranges() const { return {{Config_.MmioBase, Hcu::MmioBlockSize}}; }

uint32_t HcuCoprocessor::BaseRegisterAddress() const {
  return Config_.SidebandBlock + Hcu::MmioBaseRegister::BlockOffset;
}

uint32_t HcuCoprocessor::BaseRegisterValue() const {
  std::lock_guard<std::mutex> Guard(Lock());
  if (!Config_.Present) {
    return 0;
  }
  return static_cast<uint32_t>(Config_.MmioBase) | Config_.BaseRegisterLowBits;
}

void HcuCoprocessor::SetPresent(bool Present) {
  std::lock_guard<std::mutex> Guard(Lock());
  Config_.Present = Present;
}

void HcuCoprocessor::CheckOffset(uint32_t Offset) const {
  if (Offset % 4 != 0 || Offset >= Hcu::MmioBlockSize) {
    throw std::out_of_range("Hcu register offset " + std::to_string(Offset) + " is not a register of the block");
  }
}

uint32_t HcuCoprocessor::Get(uint32_t Offset) const {
  CheckOffset(Offset);
  std::lock_guard<std::mutex> Guard(Lock());
  return static_cast<uint32_t>(Store_.Get(Offset, 4));
}

void HcuCoprocessor::Set(uint32_t Offset, uint32_t Value) {
  CheckOffset(Offset);
  std::lock_guard<std::mutex> Guard(Lock());
  Store_.Set(Offset, 4, Value);
}

void HcuCoprocessor::SetLockPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls) {
  if (Contender_) {
    throw std::logic_error("the Hcu lock plan can't change while the contending thread plays its side");
  }
  std::lock_guard<std::mutex> Guard(Lock());
  LockPeer_.SetPlan(Plan, HoldPolls);
  Plan_ = Plan;
}

void HcuCoprocessor::SetLockSchedule(uint64_t Seed, uint32_t HoldPolls) {
  if (Contender_) {
    throw std::logic_error("the Hcu lock plan can't change while the contending thread plays its side");
  }
  std::lock_guard<std::mutex> Guard(Lock());
  LockPeer_.SetSchedule(Seed, HoldPolls);
  Plan_ = CoprocessorLockPlan::Seeded;
}

void HcuCoprocessor::StartContender(uint32_t HoldPolls) {
  if (Contender_) {
    return;
  }
  if (Plan_ != CoprocessorLockPlan::NeverWants) {
    throw std::logic_error("the Hcu contending thread can't share the coprocessor's side with a lock plan");
  }
  Contender_ = std::make_unique<HcuContender>(*this, HoldPolls);
}

void HcuCoprocessor::StopContender() { Contender_.reset(); }

void HcuCoprocessor::RequestLockNow() {
  std::lock_guard<std::mutex> Guard(Lock());
  LockPeer_.RequestNow();
}

bool HcuCoprocessor::CoprocessorHoldsLock() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return LockPeer_.CoprocessorHoldsLock();
}

HcuMutexStatistics HcuCoprocessor::LockStatistics() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return LockPeer_.Statistics();
}

uint64_t HcuCoprocessor::OnRead(uint64_t Address, unsigned Width) {
  const uint64_t Value = Bank_.Read(Address - Config_.MmioBase, Width);
  Activity_.notify_all();
  return Value;
}

void HcuCoprocessor::OnWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  Bank_.Write(Address - Config_.MmioBase, Width, Value);
  Activity_.notify_all();
}

}  // namespace sim
