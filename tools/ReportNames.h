// The names the report sets beside raw numbers: MSRs, heap-buffer handles, configuration tokens,
// test points and option hooks. Each comes from the one place that defines the number; a number
// without a name gives the empty string, and the report then shows it bare.
#ifndef TOOLS_REPORT_NAMES_H_
#define TOOLS_REPORT_NAMES_H_

#include <cstdint>
#include <string>

namespace ccxsim {

// "HWCR", "PStateDef0", "MTRRphysMask3".
std::string MsrName(uint32_t Msr);
// "\"ACDB\" configuration tokens", "P-state information".
std::string HeapHandleName(uint32_t Handle);
// Where the end-of-initialization hook takes the token from: "PcdCcxOcMode", "option 0xD018".
std::string TokenName(uint32_t Uid);
// The place a test point marks, from the full value the port showed (0xB000AC55).
std::string TestPointName(uint32_t Value);
// What the driver raises an option hook number for.
std::string OptionHookName(uint32_t HookId);

// Number and Name side by side, or Number alone when Name is empty; Width pads the name.
std::string WithName(const std::string &Number, const std::string &Name, size_t Width = 0);

}  // namespace ccxsim

#endif  // TOOLS_REPORT_NAMES_H_
