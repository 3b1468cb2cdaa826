// A bounded walk over a HOB list, for checking what a builder produced and for reports.
#ifndef SIM_UEFI_HOB_WALK_H_
#define SIM_UEFI_HOB_WALK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct HobEntry {
  uint16_t type;
  uint16_t length;
  uint64_t offset;  // from the start of the list
};

struct HobWalk {
  std::vector<HobEntry> entries;  // in list order, the end-of-list HOB included when reached
  bool complete = false;          // the end-of-list HOB was reached with every HOB well formed
  std::string problem;            // why the walk stopped early, when it did
};

// Steps from HOB to HOB by their lengths without ever reading past `size` bytes. A HOB whose
// length is below the header size or not a multiple of 8, or that runs past the end, stops the
// walk with the problem named.
HobWalk WalkHobList(const void *list, uint64_t size);

}  // namespace sim

#endif  // SIM_UEFI_HOB_WALK_H_
