#include "sim/uefi/Diagnostics.h"

#include <cstdio>

namespace sim {

Diagnostics StandardErrorDiagnostics() {
  return [](const std::string &message) { std::fprintf(stderr, "sim-uefi: %s\n", message.c_str()); };
}

}  // namespace sim
