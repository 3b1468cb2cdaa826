// The names of UEFI status codes as the simulator and its tools write them ("EFI_DEVICE_ERROR"),
// both ways: a report prints a status by name, and a machine description may give one by name.
#ifndef SIM_UEFI_STATUS_NAMES_H_
#define SIM_UEFI_STATUS_NAMES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// "EFI_SUCCESS", "EFI_ABORTED", or the hexadecimal value of a status without a name.
std::string EfiStatusName(uint64_t Status);
// The status a name stands for ("EFI_DEVICE_ERROR"); nothing for a name the table does not hold.
std::optional<uint64_t> EfiStatusByName(std::string_view Name);
// Every name the table holds, in the table's order (successes, then errors, then warnings).
std::vector<std::string> EfiStatusNames();

}  // namespace sim

#endif  // SIM_UEFI_STATUS_NAMES_H_
