// The simulator's sibling components, served to real firmware: each protocol a sibling installs is
// offered to the platform package, which installs a proxy whose functions forward every call here,
// to the same slot of the simulator's own interface. Pointers the driver passes are guest physical
// addresses; the guest's RAM is mapped at those very addresses in this process, so the siblings
// read and write through them as they do in a simulator boot.
#ifndef SIM_OVMF_SIBLING_PROXIES_H_
#define SIM_OVMF_SIBLING_PROXIES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "firmware/ovmf/ChannelFormat.h"
#include "sim/platform/Platform.h"

namespace sim {

// Whether Value points into this process's code: a slot holding it is a function.
bool IsHostFunction(uint64_t Value);

class SiblingProxies {
 public:
  explicit SiblingProxies(Platform &Machine) : Machine_(Machine) {}

  // Writes the OfferList of the named siblings' protocols into Data (Room bytes) and returns its
  // size. Siblings the firmware brings itself (MP services, the variable services) are left out.
  // Throws std::runtime_error when the offers do not fit or the proxies run out.
  size_t Offer(const std::vector<std::string> &Names, uint8_t *Data, size_t Room);

  // Calls the function behind Stub with the frame's arguments, the proxy's interface address
  // replaced by the simulator's interface wherever it is passed (as This). Throws
  // std::runtime_error for a stub that no offered function has.
  uint64_t Call(uint32_t Stub, const ccx_channel::CallFrame &Frame);

  // The sibling names the firmware brings itself.
  static bool FirmwareHas(const std::string &Name);

 private:
  struct Proxy {
    const EFI_GUID *Guid = nullptr;
    void *Interface = nullptr;
    uint32_t Slots = 0;
    uint64_t FunctionMask = 0;
  };

  Platform &Machine_;
  std::vector<Proxy> Proxies_;
};

}  // namespace sim

#endif  // SIM_OVMF_SIBLING_PROXIES_H_
