// What the fuzz targets that run driver code share: a small simulated machine (one socket, two
// single-thread cores) and a way to run the driver on it with the platform active, after letting
// the target prepare what the driver will find (a HOB list, a sibling service of its own).
#ifndef FUZZ_FUZZ_PLATFORM_H_
#define FUZZ_FUZZ_PLATFORM_H_

#include <functional>

#include "driver/ImageDescriptor.h"
#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"
#include "sim/platform/Platform.h"

namespace fuzz {

// Gives the machine another shape. The per-processor reset values are by processor number and
// belong to the old shape: every processor of socket s now gets the MSRs the old processor 0
// had on its own, with the value SocketValue(s).
void Reshape(sim::Machine &Machine, const sim::Topology &Shape, const std::function<uint64_t(uint32_t)> &SocketValue);

// The default machine, read once per process, with the per-processor MSR values of processor 0
// alone: all that Reshape reads of them, and copying every processor's for each input was most of
// the allocations of making a whole_boot machine.
const sim::Machine &DefaultMachineToReshape();

// The default machine cut down to two single-thread cores, so that a run costs little.
const sim::Machine &SmallMachine();

// Steps of one run on the BSP thread, with the platform active. Prepare runs after the starting
// siblings are installed and before the image is loaded; it must publish the HOB list (or leave
// it out on purpose). Drive runs the driver (its entry, or its library start-up and some calls).
struct FuzzRun {
  std::function<void(sim::Platform &)> Prepare;
  std::function<void(sim::Platform &, EFI_HANDLE ImageHandle)> Drive;
};

// Runs the steps and returns how the run ended; a simulator failure aborts (a finding). What the
// platform shows afterwards goes into the execution's outcome (see Outcome.h).
sim::BootEnd RunOnPlatform(const sim::Machine &Description, const FuzzRun &Run);

// Aborts with the message on standard error: how a fuzz target reports a broken invariant.
[[noreturn]] void Fail(const char *What);

}  // namespace fuzz

#endif  // FUZZ_FUZZ_PLATFORM_H_
