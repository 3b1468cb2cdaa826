// Binds the driver's hardware accessors (the arch host hooks) to one simulated platform: CPUID
// and MSRs go to the processor the calling thread runs as, ports and MMIO to the buses (MMIO that
// no device claims falls through to simulated DRAM), the time-stamp counter is simulated, and the
// back-door answers as the machine says. A processor that asks the back-door while the machine
// doesn't answer it goes on into a fatal stop's endless display loop, as on hardware: the
// simulated time-stamp counter lets its 2.5 s waits pass at once, the windows it shows on port
// 0x80 are recorded, and after two full cycles the boot ends there as halted.
#ifndef SIM_PLATFORM_HARDWARE_HOOKS_H_
#define SIM_PLATFORM_HARDWARE_HOOKS_H_

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "arch/host/HostHooks.h"
#include "sim/platform/AccessCounters.h"
#include "sim/cpu/ProcessorSet.h"
#include "sim/devices/DeviceSet.h"

namespace sim {

class HardwareHooks {
 public:
  HardwareHooks(ProcessorSet &Processors, DeviceSet &Devices, bool AnswerBackdoor);
  ~HardwareHooks();
  HardwareHooks(const HardwareHooks &) = delete;
  HardwareHooks &operator=(const HardwareHooks &) = delete;

  // Called (never to return) when a processor halts in a fatal stop; receives the code shown.
  void OnHalt(std::function<void(uint32_t Code)> Halt) { Halt_ = std::move(Halt); }

  uint64_t CacheFlushes() const { return CacheFlushes_.load(); }
  // Every access the driver made through these hooks, and the bytes its memory primitives filled
  // and copied, by boot phase.
  AccessCounters &Accounting() { return Accounting_; }
  // The values a halted fatal stop scrolled across port 0x80, in order.
  std::vector<uint32_t> HaltWindows() const;

  // Windows of one display cycle, and how many cycles are watched before the boot ends.
  static constexpr size_t kWindowsPerCycle = 6;
  static constexpr size_t kCyclesWatched = 2;
  // Time-stamp ticks per read: a 2.5 s wait at a few GHz passes in a few thousand reads.
  static constexpr uint64_t kTicksPerRead = 1000000;

  // Used by the hook functions.
  ProcessorSet &Processors() { return Processors_; }
  DeviceSet &Devices() { return Devices_; }
  uint16_t Backdoor();
  uint64_t NextTimeStamp() { return TimeStamp_.fetch_add(kTicksPerRead) + kTicksPerRead; }
  void CountCacheFlush() { CacheFlushes_.fetch_add(1); }
  // Counts one access of the calling processor; MMIO in the data register of a sideband pair
  // counts as a sideband access.
  void Count(CountedAccess Kind, uint64_t Amount = 1);
  void CountMmio(uint64_t Address, bool Write);
  // Sees every port write; watches the display of a halting fatal stop.
  void ObservePortWrite(uint16_t Port, uint32_t Value);

 private:
  ProcessorSet &Processors_;
  DeviceSet &Devices_;
  bool AnswerBackdoor_;
  std::function<void(uint32_t)> Halt_;
  std::atomic<uint64_t> TimeStamp_{0};
  std::atomic<uint64_t> CacheFlushes_{0};
  mutable std::mutex HaltLock_;
  bool Halting_ = false;
  uint32_t HaltCode_ = 0;
  std::vector<uint32_t> HaltWindows_;
  const CCX_ARCH_HOST_HOOKS *Previous_;
  AccessCounters Accounting_;
  const CCX_ARCH_MEMORY_OBSERVER *PreviousObserver_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_HARDWARE_HOOKS_H_
