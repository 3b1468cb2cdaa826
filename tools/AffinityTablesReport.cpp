#include "tools/AffinityTablesReport.h"

#include <string>
#include <vector>

#include "sim/consumers/Iasl.h"
#include "tools/AccessReport.h"
#include "tools/OutputFolder.h"
#include "tools/ServiceCalls.h"

namespace ccxsim {
namespace {

// Each difference a builder found between the driver's answers and the machine.
void PrintErrors(std::ostream &Out, const std::vector<std::string> &Errors) {
  for (const std::string &Error : Errors) Out << "    ERROR: " << Error << "\n";
}

}  // namespace

AffinityTables BuildAffinityTables(sim::Platform &Machine) {
  // Built one after the other, in this order, each counted under its own service.
  AffinityTables Tables{AccountedService(Machine, kServiceSrat, [&] { return sim::BuildSrat(Machine); }),
                        AccountedService(Machine, kServiceAffinity, [&] { return sim::BuildAffinityTable(Machine); }),
                        AccountedService(Machine, kServiceCppc, [&] { return sim::BuildCpcSsdt(Machine); })};
  return Tables;
}

void PrintAffinityTables(std::ostream &Out, const std::optional<AffinityTables> &Tables) {
  if (!Tables) return;
  Out << "\naffinity tables:\n";
  const sim::SratReport &Srat = Tables->Srat;
  if (Srat.ServiceFound) {
    Out << "  SRAT: " << Srat.Processors.size() << " processor entries, " << Srat.MemoryEntries
        << " memory entries, " << Srat.Table.size() << " bytes\n";
  } else {
    Out << "  SRAT: no SRAT service installed\n";
  }
  PrintErrors(Out, Srat.Errors);
  const sim::AffinityTableReport &Affinity = Tables->Affinity;
  if (Affinity.ServiceFound) {
    Out << "  QRAT: " << Affinity.ComputeUnits.size() << " compute units, " << Affinity.CacheEntries << " caches, "
        << Affinity.TlbEntries << " TLBs (" << Affinity.TotalEntries << " entries counted), "
        << Affinity.Table.size() << " bytes\n";
  } else {
    Out << "  QRAT: no resource affinity service installed\n";
  }
  PrintErrors(Out, Affinity.Errors);
  const sim::CpcSsdtReport &Cpc = Tables->Cpc;
  if (Cpc.ServiceFound) {
    Out << "  SSDT _CPC: " << Cpc.Devices << " processor devices, " << Cpc.Elements << " elements, revision "
        << Cpc.Revision << "\n";
  } else {
    Out << "  SSDT _CPC: no CPPC service installed\n";
  }
  PrintErrors(Out, Cpc.Errors);
}

nlohmann::json AffinityTablesJson(const std::optional<AffinityTables> &Tables) {
  if (!Tables) return nullptr;
  nlohmann::json Json;
  const sim::SratReport &Srat = Tables->Srat;
  nlohmann::json Processors = nlohmann::json::array();
  for (const sim::SratProcessorEntry &Entry : Srat.Processors) {
    Processors.push_back({{"type", Entry.Type}, {"apic_id", Entry.ApicId}, {"domain", Entry.Domain}});
  }
  Json["srat"] = {{"service_found", Srat.ServiceFound}, {"processors", Processors},
                  {"memory_entries", Srat.MemoryEntries}, {"errors", Srat.Errors}};
  const sim::AffinityTableReport &Affinity = Tables->Affinity;
  nlohmann::json Units = nlohmann::json::array();
  for (const sim::AffinityComputeUnit &Unit : Affinity.ComputeUnits) {
    Units.push_back({{"domain", Unit.Domain}, {"apic_id", Unit.ApicId}, {"threads", Unit.Threads}});
  }
  Json["resource_affinity"] = {{"service_found", Affinity.ServiceFound},
                               {"total_entries", Affinity.TotalEntries},
                               {"compute_units", Units},
                               {"cache_entries", Affinity.CacheEntries},
                               {"tlb_entries", Affinity.TlbEntries},
                               {"errors", Affinity.Errors}};
  if (Affinity.ComputeUnitStatus) Json["resource_affinity"]["compute_unit_status"] = *Affinity.ComputeUnitStatus;
  if (Affinity.CacheStatus) Json["resource_affinity"]["cache_status"] = *Affinity.CacheStatus;
  if (Affinity.TlbStatus) Json["resource_affinity"]["tlb_status"] = *Affinity.TlbStatus;
  const sim::CpcSsdtReport &Cpc = Tables->Cpc;
  Json["cpc"] = {{"service_found", Cpc.ServiceFound}, {"devices", Cpc.Devices},      {"elements", Cpc.Elements},
                 {"revision", Cpc.Revision},          {"callback_values", Cpc.CallbackValues}, {"errors", Cpc.Errors}};
  return Json;
}

bool WriteAffinityTables(const std::filesystem::path &Dir, const AffinityTables &Tables, std::ostream &Out) {
  WriteOutputTable(Dir / kSratFile, Tables.Srat.Table);
  WriteOutputTable(Dir / kQratFile, Tables.Affinity.Table);
  if (Tables.Cpc.Asl.empty()) return true;
  const std::filesystem::path Folder = Dir / kCpcFolder;
  const std::filesystem::path Source = Folder / (std::string(kCpcName) + ".dsl");
  WriteOutputFile(Source, Tables.Cpc.Asl);
  const std::optional<std::filesystem::path> Iasl = sim::FindIasl();
  if (!Iasl) {
    Out << "iasl is not installed: " << Source.string() << " is left uncompiled\n";
    return true;
  }
  const sim::IaslRun Run = sim::CompileAsl(*Iasl, Folder, kCpcName);
  if (Run.ExitCode != 0) {
    Out << "iasl refused " << Source.string() << ":\n" << Run.Output << "\n";
    return false;
  }
  return true;
}

}  // namespace ccxsim
