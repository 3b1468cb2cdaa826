// The hardware seen by a host build of the driver: a table of hooks that the simulated platform
// installs. The driver's arch/ accessors forward to it; the driver never sees the simulator.
#ifndef ARCH_HOST_HOST_HOOKS_H_
#define ARCH_HOST_HOST_HOOKS_H_

#include <cstdint>

struct CCX_ARCH_HOST_HOOKS {
  // CPUID with EAX = Leaf and ECX = SubLeaf; fills EAX, EBX, ECX, EDX in that order.
  void (*Cpuid)(uint32_t Leaf, uint32_t SubLeaf, uint32_t Registers[4]);
  // The value a processor leaves in SI for the simulation back-door query.
  uint16_t (*BackdoorQuery)();
  uint64_t (*ReadTimeStampCounter)();
  void (*CpuPause)();
  void (*WriteBackInvalidateCaches)();
  uint64_t (*ReadMsr)(uint32_t Index);
  void (*WriteMsr)(uint32_t Index, uint64_t Value);
  // Width in bytes: 1, 2 or 4 for ports; 1, 2, 4 or 8 for memory.
  uint32_t (*IoRead)(uint16_t Port, unsigned Width);
  void (*IoWrite)(uint16_t Port, unsigned Width, uint32_t Value);
  uint64_t (*MmioRead)(uint64_t Address, unsigned Width);
  void (*MmioWrite)(uint64_t Address, unsigned Width, uint64_t Value);
};

// Installs the hooks (null removes them) and returns the table that was installed before.
const CCX_ARCH_HOST_HOOKS *CcxInstallArchHostHooks(const CCX_ARCH_HOST_HOOKS *Hooks);
// The installed table; a host build with none installed stops with a message on first access.
const CCX_ARCH_HOST_HOOKS &CcxArchHostHooks();

// Told how many bytes the driver's memory primitives fill or copy, for the simulator's accounting
// of a boot. Separate from the hardware hooks because no hardware is involved: the primitives
// write host memory directly, and a host build without an observer simply counts nothing.
struct CCX_ARCH_MEMORY_OBSERVER {
  void (*Filled)(uint64_t Length);
  void (*Copied)(uint64_t Length);
};

// Installs the observer (null removes it) and returns the one that was installed before.
const CCX_ARCH_MEMORY_OBSERVER *CcxInstallArchMemoryObserver(const CCX_ARCH_MEMORY_OBSERVER *Observer);
// The installed observer, or null.
const CCX_ARCH_MEMORY_OBSERVER *CcxArchMemoryObserver();

#endif  // ARCH_HOST_HOST_HOOKS_H_
