// What a machine description's settings will cost it, found from the description alone before
// anything boots: tables the driver builds that will leave processors out, and records that will
// say the opposite of what a setting asks for. A description with such a mix still boots; the
// warnings only say what it will show and which setting changes it.
#ifndef SIM_MACHINE_MACHINE_CONSISTENCY_H_
#define SIM_MACHINE_MACHINE_CONSISTENCY_H_

#include <string>
#include <vector>

#include "sim/machine/Machine.h"

namespace sim {

struct MachineWarning {
  // What will happen and why: "192 of 384 processors have APIC IDs of 255 or above, ...".
  std::string Cause;
  // The setting that changes it: "set pcd.PcdCcxApicMode to 2 (x2APIC)".
  std::string Remedy;

  // "WARNING: <cause>; <remedy>", as the report and ccxsim machine print it.
  std::string Line() const;
};

std::vector<MachineWarning> ConsistencyWarnings(const Machine &Description);
// The warnings' lines, in the order ConsistencyWarnings gives them.
std::vector<std::string> ConsistencyWarningLines(const Machine &Description);

}  // namespace sim

#endif  // SIM_MACHINE_MACHINE_CONSISTENCY_H_
