#include "sim/machine/FaultQueries.h"

#include <iterator>
#include <stdexcept>

namespace sim {
namespace {

constexpr const char *kComplexArguments = "(socket,die,complex_die,complex)";

// Reads "(1,0,2,0)" as four unsigned numbers; spaces may stand around each.
std::optional<std::vector<uint32_t>> ReadComplexArguments(std::string_view Text) {
  auto SkipSpaces = [&Text] {
    while (!Text.empty() && Text.front() == ' ') Text.remove_prefix(1);
  };
  if (Text.empty() || Text.front() != '(') return std::nullopt;
  Text.remove_prefix(1);
  std::vector<uint32_t> Numbers;
  while (true) {
    SkipSpaces();
    uint64_t Value = 0;
    size_t Digits = 0;
    while (Digits < Text.size() && Text[Digits] >= '0' && Text[Digits] <= '9' && Digits < 10) {
      Value = Value * 10 + uint64_t(Text[Digits] - '0');
      Digits++;
    }
    if (Digits == 0 || Value > 0xFFFFFFFF) return std::nullopt;
    Numbers.push_back(uint32_t(Value));
    Text.remove_prefix(Digits);
    SkipSpaces();
    if (Text.empty()) return std::nullopt;
    const char Separator = Text.front();
    Text.remove_prefix(1);
    if (Separator == ')') break;
    if (Separator != ',') return std::nullopt;
  }
  if (!Text.empty() || Numbers.size() != 4) return std::nullopt;
  return Numbers;
}

constexpr SiblingQueryName kQueries[] = {
    {SiblingQuery::TopologySockets, "fabric_topology", "GetNumberOfSockets", nullptr},
    {SiblingQuery::TopologyDies, "fabric_topology", "GetNumberOfDies", nullptr},
    {SiblingQuery::TopologyComplexDies, "fabric_topology", "GetNumberOfComplexDies", nullptr},
    {SiblingQuery::TopologyComplexes, "fabric_topology", "GetNumberOfComplexes", nullptr},
    {SiblingQuery::TopologyCores, "fabric_topology", "GetNumberOfCores", nullptr},
    {SiblingQuery::TopologyThreads, "fabric_topology", "GetNumberOfThreads", nullptr},
    {SiblingQuery::NumaProximityDomain, "fabric_numa", "GetProximityDomain", nullptr},
    {SiblingQuery::NumaProximityDomainOfComplex, "fabric_numa", "GetProximityDomain", kComplexArguments},
    {SiblingQuery::SystemInfo, "fabric_system", "GetSystemInfo", nullptr},
    // Both versions of the core topology protocol count under one service.
    {SiblingQuery::CoreTopologyOnDie, "core_topology", "GetCoreTopologyOnDie", nullptr},
    {SiblingQuery::CoreTopologyOnDieV2, "core_topology", "GetCoreTopologyOnDieV2", nullptr},
    {SiblingQuery::OptionRunHook, "option_hook", "RunHook", nullptr},
    {SiblingQuery::OptionTableSize, "option_hook", "GetTableSize", nullptr},
    {SiblingQuery::OptionCopyTable, "option_hook", "CopyTable", nullptr},
    {SiblingQuery::SocOcMessageTable, "soc", "GetOcMessageTable", nullptr},
    {SiblingQuery::SocMaxCoreFid, "soc", "GetMaxCoreFid", nullptr},
    {SiblingQuery::SocCoreCountInfo, "soc", "GetCoreCountInfo", nullptr},
    {SiblingQuery::SocDieCoreInfo, "soc", "GetDieCoreInfo", nullptr},
    {SiblingQuery::SmuRegisterRead, "smu", "SmuRegisterRead", nullptr},
    {SiblingQuery::SmuRegisterWrite, "smu", "SmuRegisterWrite", nullptr},
    {SiblingQuery::SmuServiceRequest, "smu", "SmuServiceRequest", nullptr},
    {SiblingQuery::MmioAllocate, "fabric_mmio", "AllocateMmio", nullptr},
    {SiblingQuery::RegionRegister, "region", "RegisterRegion", nullptr},
};

// The table lists the queries in the enumeration's order, so that an enumerator indexes its entry.
constexpr bool InEnumerationOrder() {
  for (size_t Index = 0; Index < std::size(kQueries); Index++) {
    if (static_cast<size_t>(kQueries[Index].Id) != Index) return false;
  }
  return true;
}
static_assert(InEnumerationOrder(), "kQueries must list the queries in the order of enum SiblingQuery");

}  // namespace

const std::vector<SiblingQueryName> &SiblingQueries() {
  static const std::vector<SiblingQueryName> kList(std::begin(kQueries), std::end(kQueries));
  return kList;
}

const SiblingQueryName &NameOf(SiblingQuery Query) { return kQueries[static_cast<size_t>(Query)]; }

std::vector<std::string> FaultServices() {
  std::vector<std::string> Services;
  for (const SiblingQueryName &Entry : SiblingQueries()) {
    if (Services.empty() || Services.back() != Entry.Service) Services.push_back(Entry.Service);
  }
  return Services;
}

std::vector<std::string> FaultQueriesOf(std::string_view Service) {
  std::vector<std::string> Queries;
  for (const SiblingQueryName &Entry : SiblingQueries()) {
    if (Entry.Service == Service)
      Queries.push_back(std::string(Entry.Query) + (Entry.Arguments ? Entry.Arguments : ""));
  }
  return Queries;
}

std::string ComplexQueryName(SiblingQuery Query, uint32_t Socket, uint32_t Die, uint32_t ComplexDie, uint32_t Complex) {
  const SiblingQueryName &Name = NameOf(Query);
  if (Name.Arguments != kComplexArguments) throw std::logic_error(std::string(Name.Query) + " takes no complex");
  return std::string(Name.Query) + "(" + std::to_string(Socket) + "," + std::to_string(Die) + "," +
         std::to_string(ComplexDie) + "," + std::to_string(Complex) + ")";
}

std::optional<std::string> CountedQueryName(std::string_view Service, std::string_view Text) {
  for (const SiblingQueryName &Entry : SiblingQueries()) {
    if (Entry.Service != Service) continue;
    const std::string_view Query = Entry.Query;
    if (Entry.Arguments == nullptr) {
      if (Text == Query) return std::string(Query);
      continue;
    }
    if (Text.substr(0, Query.size()) != Query) continue;
    if (const auto Numbers = ReadComplexArguments(Text.substr(Query.size()))) {
      return ComplexQueryName(Entry.Id, (*Numbers)[0], (*Numbers)[1], (*Numbers)[2], (*Numbers)[3]);
    }
  }
  return std::nullopt;
}

}  // namespace sim
