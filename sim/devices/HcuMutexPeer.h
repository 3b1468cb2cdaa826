// The coprocessor's side of the two-party Peterson mutex that x86 code holds around changes of
// the SMM configuration. The coprocessor acts between x86 accesses to the three mutex registers:
// following a plan, it requests the lock at a chosen moment of the x86 side's acquisition, holds
// it for a number of x86 polls and releases it. It plays the algorithm honestly, so a correct x86
// side never enters while the coprocessor holds the lock; an x86 side that releases the lock
// while the coprocessor holds it was inside at the same time, and that is counted.
#ifndef SIM_DEVICES_HCU_MUTEX_PEER_H_
#define SIM_DEVICES_HCU_MUTEX_PEER_H_

#include <cstdint>

namespace sim {

enum class CoprocessorLockPlan {
  // The coprocessor never wants the lock; its flag reads 0.
  NeverWants,
  // Each time the x86 side raises its flag, the coprocessor has just taken the lock.
  HoldsBeforeX86,
  // The coprocessor requests just after the x86 side raises its flag, before it hands over the
  // turn: the x86 side's turn write then lets the coprocessor in first.
  RequestsAfterX86Flag,
  // The coprocessor requests just after the x86 side hands it the turn, taking the turn back:
  // the x86 side goes first and the coprocessor follows when it is released.
  RequestsAfterX86Turn,
};

struct HcuMutexStatistics {
  uint64_t CoprocessorAcquisitions = 0;
  uint64_t X86Requests = 0;
  uint64_t X86Releases = 0;
  // x86 releases that came while the coprocessor held the lock: both were inside at once.
  uint64_t ExclusionViolations = 0;
  // x86 reads of the coprocessor flag or the turn while the coprocessor held the lock.
  uint64_t PollsWhileHeld = 0;
};

class HcuMutexPeer {
 public:
  // HoldPolls is how many x86 polls the coprocessor stays inside once it holds the lock (at
  // least 1).
  void SetPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls);
  // Makes the coprocessor request the lock now, whatever its plan.
  void RequestNow();

  uint32_t ReadX86Flag() const { return X86Flag_; }
  uint32_t ReadCoprocessorFlag();
  uint32_t ReadTurn();
  void WriteX86Flag(uint32_t Value);
  // The coprocessor's flag is its own; an x86 write to it is ignored.
  void WriteCoprocessorFlag(uint32_t) {}
  void WriteTurn(uint32_t Value);

  bool CoprocessorHoldsLock() const { return State_ == State::Holding; }
  bool CoprocessorWaiting() const { return State_ == State::Waiting; }
  const HcuMutexStatistics &Statistics() const { return Statistics_; }

 private:
  enum class State { Idle, Waiting, Holding };

  void Request();
  // Lets a waiting coprocessor in when the algorithm allows it.
  void Advance();
  // Counts one x86 poll against the time the coprocessor holds the lock.
  void Poll();

  CoprocessorLockPlan Plan_ = CoprocessorLockPlan::NeverWants;
  uint32_t HoldPolls_ = 1;
  uint32_t PollsLeft_ = 0;
  State State_ = State::Idle;
  uint32_t X86Flag_ = 0;
  uint32_t CoprocessorFlag_ = 0;
  uint32_t Turn_ = 0;
  HcuMutexStatistics Statistics_;
};

}  // namespace sim

#endif  // SIM_DEVICES_HCU_MUTEX_PEER_H_
