// The report of a ccxsim run: readable text for the terminal and the same facts as JSON.
#ifndef TOOLS_REPORT_H_
#define TOOLS_REPORT_H_

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"

namespace ccxsim {

// "EFI_SUCCESS", "EFI_ABORTED", or the hexadecimal value of a status without a name.
std::string StatusName(uint64_t Status);
// Whether the boot ran to its end: the entry returned and the boot was played out, or a reset ended it.
bool RanToItsEnd(const sim::BootRecord &Boot);
// How the boot ended: "returned", "reset (EfiResetCold)", "halted on fatal stop 0x30910235", ...
std::string BootEndText(const sim::BootEnd &End);

void PrintMachine(std::ostream &Out, const sim::Machine &Machine, const std::string &Image);
void PrintBoot(std::ostream &Out, const sim::BootRecord &Boot, size_t Number, size_t Count);
nlohmann::json BootJson(const sim::BootRecord &Boot);

}  // namespace ccxsim

#endif  // TOOLS_REPORT_H_
