#include "sim/platform/FaultSchedule.h"

#include <cstring>

namespace sim {
namespace {

bool SameGuid(const EFI_GUID &Left, const EFI_GUID &Right) { return std::memcmp(&Left, &Right, sizeof(EFI_GUID)) == 0; }

}  // namespace

EFI_STATUS DefaultFaultStatus(FaultSite Site) {
  switch (Site) {
    case FaultSite::PageAllocation:
    case FaultSite::PoolAllocation:
      return EFI_OUT_OF_RESOURCES;
    case FaultSite::LocateProtocol:
      return EFI_NOT_FOUND;
    case FaultSite::VariableWrite:
    case FaultSite::MpStart:
      return EFI_DEVICE_ERROR;
  }
  return EFI_DEVICE_ERROR;
}

const char *FaultSiteName(FaultSite Site) {
  switch (Site) {
    case FaultSite::PageAllocation:
      return "AllocatePages";
    case FaultSite::PoolAllocation:
      return "AllocatePool";
    case FaultSite::LocateProtocol:
      return "LocateProtocol";
    case FaultSite::VariableWrite:
      return "SetVariable";
    case FaultSite::MpStart:
      return "MP services start";
  }
  return "unknown";
}

std::optional<EFI_STATUS> FaultSchedule::Check(FaultSite Site, const EFI_GUID *Guid) {
  std::lock_guard<std::mutex> Guard(Lock_);
  const uint64_t Number = ++Calls_[Site];
  uint64_t GuidNumber = 0;
  if (Site == FaultSite::LocateProtocol) {
    // A null GUID is the caller's mistake; it counts under the all-zero GUID.
    const EFI_GUID Asked = Guid != nullptr ? *Guid : EFI_GUID{};
    auto It = Locates_.begin();
    while (It != Locates_.end() && !SameGuid(It->first, Asked)) ++It;
    if (It == Locates_.end()) It = Locates_.insert(Locates_.end(), {Asked, 0});
    GuidNumber = ++It->second;
    for (const ScheduledFault &Fault : Faults_) {
      if (Fault.Site == Site && SameGuid(Fault.Protocol, Asked) && Fault.Call == GuidNumber) {
        Fired_.push_back(Fault);
        return Fault.Status;
      }
    }
    return std::nullopt;
  }
  for (const ScheduledFault &Fault : Faults_) {
    if (Fault.Site == Site && Fault.Call == Number) {
      Fired_.push_back(Fault);
      return Fault.Status;
    }
  }
  return std::nullopt;
}

uint64_t FaultSchedule::Calls(FaultSite Site) const {
  std::lock_guard<std::mutex> Guard(Lock_);
  auto It = Calls_.find(Site);
  return It == Calls_.end() ? 0 : It->second;
}

std::vector<std::pair<EFI_GUID, uint64_t>> FaultSchedule::Locates() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Locates_;
}

std::vector<ScheduledFault> FaultSchedule::Fired() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Fired_;
}

}  // namespace sim
