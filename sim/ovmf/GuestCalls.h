// The outside table builders run in ccxsim and call the driver's services, which run inside OVMF.
// Each service protocol the driver installed gets a proxy in the simulator's firmware core whose
// functions are host thunks: a call becomes the answer kCallGuest to the request the package waits
// in, the package calls the driver's function on the BSP, and the requests that function makes
// meanwhile (traps, sibling calls) are served until it sends kCallDone. The buffers a builder
// passes stay in this process: the driver's loads and stores to them fault in the guest and are
// emulated against this process's memory.
#ifndef SIM_OVMF_GUEST_CALLS_H_
#define SIM_OVMF_GUEST_CALLS_H_

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "sim/ovmf/ChannelLink.h"
#include "sim/ovmf/FirmwareSurvey.h"
#include "sim/ovmf/RemoteRequests.h"
#include "sim/uefi/PhysicalMemory.h"
#include "sim/uefi/UefiCore.h"

namespace sim {

class GuestCalls {
 public:
  GuestCalls(ChannelLink &Link, FirmwareProcess &Firmware, const GuestMemory &Memory,
             std::chrono::steady_clock::time_point Deadline, RemoteRequests &Requests)
      : Link_(Link), Firmware_(Firmware), Memory_(Memory), Deadline_(Deadline), Requests_(Requests) {}
  ~GuestCalls();

  // Installs in Core a proxy of every protocol the survey found on the image's handle (the one
  // that carries the loaded-image protocol) whose interface lies in the guest's RAM; a slot that
  // points into the image is a function.
  void InstallDriverProtocols(UefiCore &Core, const FirmwareSurvey &Survey, uint64_t ImageBase, uint32_t ImageSize);

  // Runs Work while the package waits in Pending (kAfterBoot); Work's calls of the proxies run in
  // the guest. Leaves the pending request's answer kResume.
  void Serve(ccx_channel::Mailbox &Pending, const std::function<void()> &Work);

  // A call of thunk Thunk (proxy * kSlotsPerProxy + slot) with ten arguments.
  uint64_t Forward(size_t Thunk, const uint64_t *Arguments);
  // Calls the guest's Function with ten arguments on the BSP and serves what it asks meanwhile.
  uint64_t CallGuest(uint64_t Function, const uint64_t *Arguments);

  // The firmware's memory map, from its GetMemoryMap (BootServices: the table's guest address),
  // read through Scratch (kMachineBlockSize / 2 bytes of guest RAM). Throws std::runtime_error when
  // the call fails.
  std::vector<MemoryRange> FirmwareMemoryMap(uint64_t BootServices, uint64_t Scratch);

  static constexpr size_t kProxies = 8;

 private:
  struct Proxy {
    uint64_t GuestInterface = 0;
    std::vector<uint64_t> Host;  // the interface the builders see
  };

  ChannelLink &Link_;
  FirmwareProcess &Firmware_;
  const GuestMemory &Memory_;
  std::chrono::steady_clock::time_point Deadline_;
  RemoteRequests &Requests_;
  std::vector<std::unique_ptr<Proxy>> Proxies_;
  ccx_channel::Mailbox *Pending_ = nullptr;
};

}  // namespace sim

#endif  // SIM_OVMF_GUEST_CALLS_H_
