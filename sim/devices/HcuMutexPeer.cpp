#include "sim/devices/HcuMutexPeer.h"

#include <algorithm>

#include "arch/Hcu.h"

namespace sim {

void HcuMutexPeer::SetPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls) {
  Plan_ = Plan;
  HoldPolls_ = std::max<uint32_t>(HoldPolls, 1);
}

void HcuMutexPeer::SetSchedule(uint64_t Seed, uint32_t HoldPolls) {
  SetPlan(CoprocessorLockPlan::Seeded, HoldPolls);
  Generator_ = Seed;
}

CoprocessorLockPlan HcuMutexPeer::Draw() {
  uint64_t Value = (Generator_ += 0x9E3779B97F4A7C15ULL);
  Value = (Value ^ (Value >> 30)) * 0xBF58476D1CE4E5B9ULL;
  Value = (Value ^ (Value >> 27)) * 0x94D049BB133111EBULL;
  Value ^= Value >> 31;
  static constexpr CoprocessorLockPlan kMoments[] = {
      CoprocessorLockPlan::NeverWants, CoprocessorLockPlan::HoldsBeforeX86,
      CoprocessorLockPlan::RequestsAfterX86Flag, CoprocessorLockPlan::RequestsAfterX86Turn};
  return kMoments[Value % 4];
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

void HcuMutexPeer::ThreadPoll() {
  if (ThreadInside_) {
    ++Statistics_.PollsWhileHeld;
    ++ThreadPolls_;
  }
}

void HcuMutexPeer::CheckRelease() {
  const uint64_t Now = Clock_ + 1;
  bool Overlap = State_ == State::Holding;
  // The thread overlapped if it is inside now or left after the x86 side's time inside began.
  if (ThreadInside_ || ThreadLeftAt_ > X86LastAccess_) {
    Overlap = true;
    if (Statistics_.Overlaps.size() < HcuMutexStatistics::kOverlapsKept) {
      Statistics_.Overlaps.push_back({X86LastAccess_, Now, ThreadEnteredAt_, ThreadInside_ ? Now : ThreadLeftAt_});
    }
  }
  if (Overlap) {
    ++Statistics_.ExclusionViolations;
  }
}

uint32_t HcuMutexPeer::ReadX86Flag() {
  X86Tick();
  return X86Flag_;
}

uint32_t HcuMutexPeer::ReadCoprocessorFlag() {
  X86Tick();
  uint32_t Value = CoprocessorFlag_;
  Poll();
  ThreadPoll();
  return Value;
}

uint32_t HcuMutexPeer::ReadTurn() {
  X86Tick();
  uint32_t Value = Turn_;
  Poll();
  ThreadPoll();
  return Value;
}

void HcuMutexPeer::WriteX86Flag(uint32_t Value) {
  bool Was = X86Flag_ != 0;
  bool Now = Value != 0;
  if (Was && !Now) {
    CheckRelease();
  }
  X86Tick();
  if (!Was && Now) {
    ++Statistics_.X86Requests;
    if (Plan_ == CoprocessorLockPlan::Seeded) Drawn_ = Draw();
    if (Moment() == CoprocessorLockPlan::HoldsBeforeX86 && State_ == State::Idle) {
      // The coprocessor got in before the x86 flag rose, so it entered legitimately.
      Request();
    }
  }
  if (Was && !Now) {
    ++Statistics_.X86Releases;
  }
  X86Flag_ = Value;
  if (!Was && Now && Moment() == CoprocessorLockPlan::RequestsAfterX86Flag) {
    Request();
  }
  Advance();
}

void HcuMutexPeer::WriteTurn(uint32_t Value) {
  X86Tick();
  Turn_ = Value;
  if (Moment() == CoprocessorLockPlan::RequestsAfterX86Turn) {
    Request();
  }
  Advance();
}

void HcuMutexPeer::ThreadRequest() {
  CoprocessorFlag_ = 1;
  Turn_ = Hcu::Mutex::TurnX86;
}

bool HcuMutexPeer::ThreadMayEnter() const { return !(X86Flag_ != 0 && Turn_ == Hcu::Mutex::TurnX86); }

void HcuMutexPeer::ThreadEnter() {
  ThreadInside_ = true;
  ThreadEnteredAt_ = ++Clock_;
  ThreadPolls_ = 0;
  ++Statistics_.CoprocessorAcquisitions;
}

void HcuMutexPeer::ThreadLeave() {
  if (ThreadInside_) {
    ThreadInside_ = false;
    ThreadLeftAt_ = ++Clock_;
  }
  CoprocessorFlag_ = 0;
}

}  // namespace sim
