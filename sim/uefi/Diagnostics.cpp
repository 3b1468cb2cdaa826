#include "sim/uefi/Diagnostics.h"

#include <cstdio>

namespace sim {

Diagnostics StandardErrorDiagnostics() {
  return [](const std::string &message) { std::fprintf(stderr, "sim-uefi: %s\n", message.c_str()); };
}

std::string Hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

}  // namespace sim
