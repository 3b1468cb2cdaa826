#include "tools/PlatformTablesReport.h"

#include <cstdio>
#include <string>

#include "tools/AccessReport.h"
#include "tools/OutputFolder.h"
#include "tools/ServiceCalls.h"
#include "sim/HexText.h"

namespace ccxsim {
namespace {

using sim::Hex;

std::string Text(const CHAR8 *Field, size_t Width) { return std::string(Field, strnlen(Field, Width)); }

void PrintErrors(std::ostream &Out, const std::vector<std::string> &Errors) {
  for (const std::string &Error : Errors) Out << "  ERROR: " << Error << "\n";
}

}  // namespace

PlatformTables BuildPlatformTables(sim::Platform &Platform) {
  PlatformTables Tables;
  Tables.Pcct = AccountedService(Platform, kServicePcct, [&] { return sim::BuildPcct(Platform); });
  Tables.Hest = AccountedService(Platform, kServiceHest, [&] { return sim::BuildHest(Platform); });
  Tables.Smbios = AccountedService(Platform, kServiceSmbios, [&] { return sim::BuildSmbios(Platform); });
  return Tables;
}

void PrintPlatformTables(std::ostream &Out, const std::optional<PlatformTables> &Tables) {
  Out << "\nplatform tables:\n";
  if (!Tables) {
    Out << "  not built (the boot did not reach its end)\n";
    return;
  }
  const sim::PcctTable &Pcct = Tables->Pcct;
  if (!Pcct.ServiceFound) {
    Out << "  PCCT: no PCCT service\n";
  } else if (!Pcct.Subspace) {
    Out << "  PCCT: the subspace service answered " << Hex(Pcct.Status) << ", no table\n";
  } else {
    Out << "  PCCT: subspace at " << Hex(Pcct.Subspace->BaseAddress) << ", " << Hex(Pcct.Subspace->MemoryRangeLength)
        << " bytes, doorbell " << Hex(Pcct.Subspace->DoorbellRegister.Address) << "\n";
  }
  PrintErrors(Out, Pcct.Errors);
  const sim::HestTable &Hest = Tables->Hest;
  if (!Hest.ServiceFound) {
    Out << "  HEST: no machine-check service\n";
  } else {
    Out << "  HEST: one IA-32 machine-check source of " << Hest.Banks << " banks\n";
  }
  PrintErrors(Out, Hest.Errors);
  if (!Tables->Smbios.ServiceFound) {
    Out << "  SMBIOS: no processor information service\n";
    return;
  }
  for (const sim::SmbiosSocket &Socket : Tables->Smbios.Sockets) {
    const CCX_SMBIOS_PROCESSOR_INFO &Info = Socket.Processor;
    Out << "  SMBIOS socket " << Socket.Socket << ": \"" << Text(Info.ProcessorVersion, CCX_SMBIOS_VERSION_LENGTH)
        << "\", " << Info.CurrentSpeed << "/" << Info.MaxSpeed << " MHz, " << Info.CoreEnabled << " of "
        << Info.CoreCount << " cores, " << Info.ThreadCount << " threads; caches";
    for (const CCX_SMBIOS_CACHE_INFO &Cache : Socket.Caches) Out << " " << Hex(Cache.MaximumCacheSize2);
    Out << "\n";
  }
  PrintErrors(Out, Tables->Smbios.Errors);
}

nlohmann::json PlatformTablesJson(const std::optional<PlatformTables> &Tables) {
  if (!Tables) return nullptr;
  nlohmann::json Json;
  const sim::PcctTable &Pcct = Tables->Pcct;
  Json["pcct"] = {{"service", Pcct.ServiceFound}, {"status", Hex(Pcct.Status)}};
  if (Pcct.Subspace) {
    Json["pcct"]["base"] = Hex(Pcct.Subspace->BaseAddress);
    Json["pcct"]["length"] = Hex(Pcct.Subspace->MemoryRangeLength);
    Json["pcct"]["doorbell"] = Hex(Pcct.Subspace->DoorbellRegister.Address);
  }
  Json["hest"] = {{"service", Tables->Hest.ServiceFound}, {"banks", Tables->Hest.Banks}};
  Json["smbios"] = nlohmann::json::array();
  for (const sim::SmbiosSocket &Socket : Tables->Smbios.Sockets) {
    const CCX_SMBIOS_PROCESSOR_INFO &Info = Socket.Processor;
    nlohmann::json Entry = {{"socket", Socket.Socket},
                            {"version", Text(Info.ProcessorVersion, CCX_SMBIOS_VERSION_LENGTH)},
                            {"current_mhz", +Info.CurrentSpeed},
                            {"max_mhz", +Info.MaxSpeed},
                            {"voltage", Hex(Info.Voltage)},
                            {"core_count", +Info.CoreCount},
                            {"cores_enabled", +Info.CoreEnabled},
                            {"threads", +Info.ThreadCount}};
    for (const CCX_SMBIOS_CACHE_INFO &Cache : Socket.Caches) {
      Entry["caches"].push_back({{"size2", Hex(Cache.MaximumCacheSize2)}, {"associativity", +Cache.Associativity}});
    }
    Json["smbios"].push_back(Entry);
  }
  return Json;
}

void WritePlatformTables(const std::filesystem::path &Dir, const PlatformTables &Tables) {
  WriteOutputTable(Dir / kPcctFile, Tables.Pcct.Bytes);
  WriteOutputTable(Dir / kHestFile, Tables.Hest.Bytes);
  WriteOutputTable(Dir / kSmbiosFile, Tables.Smbios.Dump);
}

}  // namespace ccxsim
