// What the platform package found in the firmware after the boot (the protocols installed since
// it started, the variables written or changed, the SMM core's phase, the heap's record and the
// memory map), read from its survey and put into the boot record where a simulator boot puts what
// its own firmware core holds.
#ifndef SIM_OVMF_FIRMWARE_SURVEY_H_
#define SIM_OVMF_FIRMWARE_SURVEY_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/ovmf/GuestMemory.h"
#include "sim/platform/BootRunner.h"
#include "sim/uefi/PhysicalMemory.h"
#include "uefi/Base.h"

namespace sim {

struct FirmwareSurvey {
  struct SurveyedProtocol {
    uint32_t Handle = 0;  // 1 for the first handle made since the package started
    EFI_GUID Guid = {};
    uint64_t Interface = 0;
  };
  std::vector<SurveyedProtocol> Installed;
  std::vector<std::pair<std::string, std::vector<uint8_t>>> Variables;  // "Name GUID", data
  SmmCorePhaseRecord SmmCore;
  std::optional<uint64_t> HeapInterface;
  std::vector<MemoryRange> MemoryMap;
  std::vector<MemoryRange> MemoryMapBefore;
  struct Event {
    uint64_t Notify = 0;
    uint64_t Tpl = 0;
    std::optional<EFI_GUID> Group;
    std::vector<EFI_GUID> WaitsFor;
  };
  std::vector<Event> Events;  // the image's events still open
  bool Truncated = false;
};

// Reads the records of a survey. Throws std::runtime_error naming the record that does not fit.
FirmwareSurvey ReadFirmwareSurvey(std::span<const uint8_t> Data);

// Puts what the survey found into Record (protocols, events, variables, the SMM core's phase, the
// heap, the memory maps). NameOf names the function at an address of the image.
void ApplyFirmwareSurvey(const FirmwareSurvey &Survey, const GuestMemory &Memory,
                         const std::function<std::string(uint64_t)> &NameOf, BootRecord &Record);

}  // namespace sim

#endif  // SIM_OVMF_FIRMWARE_SURVEY_H_
