#include "sim/platform/CostModel.h"

#include <cmath>

#include "sim/files/JsonInput.h"
#include "sim/machine/JsonFields.h"

namespace sim {

// Generated at configure time from data/latencies.json.
const std::string &DefaultCostModelText();

namespace {

// Work on the BSP adds up; the APs' work shrinks by how many procedures ran side by side.
double KindTime(const CostModel &Model, const AccessCounts &Counts, size_t Index, double Overlap) {
  const double Latency = Model.Nanoseconds[Index];
  return double(Counts.Bsp[Index]) * Latency + double(Counts.Ap[Index]) * Latency / Overlap;
}

}  // namespace

CostModel ParseCostModel(const std::string &Text, const std::string &Source) {
  nlohmann::json Document;
  try {
    Document = ParseJsonInput<nlohmann::json>(Text, Source);
  } catch (const JsonInputError &Error) {
    throw MachineError(Error.what());
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
  std::string Text;
  try {
    Text = ReadInputFile(Path, "cost model", kTextInputCap);
  } catch (const InputFileError &Error) {
    throw MachineError(Error.what());
  }
  return ParseCostModel(Text, Path);
}

const CostModel &DefaultCostModel() {
  static const CostModel kModel = ParseCostModel(DefaultCostModelText(), "built-in");
  return kModel;
}

double ApOverlap(const AccessCounts &Counts) {
  const uint64_t Starts = Counts.Total(CountedAccess::ApStart);
  const uint64_t Procedures = Counts.Total(CountedAccess::ApProcedure);
  return Starts != 0 && Procedures > Starts ? double(Procedures) / double(Starts) : 1.0;
}

double EstimateShare(const CostModel &Model, const AccessCounts &Counts, double Overlap) {
  double Total = 0;
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) Total += KindTime(Model, Counts, Index, Overlap);
  return Total;
}

PhaseEstimate EstimatePhase(const CostModel &Model, const AccessPhase &Phase) {
  PhaseEstimate Estimate;
  Estimate.Name = Phase.Name;
  // Procedures that ran side by side per start; the APs' work shrinks by this much.
  const double Overlap = ApOverlap(Phase.Counts);
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    const double Time = KindTime(Model, Phase.Counts, Index, Overlap);
    Estimate.ByKind[Index] = Time;
    Estimate.Total += Time;
  }
  return Estimate;
}

}  // namespace sim
