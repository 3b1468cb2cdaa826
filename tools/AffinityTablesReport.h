// The SRAT, the resource affinity table and the _CPC SSDT in ccxsim's report: built by the
// consumers after the boot, summed up on the console and in the JSON report, and written under
// DIR/acpi/ with the SSDT compiled by iasl when it is installed.
#ifndef TOOLS_AFFINITY_TABLES_REPORT_H_
#define TOOLS_AFFINITY_TABLES_REPORT_H_

#include <filesystem>
#include <optional>
#include <ostream>

#include <nlohmann/json.hpp>

#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/consumers/CpcSsdtBuilder.h"
#include "sim/consumers/SratBuilder.h"

namespace ccxsim {

struct AffinityTables {
  sim::SratReport Srat;
  sim::AffinityTableReport Affinity;
  sim::CpcSsdtReport Cpc;
};

// Call on the BSP with the platform active (BootOptions::AfterBoot).
AffinityTables BuildAffinityTables(sim::Platform &Machine);
void PrintAffinityTables(std::ostream &Out, const std::optional<AffinityTables> &Tables);
nlohmann::json AffinityTablesJson(const std::optional<AffinityTables> &Tables);
// Writes DIR/acpi/SRAT.dat, DIR/acpi/QRAT.dat and DIR/acpi/SSDT-CPC.dsl, and compiles the last to
// SSDT-CPC.aml when iasl is on the PATH (its verdict goes to Out). False when iasl refuses the
// ASL; throws OutputError naming a file that cannot be written.
bool WriteAffinityTables(const std::filesystem::path &Dir, const AffinityTables &Tables, std::ostream &Out);

}  // namespace ccxsim

#endif  // TOOLS_AFFINITY_TABLES_REPORT_H_
