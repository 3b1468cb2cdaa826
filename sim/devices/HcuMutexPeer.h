// The coprocessor's side of the two-party Peterson mutex that x86 code holds around changes of
// the SMM configuration. The coprocessor acts either between x86 accesses to the three mutex
// registers, following a plan (it requests the lock at a chosen moment of the x86 side's
// acquisition, holds it for a number of x86 polls and releases it), or as a thread of its own
// that really runs alongside the x86 side (HcuContender). Either way it plays the algorithm
// honestly, so a correct x86 side never enters while the coprocessor holds the lock. At each x86
// release the peer checks whether the coprocessor was inside during the x86 side's time inside,
// and counts (and keeps) every such overlap.
#ifndef SIM_DEVICES_HCU_MUTEX_PEER_H_
#define SIM_DEVICES_HCU_MUTEX_PEER_H_

#include <cstddef>
#include <cstdint>
#include <vector>

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
  // At each x86 acquisition a seeded generator picks one of the four moments above (never
  // wanting it this time included): contention in the simulation's own time, the same for the
  // same seed and the same x86 accesses, whatever the host does.
  Seeded,
};

// A stretch of time in which both sides were inside, in ticks of the mutex's own clock (one tick
// per access of either side): the x86 side from its last mutex access before the release to the
// release, the coprocessor from its entry to its exit (the release tick while it is still inside).
struct HcuOverlap {
  uint64_t X86From = 0;
  uint64_t X86To = 0;
  uint64_t CoprocessorFrom = 0;
  uint64_t CoprocessorTo = 0;

  bool operator==(const HcuOverlap &) const = default;
};

struct HcuMutexStatistics {
  uint64_t CoprocessorAcquisitions = 0;
  uint64_t X86Requests = 0;
  uint64_t X86Releases = 0;
  // x86 releases whose time inside overlapped the coprocessor's: both were inside at once.
  uint64_t ExclusionViolations = 0;
  // x86 reads of the coprocessor flag or the turn while the coprocessor held the lock.
  uint64_t PollsWhileHeld = 0;
  // The first overlaps, at most kOverlapsKept of them.
  std::vector<HcuOverlap> Overlaps;
  static constexpr size_t kOverlapsKept = 16;
};

class HcuMutexPeer {
 public:
  // HoldPolls is how many x86 polls the coprocessor stays inside once it holds the lock (at
  // least 1).
  void SetPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls);
  // The seeded plan, with its seed.
  void SetSchedule(uint64_t Seed, uint32_t HoldPolls);
  // Makes the coprocessor request the lock now, whatever its plan.
  void RequestNow();

  uint32_t ReadX86Flag();
  uint32_t ReadCoprocessorFlag();
  uint32_t ReadTurn();
  void WriteX86Flag(uint32_t Value);
  // The coprocessor's flag is its own; an x86 write to it is ignored.
  void WriteCoprocessorFlag(uint32_t) {}
  void WriteTurn(uint32_t Value);

  bool CoprocessorHoldsLock() const { return State_ == State::Holding || ThreadInside_; }
  bool CoprocessorWaiting() const { return State_ == State::Waiting; }
  const HcuMutexStatistics &Statistics() const { return Statistics_; }

  // The coprocessor's side played step by step by a thread of its own (HcuContender) instead of a
  // plan; the device serializes these steps with the x86 accesses. The thread raises its flag and
  // hands the turn over, may enter once the x86 side doesn't both want the lock and hold the
  // turn, and stays inside until the x86 side has polled HoldPolls times while it waits.
  void ThreadRequest();
  bool ThreadMayEnter() const;
  void ThreadEnter();
  uint32_t ThreadPollsSeen() const { return ThreadPolls_; }
  // Leaves the lock, or gives up waiting for it.
  void ThreadLeave();

 private:
  enum class State { Idle, Waiting, Holding };

  void Request();
  // The moment the coprocessor acts in the current x86 acquisition: the plan's, or for the seeded
  // plan the one drawn when the x86 flag rose.
  CoprocessorLockPlan Moment() const { return Plan_ == CoprocessorLockPlan::Seeded ? Drawn_ : Plan_; }
  // Draws the next acquisition's moment (splitmix64).
  CoprocessorLockPlan Draw();
  // Lets a waiting coprocessor in when the algorithm allows it.
  void Advance();
  // Counts one x86 poll against the time the coprocessor holds the lock.
  void Poll();
  // Every x86 access of a mutex register is one tick; the last one before a release is where the
  // x86 side's time inside began (its critical section touches no mutex register).
  void X86Tick() { X86LastAccess_ = ++Clock_; }
  // Counts an x86 poll while the thread is inside.
  void ThreadPoll();
  // On an x86 release: whether the coprocessor was inside during the x86 side's time inside.
  void CheckRelease();

  CoprocessorLockPlan Plan_ = CoprocessorLockPlan::NeverWants;
  CoprocessorLockPlan Drawn_ = CoprocessorLockPlan::NeverWants;
  uint64_t Generator_ = 0;
  uint32_t HoldPolls_ = 1;
  uint32_t PollsLeft_ = 0;
  State State_ = State::Idle;
  uint32_t X86Flag_ = 0;
  uint32_t CoprocessorFlag_ = 0;
  uint32_t Turn_ = 0;
  HcuMutexStatistics Statistics_;
  uint64_t Clock_ = 0;
  uint64_t X86LastAccess_ = 0;
  bool ThreadInside_ = false;
  uint64_t ThreadEnteredAt_ = 0;
  uint64_t ThreadLeftAt_ = 0;
  uint32_t ThreadPolls_ = 0;
};

}  // namespace sim

#endif  // SIM_DEVICES_HCU_MUTEX_PEER_H_
