// Runs driver code on a simulated machine in the state in which the per-core initialization
// calls the SMRAM installer: the HOB list published, the machine's sibling components installed,
// and a freshly loaded image (the one with debug output, so that its messages reach the serial
// port) whose library start-up has run. The body runs on the BSP with the firmware core active.
#ifndef TESTS_SERVICES_SMM_TEST_PLATFORM_H_
#define TESTS_SERVICES_SMM_TEST_PLATFORM_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine/Machine.h"
#include "sim/platform/Platform.h"

namespace smmtest {

// SmramHobData, when given, is the data of the SMRAM HOB instead of the machine's regions.
void RunOnPlatform(const sim::Machine &Description, const std::function<void(sim::Platform &)> &Body,
                   const std::optional<std::vector<uint8_t>> &SmramHobData = {});

// The SMRAM HOB's data for the given regions and region count.
struct Region {
  uint64_t Base;
  uint64_t Size;
  uint64_t State;
};
std::vector<uint8_t> SmramHobData(uint32_t Count, const std::vector<Region> &Regions);

// The default machine with these SMRAM regions.
sim::Machine MachineWithSmram(const std::vector<Region> &Regions);

// What the debug UART received so far.
std::string Serial(sim::Platform &Machine);
// An MSR of one processor as the machine shows it (0 when never set).
uint64_t MsrOf(sim::Platform &Machine, size_t Processor, uint32_t Msr);
// The processors whose MSR differs from Value.
std::vector<size_t> ProcessorsWhere(sim::Platform &Machine, uint32_t Msr, uint64_t Value);
// How many writes of this MSR each processor has seen, summed.
size_t WritesOf(sim::Platform &Machine, uint32_t Msr);

}  // namespace smmtest

#endif  // TESTS_SERVICES_SMM_TEST_PLATFORM_H_
