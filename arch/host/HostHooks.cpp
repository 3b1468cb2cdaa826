// The one hook table of the process: the hardware is shared by every loaded driver image.
#include "arch/host/HostHooks.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {
std::atomic<const CCX_ARCH_HOST_HOOKS *> gHooks{nullptr};
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
