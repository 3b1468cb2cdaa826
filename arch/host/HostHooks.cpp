// The one hook table of the process: the hardware is shared by every loaded driver image.
#include "arch/host/HostHooks.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<const CCX_ARCH_HOST_HOOKS *> gHooks{nullptr};
std::atomic<const CCX_ARCH_MEMORY_OBSERVER *> gMemoryObserver{nullptr};
}

const CCX_ARCH_HOST_HOOKS *CcxInstallArchHostHooks(const CCX_ARCH_HOST_HOOKS *Hooks) {
  return gHooks.exchange(Hooks);
}

const CCX_ARCH_HOST_HOOKS &CcxArchHostHooks() {
  const CCX_ARCH_HOST_HOOKS *Hooks = gHooks.load(std::memory_order_acquire);
  if (Hooks == nullptr) {
    std::fprintf(stderr, "ccx: driver touched the hardware but no simulated platform is installed\n");
    std::abort();
  }
  return *Hooks;
}

const CCX_ARCH_MEMORY_OBSERVER *CcxInstallArchMemoryObserver(const CCX_ARCH_MEMORY_OBSERVER *Observer) {
  return gMemoryObserver.exchange(Observer);
}

const CCX_ARCH_MEMORY_OBSERVER *CcxArchMemoryObserver() { return gMemoryObserver.load(std::memory_order_acquire); }
