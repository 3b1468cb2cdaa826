// The smallest description the loader accepts (one socket of one complex of two cores, 16 MB of
// DRAM, and the PCI configuration base every machine gives its processors), with Extra members
// added at its top level, for the loader tests of one field each.
#ifndef TESTS_SIM_MACHINE_MINIMAL_MACHINE_H_
#define TESTS_SIM_MACHINE_MINIMAL_MACHINE_H_

#include <string>

namespace sim {

inline std::string Minimal(const std::string &Extra) {
  return R"({"name": "m", "topology": {"sockets": 1, "dies_per_socket": 1, "complex_dies_per_die": 1,
    "complexes_per_complex_die": 1, "cores_per_complex": 2, "threads_per_core": 1},
    "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]}, "msrs": {"0xC0010058": "0x000003FB00000021"})" +
         Extra + "}";
}

}  // namespace sim

#endif  // TESTS_SIM_MACHINE_MINIMAL_MACHINE_H_
