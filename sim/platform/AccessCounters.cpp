#include "sim/platform/AccessCounters.h"

#include "sim/cpu/MpServices.h"

namespace sim {
namespace {

struct KindNames {
  const char *Key;
  const char *Label;
};

// In the order of CountedAccess.
constexpr KindNames kKindNames[kCountedAccessKinds] = {
    {"msr_read", "MSR reads"},
    {"msr_write", "MSR writes"},
    {"cpuid", "CPUID"},
    {"port_read", "port reads"},
    {"port_write", "port writes"},
    {"mmio_read", "MMIO reads"},
    {"mmio_write", "MMIO writes"},
    {"sideband_read", "sideband reads"},
    {"sideband_write", "sideband writes"},
    {"ap_start", "AP starts"},
    {"ap_procedure", "AP procedures"},
    {"cache_flush", "WBINVD"},
    {"bytes_filled", "bytes filled"},
    {"bytes_copied", "bytes copied"},
};

}  // namespace

const char *CountedAccessKey(CountedAccess Kind) { return kKindNames[static_cast<size_t>(Kind)].Key; }
const char *CountedAccessLabel(CountedAccess Kind) { return kKindNames[static_cast<size_t>(Kind)].Label; }

bool AccessCounts::Empty() const {
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    if (Bsp[Index] != 0 || Ap[Index] != 0) return false;
  }
  return true;
}

AccessCounts AccessCounts::operator-(const AccessCounts &Earlier) const {
  AccessCounts Difference;
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    Difference.Bsp[Index] = Bsp[Index] - Earlier.Bsp[Index];
    Difference.Ap[Index] = Ap[Index] - Earlier.Ap[Index];
  }
  return Difference;
}

AccessCounts &AccessCounts::operator+=(const AccessCounts &More) {
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    Bsp[Index] += More.Bsp[Index];
    Ap[Index] += More.Ap[Index];
  }
  return *this;
}

AccessCounts AccessCounters::Totals() const {
  AccessCounts Counts;
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    Counts.Bsp[Index] = Totals_[Index * 2].load(std::memory_order_relaxed);
    Counts.Ap[Index] = Totals_[Index * 2 + 1].load(std::memory_order_relaxed);
  }
  if (Mp_ != nullptr) {
    // Only the BSP starts procedures; the procedures themselves run on the APs.
    const MpServicesCounters Mp = Mp_->Counters();
    Counts.Bsp[static_cast<size_t>(CountedAccess::ApStart)] += Mp.StartupAllAPsCalls + Mp.StartupThisAPCalls;
    Counts.Ap[static_cast<size_t>(CountedAccess::ApProcedure)] += Mp.ProceduresRun;
  }
  return Counts;
}

void AccessCounters::CloseOpenPhase(const AccessCounts &Now) {
  if (!Phases_.empty()) Phases_[Open_].Counts += Now - OpenedAt_;
  OpenedAt_ = Now;
}

void AccessCounters::Enter(const std::string &Name) {
  const AccessCounts Now = Totals();
  std::lock_guard<std::mutex> Guard(PhaseLock_);
  CloseOpenPhase(Now);
  if (EnterListener_) EnterListener_(Name, Now);
  for (size_t Index = 0; Index < Phases_.size(); Index++) {
    if (Phases_[Index].Name == Name) {
      Open_ = Index;
      return;
    }
  }
  Phases_.push_back({Name, {}});
  Open_ = Phases_.size() - 1;
}

std::string AccessCounters::Current() const {
  std::lock_guard<std::mutex> Guard(PhaseLock_);
  return Phases_.empty() ? std::string() : Phases_[Open_].Name;
}

std::vector<AccessPhase> AccessCounters::Phases() const {
  const AccessCounts Now = Totals();
  std::lock_guard<std::mutex> Guard(PhaseLock_);
  std::vector<AccessPhase> Result;
  for (size_t Index = 0; Index < Phases_.size(); Index++) {
    // What a scope counted outside any phase is its own; the empty name collects nothing shown.
    if (Phases_[Index].Name.empty()) continue;
    Result.push_back(Phases_[Index]);
    if (Index == Open_) Result.back().Counts += Now - OpenedAt_;
  }
  return Result;
}

AccessScope::AccessScope(AccessCounters &Counters, const std::string &Name)
    : Counters_(Counters), Previous_(Counters.Current()) {
  Counters_.Enter(Name);
}

AccessScope::~AccessScope() {
  // A scope opened outside any phase returns to the unnamed phase, which Phases() leaves out.
  Counters_.Enter(Previous_);
}

}  // namespace sim
