// Turns fuzz input into a machine for the whole-boot target: the default machine with its topology
// (uneven counts included, within the platform's limits and a size that keeps a run short), CPUID
// leaves, MSR reset values, configuration items, setup options, and which sibling components
// exist or arrive late, all chosen by the input. Memory stays the default machine's, which lies
// where sanitizer builds can map simulated DRAM (below 2 GB).
#ifndef FUZZ_WHOLE_BOOT_INPUT_H_
#define FUZZ_WHOLE_BOOT_INPUT_H_

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>

#include "sim/machine/Machine.h"

namespace fuzz {

// The most threads a fuzzed machine has; beyond it one run would take too long to fuzz well.
constexpr size_t kMostFuzzedThreads = 64;

sim::Machine MachineFromInput(FuzzedDataProvider &Input);

}  // namespace fuzz

#endif  // FUZZ_WHOLE_BOOT_INPUT_H_
