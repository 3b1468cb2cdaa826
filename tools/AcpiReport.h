// The report's section on the ACPI processor objects: what the builder of those objects got from
// the driver's ACPI services, and whether the APIC IDs agree with the machine's processors.
#ifndef TOOLS_ACPI_REPORT_H_
#define TOOLS_ACPI_REPORT_H_

#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "sim/consumers/AcpiProcessorObjects.h"

namespace ccxsim {

// Report is empty when the boot ended before the builder could run.
void PrintAcpiProcessors(std::ostream &Out, const std::optional<sim::AcpiProcessorReport> &Report);
nlohmann::json AcpiProcessorsJson(const std::optional<sim::AcpiProcessorReport> &Report);

}  // namespace ccxsim

#endif  // TOOLS_ACPI_REPORT_H_
