// Binds the driver's hardware accessors (the arch host hooks) to one simulated platform: CPUID
// and MSRs go to the processor the calling thread runs as, ports and MMIO to the buses (MMIO that
// no device claims falls through to simulated DRAM), the time-stamp counter is simulated, and the
// back-door answers as the machine says. A processor that asks the back-door while the machine
// doesn't answer it is about to spin in a fatal stop forever: the boot ends there as halted.
#ifndef SIM_PLATFORM_HARDWARE_HOOKS_H_
#define SIM_PLATFORM_HARDWARE_HOOKS_H_

#include <atomic>
#include <cstdint>
#include <functional>

#include "arch/host/HostHooks.h"
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

  // Used by the hook functions.
  ProcessorSet &Processors() { return Processors_; }
  DeviceSet &Devices() { return Devices_; }
  uint16_t Backdoor();
  uint64_t NextTimeStamp() { return TimeStamp_.fetch_add(100) + 100; }
  void CountCacheFlush() { CacheFlushes_.fetch_add(1); }

 private:
  ProcessorSet &Processors_;
  DeviceSet &Devices_;
  bool AnswerBackdoor_;
  std::function<void(uint32_t)> Halt_;
  std::atomic<uint64_t> TimeStamp_{0};
  std::atomic<uint64_t> CacheFlushes_{0};
  const CCX_ARCH_HOST_HOOKS *Previous_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_HARDWARE_HOOKS_H_
