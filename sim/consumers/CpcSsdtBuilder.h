// The builder of the processors' _CPC packages, as the platform's outside driver: it walks the
// driver's CPPC template to its end entry and writes an SSDT in ASL with one processor device per
// thread ("ACPI0007", _UID the thread's number in walk order) and its _CPC package. Registers
// become Register () descriptors, empty registers the null register, and callback elements the
// integers the driver's callbacks compute from this builder's own settings (the machine's "cppc").
// The template and every thread's callback integers are compared field by field with what the
// machine calls for (sim/oracle/CppcOracle.h).
#ifndef SIM_CONSUMERS_CPC_SSDT_BUILDER_H_
#define SIM_CONSUMERS_CPC_SSDT_BUILDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/platform/Platform.h"

namespace sim {

struct CpcSsdtReport {
  bool ServiceFound = false;
  // The template's elements before its end entry, and the package revision they call for.
  size_t Elements = 0;
  uint32_t Revision = 0;
  // The integers of the callback elements, in template order (the same for every thread).
  std::vector<uint32_t> CallbackValues;
  size_t Devices = 0;
  std::string Asl;
  std::vector<std::string> Errors;
};

CpcSsdtReport BuildCpcSsdt(Platform &Machine);

}  // namespace sim

#endif  // SIM_CONSUMERS_CPC_SSDT_BUILDER_H_
