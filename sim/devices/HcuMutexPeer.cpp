#include "sim/devices/HcuMutexPeer.h"

#include <algorithm>

#include "arch/Hcu.h"

namespace sim {

void HcuMutexPeer::SetPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls) {
  Plan_ = Plan;
  HoldPolls_ = std::max<uint32_t>(HoldPolls, 1);
}

void HcuMutexPeer::Request() {
  if (State_ != State::Idle) {
    return;
  }
  // The coprocessor's acquisition: raise its flag, hand the turn to the x86 side, then wait
  // while the x86 side wants the lock and has the turn.
  CoprocessorFlag_ = 1;
  Turn_ = Hcu::Mutex::TurnX86;
  State_ = State::Waiting;
  Advance();
}

void HcuMutexPeer::RequestNow() { Request(); }

void HcuMutexPeer::Advance() {
  if (State_ == State::Waiting && !(X86Flag_ != 0 && Turn_ == Hcu::Mutex::TurnX86)) {
    State_ = State::Holding;
    PollsLeft_ = HoldPolls_;
    ++Statistics_.CoprocessorAcquisitions;
  }
}

void HcuMutexPeer::Poll() {
  if (State_ != State::Holding) {
    return;
  }
  ++Statistics_.PollsWhileHeld;
  if (--PollsLeft_ == 0) {
    CoprocessorFlag_ = 0;
    State_ = State::Idle;
  }
}

uint32_t HcuMutexPeer::ReadCoprocessorFlag() {
  uint32_t Value = CoprocessorFlag_;
  Poll();
  return Value;
}

uint32_t HcuMutexPeer::ReadTurn() {
  uint32_t Value = Turn_;
  Poll();
  return Value;
}

void HcuMutexPeer::WriteX86Flag(uint32_t Value) {
  bool Was = X86Flag_ != 0;
  bool Now = Value != 0;
  if (!Was && Now) {
    ++Statistics_.X86Requests;
    if (Plan_ == CoprocessorLockPlan::HoldsBeforeX86 && State_ == State::Idle) {
      // The coprocessor got in before the x86 flag rose, so it entered legitimately.
      Request();
    }
  }
  if (Was && !Now) {
    ++Statistics_.X86Releases;
    if (State_ == State::Holding) {
      ++Statistics_.ExclusionViolations;
    }
  }
  X86Flag_ = Value;
  if (!Was && Now && Plan_ == CoprocessorLockPlan::RequestsAfterX86Flag) {
    Request();
  }
  Advance();
}

void HcuMutexPeer::WriteTurn(uint32_t Value) {
  Turn_ = Value;
  if (Plan_ == CoprocessorLockPlan::RequestsAfterX86Turn) {
    Request();
  }
  Advance();
}

}  // namespace sim

