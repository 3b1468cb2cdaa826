#include "tools/AccessReport.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <vector>

namespace ccxsim {
namespace {

std::optional<sim::CostModel> gChosenModel;

bool IsServicePhase(const std::string &Name) { return Name.rfind(kServicePhasePrefix, 0) == 0; }

// "12", or "3 + 1016 on APs" when APs took part.
std::string CountText(const sim::AccessCounts &Counts, sim::CountedAccess Kind) {
  const uint64_t OnBsp = Counts.OnBsp(Kind);
  const uint64_t OnAps = Counts.OnAps(Kind);
  if (OnAps == 0) return std::to_string(OnBsp);
  if (OnBsp == 0) return std::to_string(OnAps) + " on APs";
  return std::to_string(OnBsp) + " + " + std::to_string(OnAps) + " on APs";
}

// The kinds that make up most of an estimate, largest first, as "bytes filled 24.1 ms".
std::string LargestShares(const sim::PhaseEstimate &Estimate) {
  std::vector<size_t> Kinds;
  for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
    if (Estimate.ByKind[Index] > 0) Kinds.push_back(Index);
  }
  std::stable_sort(Kinds.begin(), Kinds.end(),
                   [&](size_t Left, size_t Right) { return Estimate.ByKind[Left] > Estimate.ByKind[Right]; });
  std::string Text;
  // Two shares say where the time goes; the full counts follow on the next line.
  for (size_t Rank = 0; Rank < Kinds.size() && Rank < 2; Rank++) {
    Text += Rank == 0 ? ", of which " : ", ";
    Text += std::string(sim::CountedAccessLabel(sim::CountedAccess(Kinds[Rank]))) + " " +
            DurationText(Estimate.ByKind[Kinds[Rank]]);
  }
  return Text;
}

void PrintPhase(std::ostream &Out, const sim::AccessPhase &Phase, const sim::CostModel &Model) {
  const sim::PhaseEstimate Estimate = sim::EstimatePhase(Model, Phase);
  Out << "  " << Phase.Name << ": " << DurationText(Estimate.Total) << LargestShares(Estimate) << "\n";
  std::string Line;
  for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
    const auto Kind = sim::CountedAccess(Index);
    if (Phase.Counts.Total(Kind) == 0) continue;
    std::string Piece = std::string(sim::CountedAccessLabel(Kind)) + " " + CountText(Phase.Counts, Kind);
    if (!Line.empty() && Line.size() + Piece.size() + 2 > 96) {
      Out << "    " << Line << "\n";
      Line.clear();
    }
    Line += (Line.empty() ? "" : ", ") + Piece;
  }
  Out << "    " << (Line.empty() ? "no hardware accesses" : Line) << "\n";
}

nlohmann::json KindsJson(const std::array<uint64_t, sim::kCountedAccessKinds> &Counts) {
  nlohmann::json Result = nlohmann::json::object();
  for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
    if (Counts[Index] != 0) Result[sim::CountedAccessKey(sim::CountedAccess(Index))] = Counts[Index];
  }
  return Result;
}

}  // namespace

void UseCostModel(const sim::CostModel &Model) { gChosenModel = Model; }

const sim::CostModel &ActiveCostModel() { return gChosenModel ? *gChosenModel : sim::DefaultCostModel(); }

std::string DurationText(double Nanoseconds) {
  char Text[32];
  // Three significant digits at most, one decimal below ten of a unit.
  if (Nanoseconds >= 1e6) {
    std::snprintf(Text, sizeof(Text), Nanoseconds >= 1e8 ? "%.0f ms" : "%.1f ms", Nanoseconds / 1e6);
  } else if (Nanoseconds >= 1e3) {
    std::snprintf(Text, sizeof(Text), Nanoseconds >= 1e4 ? "%.0f us" : "%.1f us", Nanoseconds / 1e3);
  } else {
    std::snprintf(Text, sizeof(Text), "%.0f ns", Nanoseconds);
  }
  return Text;
}

void PrintAccessReport(std::ostream &Out, const sim::BootRecord &Boot, const sim::CostModel &Model) {
  Out << "\nhardware accesses and estimated time on hardware (latencies: " << Model.Source << "):\n";
  if (Boot.Accesses.empty()) {
    Out << "  (no phase ran)\n";
    return;
  }
  // Totals add the phases' estimates: how far AP work overlaps is a matter of each phase's own
  // starts, which summed counts would mix.
  double BootTotal = 0;
  double ServiceTotal = 0;
  bool AnyService = false;
  for (const sim::AccessPhase &Phase : Boot.Accesses) {
    // The gap between the consumers' calls is only shown when something happened in it.
    if (Phase.Name == "after_boot" && Phase.Counts.Empty()) continue;
    PrintPhase(Out, Phase, Model);
    const double Estimate = sim::EstimatePhase(Model, Phase).Total;
    if (IsServicePhase(Phase.Name)) {
      ServiceTotal += Estimate;
      AnyService = true;
    } else {
      BootTotal += Estimate;
    }
  }
  Out << "  total of the boot (every phase but the service calls): " << DurationText(BootTotal) << "\n";
  if (AnyService) Out << "  total of the service calls: " << DurationText(ServiceTotal) << "\n";
}

nlohmann::json AccessReportJson(const sim::BootRecord &Boot, const sim::CostModel &Model) {
  nlohmann::json Phases = nlohmann::json::array();
  for (const sim::AccessPhase &Phase : Boot.Accesses) {
    const sim::PhaseEstimate Estimate = sim::EstimatePhase(Model, Phase);
    nlohmann::json ByKind = nlohmann::json::object();
    for (size_t Index = 0; Index < sim::kCountedAccessKinds; Index++) {
      if (Estimate.ByKind[Index] > 0) ByKind[sim::CountedAccessKey(sim::CountedAccess(Index))] = Estimate.ByKind[Index];
    }
    Phases.push_back({{"phase", Phase.Name},
                      {"service_call", IsServicePhase(Phase.Name)},
                      {"on_bsp", KindsJson(Phase.Counts.Bsp)},
                      {"on_aps", KindsJson(Phase.Counts.Ap)},
                      {"estimate_ns", Estimate.Total},
                      {"estimate_ns_by_kind", ByKind}});
  }
  return {{"latencies", Model.Source}, {"phases", Phases}};
}

}  // namespace ccxsim
