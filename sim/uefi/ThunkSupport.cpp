#include "sim/uefi/ThunkSupport.h"

#include <cstdio>

namespace sim::thunk {

UefiCore *Enter(const char *service, EFI_TPL highestTpl, EFI_STATUS &refusal) {
  UefiCore *core = UefiCore::Current();
  if (core == nullptr) {
    // No core means no diagnostics channel either; standard error is all that is left.
    std::fprintf(stderr, "sim-uefi: %s called while no simulated firmware core is active\n", service);
    refusal = EFI_NOT_READY;
    return nullptr;
  }
  try {
    if (std::this_thread::get_id() != core->BootThread()) {
      // Boot services are not safe on application processors; a procedure run through MP
      // services that calls them is a fault, and serving it would race with the boot thread.
      core->Report(std::string(service) +
                   " called from a thread other than the boot processor's; refused with EFI_UNSUPPORTED");
      refusal = EFI_UNSUPPORTED;
      return nullptr;
    }
    const EFI_TPL tpl = core->Events().CurrentTpl();
    if (tpl > highestTpl) {
      core->Report(std::string(service) + " called at TPL " + std::to_string(tpl) + ", above the highest TPL " +
                   std::to_string(highestTpl) + " that UEFI allows for it");
    }
  } catch (...) {
    // Only message formatting can throw here; the call itself can still be served.
  }
  return core;
}

void ReportException(UefiCore &core, const char *service, const char *what) {
  try {
    core.Report(std::string(service) + " failed inside the simulator: " + what);
  } catch (...) {
    std::fprintf(stderr, "sim-uefi: %s failed inside the simulator: %s\n", service, what);
  }
}

}  // namespace sim::thunk
