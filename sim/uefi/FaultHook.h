// The places where a boot-wide fault schedule may make a firmware service fail, and the callback
// through which the core asks it. The core stays ignorant of how faults are chosen: it only asks,
// before doing the work, whether this call is to fail and with which status.
#ifndef SIM_UEFI_FAULT_HOOK_H_
#define SIM_UEFI_FAULT_HOOK_H_

#include <cstdint>
#include <functional>
#include <optional>

#include "uefi/Base.h"

namespace sim {

enum class FaultSite {
  PageAllocation,  // AllocatePages
  PoolAllocation,  // AllocatePool
  LocateProtocol,  // LocateProtocol, counted per GUID
  VariableWrite,   // SetVariable
  MpStart,         // StartupAllAPs and StartupThisAP of the MP services the platform offers
};

// Answers the status a call at Site must fail with, or nothing to let it through. Guid is the
// protocol asked for at LocateProtocol and null elsewhere.
using FaultHook = std::function<std::optional<EFI_STATUS>(FaultSite Site, const EFI_GUID *Guid)>;

}  // namespace sim

#endif  // SIM_UEFI_FAULT_HOOK_H_
