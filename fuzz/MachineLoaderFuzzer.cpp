// Fuzzes the machine-description loader with arbitrary JSON text. A description either loads or is
// refused with a MachineError naming the field; any other exception, a crash or a sanitizer report
// is a defect. A description that loads keeps its topology within the platform's limits.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::string Text(reinterpret_cast<const char *>(Data), Size);
  sim::Machine Loaded;
  try {
    Loaded = sim::ParseMachine(Text, "fuzz input");
  } catch (const sim::MachineError &) {
    return 0;
  }
  // Every loaded topology is one the platform can build: no level above its limit, none empty.
  if (!Loaded.Shape.Problems().empty()) std::abort();
  for (unsigned Level = 0; Level < sim::kTopologyLevelCount; Level++) {
    const uint32_t Most = Loaded.Shape.MaxCount(static_cast<sim::TopologyLevel>(Level));
    if (Most == 0 || Most > sim::kTopologyLimits[Level]) std::abort();
  }
  return 0;
}
