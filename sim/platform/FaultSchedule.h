// A boot-wide schedule of firmware-service failures: the k-th page allocation, pool allocation,
// variable write or MP services start of the boot fails, or the k-th LocateProtocol of one GUID.
// The schedule counts every call it is asked about, so a first boot without faults tells a sweep
// how many points there are to try.
#ifndef SIM_PLATFORM_FAULT_SCHEDULE_H_
#define SIM_PLATFORM_FAULT_SCHEDULE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "sim/uefi/FaultHook.h"

namespace sim {

struct ScheduledFault {
  FaultSite Site = FaultSite::PageAllocation;
  // Only for LocateProtocol: the protocol whose locates are counted.
  EFI_GUID Protocol{};
  uint64_t Call = 1;  // 1 = the first call
  EFI_STATUS Status = EFI_OUT_OF_RESOURCES;
};

// The status a failing call of Site gives when a sweep does not choose one.
EFI_STATUS DefaultFaultStatus(FaultSite Site);
const char *FaultSiteName(FaultSite Site);

class FaultSchedule {
 public:
  explicit FaultSchedule(std::vector<ScheduledFault> Faults = {}) : Faults_(std::move(Faults)) {}
  FaultSchedule(const FaultSchedule &) = delete;
  FaultSchedule &operator=(const FaultSchedule &) = delete;

  // Counts one call at Site (of Guid for LocateProtocol) and answers its scheduled status, if any.
  std::optional<EFI_STATUS> Check(FaultSite Site, const EFI_GUID *Guid);

  uint64_t Calls(FaultSite Site) const;
  // Every protocol the boot located, with how often, in the order first asked for.
  std::vector<std::pair<EFI_GUID, uint64_t>> Locates() const;
  // The scheduled faults that were reached, in the order they fired.
  std::vector<ScheduledFault> Fired() const;

 private:
  std::vector<ScheduledFault> Faults_;
  mutable std::mutex Lock_;
  std::map<FaultSite, uint64_t> Calls_;
  std::vector<std::pair<EFI_GUID, uint64_t>> Locates_;
  std::vector<ScheduledFault> Fired_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_FAULT_SCHEDULE_H_
