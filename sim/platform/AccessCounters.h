// Counts the hardware accesses a boot makes — MSR reads and writes, CPUID, ports, MMIO, sideband
// registers, AP dispatches, cache flushes and the bytes the memory primitives fill or copy — and
// splits them into the boot's phases and the service calls that follow it. The counts are what a
// real boot would do on the hardware, so they are the input of the boot-time estimate.
#ifndef SIM_PLATFORM_ACCESS_COUNTERS_H_
#define SIM_PLATFORM_ACCESS_COUNTERS_H_

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

class MpServices;

enum class CountedAccess : size_t {
  MsrRead,
  MsrWrite,
  Cpuid,
  PortRead,
  PortWrite,
  MmioRead,
  MmioWrite,
  SidebandRead,
  SidebandWrite,
  // One MP services start (StartupAllAPs or StartupThisAP) and one AP procedure run by it.
  ApStart,
  ApProcedure,
  CacheFlush,
  BytesFilled,
  BytesCopied,
};
constexpr size_t kCountedAccessKinds = static_cast<size_t>(CountedAccess::BytesCopied) + 1;

// The key of a kind in the cost model and the JSON report ("msr_read"), and its label in the text
// report ("MSR reads").
const char *CountedAccessKey(CountedAccess Kind);
const char *CountedAccessLabel(CountedAccess Kind);

// Counts of each kind, split by where the access ran: on the BSP or on an AP.
struct AccessCounts {
  std::array<uint64_t, kCountedAccessKinds> Bsp{};
  std::array<uint64_t, kCountedAccessKinds> Ap{};

  uint64_t OnBsp(CountedAccess Kind) const { return Bsp[static_cast<size_t>(Kind)]; }
  uint64_t OnAps(CountedAccess Kind) const { return Ap[static_cast<size_t>(Kind)]; }
  uint64_t Total(CountedAccess Kind) const { return OnBsp(Kind) + OnAps(Kind); }
  bool Empty() const;
  AccessCounts operator-(const AccessCounts &Earlier) const;
  AccessCounts &operator+=(const AccessCounts &More);
  bool operator==(const AccessCounts &) const = default;
};

// The counts of one phase of the boot ("entry", "ready_to_boot") or one service call made after it.
struct AccessPhase {
  std::string Name;
  AccessCounts Counts;
};

class AccessCounters {
 public:
  // Called from any processor's thread, concurrently.
  void Add(CountedAccess Kind, bool OnAp, uint64_t Amount = 1) {
    Totals_[Slot(Kind, OnAp)].fetch_add(Amount, std::memory_order_relaxed);
    if (AccessCounts *Tally = ThreadTally_) (OnAp ? Tally->Ap : Tally->Bsp)[static_cast<size_t>(Kind)] += Amount;
  }
  // While a thread has a tally open, what it counts is added to that tally as well: how a boot's
  // timeline tells one AP procedure's accesses from those of the procedures beside it. Null closes it.
  static void OpenThreadTally(AccessCounts *Tally) { ThreadTally_ = Tally; }
  // Told of every phase opened, with the totals at that moment (a boot's timeline); none by default.
  void OnEnter(std::function<void(const std::string &Name, const AccessCounts &Now)> Listener) {
    EnterListener_ = std::move(Listener);
  }
  // AP dispatches are counted by MP services itself; the counters read them from there.
  void TakeDispatchesFrom(const MpServices &Mp) { Mp_ = &Mp; }

  // Everything counted so far.
  AccessCounts Totals() const;

  // Closes the open phase and opens Name. Counts go to the phase that is open when they come; a
  // name opened again adds to its earlier counts, so a scope that returns to the phase it
  // interrupted does not split it. Called from the BSP's thread only.
  void Enter(const std::string &Name);
  // The name of the open phase, empty before the first Enter.
  std::string Current() const;
  // Every phase in the order it was first opened, the open one with its counts up to now.
  std::vector<AccessPhase> Phases() const;

 private:
  static size_t Slot(CountedAccess Kind, bool OnAp) { return static_cast<size_t>(Kind) * 2 + (OnAp ? 1 : 0); }
  void CloseOpenPhase(const AccessCounts &Now);

  std::array<std::atomic<uint64_t>, kCountedAccessKinds * 2> Totals_{};
  const MpServices *Mp_ = nullptr;
  mutable std::mutex PhaseLock_;
  std::vector<AccessPhase> Phases_;
  size_t Open_ = 0;  // index into Phases_, valid while Phases_ is not empty
  AccessCounts OpenedAt_;
  std::function<void(const std::string &, const AccessCounts &)> EnterListener_;
  static inline thread_local AccessCounts *ThreadTally_ = nullptr;
};

// Counts what happens while it lives under its own name, then returns to the phase it
// interrupted: the way a consumer's service calls are told apart from the boot around them.
class AccessScope {
 public:
  AccessScope(AccessCounters &Counters, const std::string &Name);
  ~AccessScope();
  AccessScope(const AccessScope &) = delete;
  AccessScope &operator=(const AccessScope &) = delete;

 private:
  AccessCounters &Counters_;
  std::string Previous_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_ACCESS_COUNTERS_H_
