#include "sim/machine/FaultSettings.h"

#include "sim/machine/FaultQueries.h"
#include "sim/machine/JsonFields.h"
#include "sim/uefi/StatusNames.h"

namespace sim {
namespace {

std::string Listed(const std::vector<std::string> &Names) {
  std::string Text;
  for (const std::string &Name : Names) Text += (Text.empty() ? "" : ", ") + Name;
  return Text;
}

// A status as a number (decimal or "0x" hex) or by its name, "EFI_DEVICE_ERROR".
uint64_t ReadStatus(const JsonCursor &Node) {
  if (Node.Value().is_string()) {
    const std::string Text = Node.String();
    if (!Text.empty() && (Text[0] < '0' || Text[0] > '9')) {
      if (const auto Status = EfiStatusByName(Text)) return *Status;
      Node.Fail("unknown status \"" + Text + "\"; a status is a number or one of " + Listed(EfiStatusNames()));
    }
  }
  return Node.Unsigned();
}

std::string ReadService(const JsonCursor &Node) {
  const std::string Service = Node.String();
  if (FaultQueriesOf(Service).empty()) {
    Node.Fail("unknown service \"" + Service + "\"; the services are " + Listed(FaultServices()));
  }
  return Service;
}

std::string ReadQuery(const JsonCursor &Node, const std::string &Service) {
  const std::string Query = Node.String();
  if (auto Counted = CountedQueryName(Service, Query)) return *Counted;
  Node.Fail("unknown query \"" + Query + "\" of service \"" + Service + "\"; its queries are " +
            Listed(FaultQueriesOf(Service)));
}

// "fabric_topology.GetNumberOfCores": a query of the table, with its service.
std::string ReadServiceQuery(const JsonCursor &Node) {
  const std::string Text = Node.String();
  const size_t Dot = Text.find('.');
  const std::string Service = Text.substr(0, Dot);
  if (Dot == std::string::npos || FaultQueriesOf(Service).empty()) {
    Node.Fail("expected \"service.query\" with a service of " + Listed(FaultServices()) + ", got \"" + Text + "\"");
  }
  const auto Counted = CountedQueryName(Service, Text.substr(Dot + 1));
  if (!Counted) {
    Node.Fail("unknown query \"" + Text.substr(Dot + 1) + "\" of service \"" + Service + "\"; its queries are " +
              Listed(FaultQueriesOf(Service)));
  }
  return Service + "." + *Counted;
}

}  // namespace

void ReadFaults(const JsonCursor &Node, std::vector<InjectedFault> &Faults) {
  Node.ExpectArray();
  for (size_t Index = 0; Index < Node.Value().size(); Index++) {
    const JsonCursor Entry = Node.Element(Index);
    Entry.OnlyKeys({"service", "query", "call", "status"});
    InjectedFault Fault;
    Fault.Service = ReadService(Entry.Field("service"));
    Fault.Query = ReadQuery(Entry.Field("query"), Fault.Service);
    Fault.Call = Entry.Has("call") ? Entry.Field("call").Unsigned(1) : 1;
    Fault.Status = ReadStatus(Entry.Field("status"));
    Faults.push_back(Fault);
  }
}

void ReadExpectation(const JsonCursor &Node, BootExpectation &Expect) {
  Node.OnlyKeys({"entry_status", "fatal_stops", "ran_to_its_end", "sibling_failures"});
  if (Node.Has("entry_status")) {
    const JsonCursor Status = Node.Field("entry_status");
    const bool None = Status.Value().is_string() && Status.String() == "none";
    Expect.EntryStatus = None ? std::optional<uint64_t>() : std::optional<uint64_t>(ReadStatus(Status));
  }
  if (Node.Has("fatal_stops")) {
    const JsonCursor List = Node.Field("fatal_stops");
    List.ExpectArray();
    Expect.FatalStops.emplace();
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      Expect.FatalStops->push_back(uint32_t(List.Element(Index).Unsigned(0, 0xFFFFFFFF)));
    }
  }
  if (Node.Has("ran_to_its_end")) Expect.RanToItsEnd = Node.Field("ran_to_its_end").Boolean();
  if (Node.Has("sibling_failures")) {
    const JsonCursor List = Node.Field("sibling_failures");
    List.ExpectArray();
    Expect.SiblingFailures.emplace();
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      Expect.SiblingFailures->push_back(ReadServiceQuery(List.Element(Index)));
    }
  }
}

}  // namespace sim
