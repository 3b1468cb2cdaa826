// The channel through which the simulated firmware core tells its owner about misuse that it
// survived, and the formatting helpers those messages share.
#ifndef SIM_UEFI_DIAGNOSTICS_H_
#define SIM_UEFI_DIAGNOSTICS_H_

#include <cstdint>
#include <functional>
#include <string>

#include "sim/HexText.h"

namespace sim {

// Receives one complete message per call. The core reports what it refused or repaired (an
// allocation the host could not map, a TPL lowered by RaiseTPL, a pool block written past its
// end) here instead of crashing, so that a boot report can show it next to the driver's output.
using Diagnostics = std::function<void(const std::string &)>;

// Writes each message to standard error, prefixed so that it stands out from the driver's log.
Diagnostics StandardErrorDiagnostics();

}  // namespace sim

#endif  // SIM_UEFI_DIAGNOSTICS_H_
