// The report of the PCCT, HEST and SMBIOS builders: what the driver's services answered, in the
// console report and in report.json, and the table files under the output directory
// (acpi/PCCT.dat, acpi/HEST.dat, smbios.bin).
#ifndef TOOLS_PLATFORM_TABLES_REPORT_H_
#define TOOLS_PLATFORM_TABLES_REPORT_H_

#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>

#include "sim/consumers/PlatformTables.h"

namespace ccxsim {

struct PlatformTables {
  sim::PcctTable Pcct;
  sim::HestTable Hest;
  sim::SmbiosTables Smbios;
};

// Builds the three tables (from BootOptions::AfterBoot).
PlatformTables BuildPlatformTables(sim::Platform &Platform);
// Prints each table's summary and, as ERROR: lines, every difference its builder found between
// what the service answered and what the machine says it must answer.
void PrintPlatformTables(std::ostream &Out, const std::optional<PlatformTables> &Tables);
nlohmann::json PlatformTablesJson(const std::optional<PlatformTables> &Tables);
// Writes the tables that were built; throws OutputError naming a file that cannot be written.
void WritePlatformTables(const std::filesystem::path &Dir, const PlatformTables &Tables);

}  // namespace ccxsim

#endif  // TOOLS_PLATFORM_TABLES_REPORT_H_
