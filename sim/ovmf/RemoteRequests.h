// What ccxsim answers the platform package: each trapped instruction of the image emulated on
// the simulated processor that ran it, through the very models a simulator boot uses; the image's
// file; the boot's steps; and how the boot ended.
#ifndef SIM_OVMF_REMOTE_REQUESTS_H_
#define SIM_OVMF_REMOTE_REQUESTS_H_

#include <array>
#include <functional>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/ovmf/ChannelFormat.h"
#include "sim/ovmf/ChannelLink.h"
#include "sim/devices/Device.h"
#include "sim/image/TrapSites.h"
#include "sim/ovmf/FirmwareSurvey.h"
#include "sim/ovmf/GuestMemory.h"
#include "sim/ovmf/SiblingProxies.h"
#include "sim/platform/Platform.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

struct RemoteImage {
  std::span<const uint8_t> File;
  uint32_t SizeOfImage = 0;
  std::vector<TrapSite> Sites;
  std::vector<AddressRange> Windows;
};

class RemoteRequests {
 public:
  // Steps are added to Steps as the package reports them.
  RemoteRequests(Platform &Machine, const RemoteImage &Image, const GuestMemory &Memory, std::vector<std::string> &Steps);

  // Answers the request in Box; Finish once the boot is over (kFinish). Throws std::runtime_error
  // naming the processor, the address and the instruction bytes for a trap nobody may emulate,
  // and the package's own message for kFailure.
  ChannelLink::Next Answer(ccx_channel::Mailbox &Box);

  // What answers kAfterBoot: the outside table builders' calls into the guest, made while the
  // package waits (none: the package goes straight on).
  void OnAfterBoot(std::function<void(ccx_channel::Mailbox &)> Handler) { AfterBoot_ = std::move(Handler); }
  // While the host calls into the guest, the loads and stores of a page fault outside the register
  // windows reach this process's own memory: the buffers the caller passed.
  void AllowHostMemory(bool Allow) { HostMemory_ = Allow; }

  std::optional<uint64_t> EntryStatus() const { return EntryStatus_; }
  uint64_t ImageBase() const { return ImageBase_; }
  // The pages the image took from the firmware and still holds, in the order it took them.
  const std::vector<MemoryRange> &ImagePages() const { return ImagePages_; }
  // The block the package set aside for the machine's buffers (kMachineBlockSize bytes).
  uint64_t MachineBlock() const { return MachineBlock_; }
  const std::array<uint64_t, kTrapKindCount> &Counts() const { return Counts_; }
  // What the package found in the firmware after the boot, once it has sent it.
  const std::optional<FirmwareSurvey> &Survey() const { return Survey_; }

 private:
  void Hello(ccx_channel::Mailbox &Box);
  void Arrive(ccx_channel::Mailbox &Box);
  void Hobs(ccx_channel::Mailbox &Box);
  void Emulate(ccx_channel::Mailbox &Box);
  void CallHostFunction(ccx_channel::Mailbox &Box);
  Processor &Asking(const ccx_channel::Mailbox &Box);

  Platform &Machine_;
  const RemoteImage &Image_;
  const GuestMemory &Memory_;
  std::vector<std::string> &Steps_;
  std::optional<uint64_t> EntryStatus_;
  uint64_t ImageBase_ = 0;
  uint64_t MachineBlock_ = 0;
  std::vector<MemoryRange> ImagePages_;
  std::array<uint64_t, kTrapKindCount> Counts_{};
  SiblingProxies Siblings_;
  std::optional<FirmwareSurvey> Survey_;
  std::function<void(ccx_channel::Mailbox &)> AfterBoot_;
  bool HostMemory_ = false;
};

}  // namespace sim

#endif  // SIM_OVMF_REMOTE_REQUESTS_H_
