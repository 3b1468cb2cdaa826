#include "sim/platform/CostModel.h"

#include <cmath>
#include <fstream>
#include <sstream>

#include "sim/machine/JsonFields.h"

namespace sim {

// Generated at configure time from data/latencies.json.
const std::string &DefaultCostModelText();

CostModel ParseCostModel(const std::string &Text, const std::string &Source) {
  nlohmann::json Document;
  try {
    Document = nlohmann::json::parse(Text);
  } catch (const nlohmann::json::parse_error &Error) {
    throw MachineError(Source + ": not valid JSON: " + Error.what());
  }
  const JsonCursor Root(Document, Source, "");
  Root.OnlyKeys({"description", "latencies"});
  if (Root.Has("description")) Root.Field("description").String();
  const JsonCursor Latencies = Root.Field("latencies");
  Latencies.ExpectObject();
  for (const auto &[Key, Unused] : Latencies.Value().items()) {
    bool Known = false;
    for (size_t Index = 0; Index < kCountedAccessKinds; Index++) Known = Known || Key == CountedAccessKey(CountedAccess(Index));
    if (!Known) Latencies.Field(Key).Fail("unknown kind of access \"" + Key + "\"");
  }

  CostModel Model;
  Model.Source = Source;
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    const JsonCursor Entry = Latencies.Field(CountedAccessKey(CountedAccess(Index)));
    Entry.OnlyKeys({"ns", "why"});
    if (Entry.Has("why")) Entry.Field("why").String();
    const JsonCursor Nanoseconds = Entry.Field("ns");
    if (!Nanoseconds.Value().is_number()) Nanoseconds.Fail("expected a number of nanoseconds, got " + Nanoseconds.Value().dump());
    const double Value = Nanoseconds.Value().get<double>();
    if (!std::isfinite(Value) || Value < 0) Nanoseconds.Fail("a latency is a finite number of at least 0");
    Model.Nanoseconds[Index] = Value;
  }
  return Model;
}

CostModel LoadCostModelFile(const std::string &Path) {
  std::ifstream File(Path);
  if (!File) throw MachineError(Path + ": cannot open the cost model");
  std::ostringstream Text;
  Text << File.rdbuf();
  return ParseCostModel(Text.str(), Path);
}

const CostModel &DefaultCostModel() {
  static const CostModel kModel = ParseCostModel(DefaultCostModelText(), "built-in");
  return kModel;
}

PhaseEstimate EstimatePhase(const CostModel &Model, const AccessPhase &Phase) {
  PhaseEstimate Estimate;
  Estimate.Name = Phase.Name;
  const uint64_t Starts = Phase.Counts.Total(CountedAccess::ApStart);
  const uint64_t Procedures = Phase.Counts.Total(CountedAccess::ApProcedure);
  // Procedures that ran side by side per start; the APs' work shrinks by this much.
  const double Overlap = Starts != 0 && Procedures > Starts ? double(Procedures) / double(Starts) : 1.0;
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    const double Latency = Model.Nanoseconds[Index];
    const double Time = double(Phase.Counts.Bsp[Index]) * Latency + double(Phase.Counts.Ap[Index]) * Latency / Overlap;
    Estimate.ByKind[Index] = Time;
    Estimate.Total += Time;
  }
  return Estimate;
}

}  // namespace sim
