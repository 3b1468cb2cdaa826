// What ccxsim answers the platform package: each trapped instruction of the image emulated on
// the simulated processor that ran it, through the very models a simulator boot uses; the image's
// file; the boot's steps; and how the boot ended.
#ifndef SIM_OVMF_REMOTE_REQUESTS_H_
#define SIM_OVMF_REMOTE_REQUESTS_H_

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/ovmf/ChannelFormat.h"
#include "sim/devices/Device.h"
#include "sim/image/TrapSites.h"
#include "sim/ovmf/FirmwareSurvey.h"
#include "sim/ovmf/GuestMemory.h"
#include "sim/ovmf/SiblingProxies.h"
#include "sim/platform/Platform.h"

namespace sim {

struct RemoteImage {
  std::string Name;
  std::span<const uint8_t> File;
  uint32_t SizeOfImage = 0;
  std::vector<TrapSite> Sites;
  std::vector<AddressRange> Windows;
};

class RemoteRequests {
 public:
  // Steps are added to Steps as the package reports them.
  RemoteRequests(Platform &Machine, const RemoteImage &Image, const GuestMemory &Memory, std::vector<std::string> &Steps);

  // Answers the request in Box; false once the boot is over (kFinish). Throws std::runtime_error
  // naming the processor, the address and the instruction bytes for a trap nobody may emulate,
  // and the package's own message for kFailure.
  bool Answer(ccx_channel::Mailbox &Box);

  std::optional<uint64_t> EntryStatus() const { return EntryStatus_; }
  uint64_t ImageBase() const { return ImageBase_; }
  const std::array<uint64_t, kTrapKindCount> &Counts() const { return Counts_; }
  // What the package found in the firmware after the boot, once it has sent it.
  const std::optional<FirmwareSurvey> &Survey() const { return Survey_; }

 private:
  void Hello(ccx_channel::Mailbox &Box);
  void Arrive(ccx_channel::Mailbox &Box);
  void Hobs(ccx_channel::Mailbox &Box);
  void Emulate(ccx_channel::Mailbox &Box);
  Processor &Asking(const ccx_channel::Mailbox &Box);

  Platform &Machine_;
  const RemoteImage &Image_;
  const GuestMemory &Memory_;
  std::vector<std::string> &Steps_;
  std::optional<uint64_t> EntryStatus_;
  uint64_t ImageBase_ = 0;
  std::array<uint64_t, kTrapKindCount> Counts_{};
  SiblingProxies Siblings_;
  std::optional<FirmwareSurvey> Survey_;
};

}  // namespace sim

#endif  // SIM_OVMF_REMOTE_REQUESTS_H_
