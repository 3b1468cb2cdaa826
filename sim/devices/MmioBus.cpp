#include "sim/devices/MmioBus.h"

namespace sim {

MmioBus::MmioBus() : Bus("MMIO bus", 0, {1, 2, 4, 8}) {}

void MmioBus::SetMemoryFallback(MemoryFallback Fallback) { Fallback_ = std::move(Fallback); }

bool MmioBus::ServeUnclaimed(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value) {
  return Fallback_ && Fallback_(Kind, Address, Width, Value);
}

}  // namespace sim
