// A simulated machine, as its description file (or the built-in default) sets it: topology,
// processor reset state, memory, SMRAM, configuration items, which sibling components exist and
// when they appear, and the faults to inject.
#ifndef SIM_MACHINE_MACHINE_H_
#define SIM_MACHINE_MACHINE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/cpu/Topology.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

struct SmramRegion {
  uint64_t Base = 0;
  uint64_t Size = 0;
  uint64_t State = 0;
};

// When a sibling component's protocol appears: at start, after another sibling or boot phase
// ("entry", "ready_to_lock", "ready_to_boot"), or never.
struct SiblingArrival {
  enum Kind { Start, After, Absent } When = Start;
  std::string AfterWhat;
};

// Makes one query of a sibling service fail: the Call-th call (1 = the first) of Query returns Status.
struct InjectedFault {
  std::string Service;
  std::string Query;
  uint64_t Call = 1;
  uint64_t Status = 0;
};

struct Machine {
  std::string Name;
  std::string Description;
  // Where the description came from: a file path, or "built-in default machine".
  std::string Source;

  Topology Shape;
  ProcessorConfig Processors;
  std::vector<DramRange> Dram;
  std::vector<SmramRegion> Smram;
  // Configuration items by token number.
  std::map<uint64_t, uint64_t> Pcd;
  std::map<std::string, SiblingArrival> Siblings;
  std::vector<InjectedFault> Faults;
  // Whether the simulated processors answer the simulation back-door (fatal stops then return).
  bool SimulationBackdoor = true;

  bool SiblingAtStart(const std::string &Name) const;
  bool SiblingExists(const std::string &Name) const;
};

// The name of a configuration item ("PcdCcxPpinSocket0"), or its token number in decimal.
std::string PcdItemName(uint64_t Token);

// The sibling components a description may name, and the boot phases an arrival may follow.
const std::vector<std::string> &KnownSiblings();
const std::vector<std::string> &BootPhases();

// Reads a description. Throws MachineError naming the source, the field path and what was expected.
Machine LoadMachineFile(const std::string &Path);
Machine ParseMachine(const std::string &JsonText, const std::string &Source);
// The built-in default machine (the text of machines/default.json, compiled in).
Machine DefaultMachine();
const std::string &DefaultMachineText();

}  // namespace sim

#endif  // SIM_MACHINE_MACHINE_H_
