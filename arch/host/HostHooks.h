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

#endif  // ARCH_HOST_HOST_HOOKS_H_
