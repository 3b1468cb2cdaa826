#include "sim/ovmf/SiblingProxies.h"

#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "sim/HexText.h"
#include "sim/platform/GuidNames.h"
#include "sim/uefi/Guid.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

using namespace ccx_channel;

struct Range {
  uint64_t Begin, End;
};

// The executable mappings of this process: a slot whose value points into one is a function.
const std::vector<Range> &ExecutableRanges() {
  static const std::vector<Range> Ranges = [] {
    std::vector<Range> Found;
    std::ifstream Maps("/proc/self/maps");
    std::string Line;
    while (std::getline(Maps, Line)) {
      std::istringstream Fields(Line);
      std::string Span, Permissions;
      Fields >> Span >> Permissions;
      const size_t Dash = Span.find('-');
      if (Dash == std::string::npos || Permissions.size() < 3 || Permissions[2] != 'x') continue;
      Found.push_back({std::stoull(Span.substr(0, Dash), nullptr, 16), std::stoull(Span.substr(Dash + 1), nullptr, 16)});
    }
    return Found;
  }();
  return Ranges;
}


// The firmware's own configuration database gives way to the machine's.
bool ReplacesFirmwares(const EFI_GUID &Guid) {
  return SameGuid(Guid, gPcdProtocolGuid) || SameGuid(Guid, gEfiPcdProtocolGuid);
}

using SiblingFunction = uint64_t(EFIAPI *)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                           uint64_t, uint64_t, uint64_t);
static_assert(kCallArguments == 10, "a sibling function is called with ten arguments");

}  // namespace

bool IsHostFunction(uint64_t Value) {
  for (const Range &Each : ExecutableRanges()) {
    if (Value >= Each.Begin && Value < Each.End) return true;
  }
  return false;
}

bool SiblingProxies::FirmwareHas(const std::string &Name) { return Name == "mp_services" || Name == "variable_write"; }

size_t SiblingProxies::Offer(const std::vector<std::string> &Names, uint8_t *Data, size_t Room) {
  OfferList List{0, 0};
  size_t Used = sizeof(List);
  for (const std::string &Name : Names) {
    if (FirmwareHas(Name)) continue;
    for (const SiblingProtocol &Protocol : Machine_.SiblingProtocols(Name)) {
      if (Proxies_.size() >= kProxyCount) throw std::runtime_error("more sibling protocols than proxies");
      Proxy Made{Protocol.Guid, Protocol.Interface, static_cast<uint32_t>((Protocol.Size + 7) / 8), 0};
      if (Made.Slots > kSlotsPerProxy) {
        throw std::runtime_error(GuidName(*Protocol.Guid) + " has " + std::to_string(Made.Slots) + " slots, more than a proxy has");
      }
      ProtocolOffer Offered{};
      std::memcpy(Offered.Guid, Protocol.Guid, sizeof(Offered.Guid));
      Offered.Proxy = static_cast<uint32_t>(Proxies_.size());
      Offered.Slots = Made.Slots;
      Offered.Replace = ReplacesFirmwares(*Protocol.Guid) ? 1 : 0;
      std::vector<uint64_t> Values(Made.Slots, 0);
      if (Protocol.Size != 0) std::memcpy(Values.data(), Protocol.Interface, Protocol.Size);
      for (uint32_t Slot = 0; Slot < Made.Slots; Slot++) {
        if (IsHostFunction(Values[Slot])) Made.FunctionMask |= 1ULL << Slot;
      }
      Offered.FunctionMask = Made.FunctionMask;
      const size_t Size = sizeof(Offered) + Values.size() * 8;
      if (Used + Size > Room) throw std::runtime_error("the sibling protocols' offers do not fit the mailbox");
      std::memcpy(Data + Used, &Offered, sizeof(Offered));
      if (!Values.empty()) std::memcpy(Data + Used + sizeof(Offered), Values.data(), Values.size() * 8);
      Used += Size;
      List.Count++;
      Proxies_.push_back(Made);
    }
  }
  std::memcpy(Data, &List, sizeof(List));
  return Used;
}

uint64_t SiblingProxies::Call(uint32_t Stub, const CallFrame &Frame) {
  const uint32_t Index = Stub / kSlotsPerProxy;
  const uint32_t Slot = Stub % kSlotsPerProxy;
  if (Index >= Proxies_.size() || Slot >= Proxies_[Index].Slots || ((Proxies_[Index].FunctionMask >> Slot) & 1) == 0) {
    throw std::runtime_error("the platform package called stub " + std::to_string(Stub) +
                             ", which is no function of an offered sibling protocol");
  }
  const Proxy &Target = Proxies_[Index];
  uint64_t Arguments[kCallArguments];
  for (uint32_t Argument = 0; Argument < kCallArguments; Argument++) {
    Arguments[Argument] = Frame.Arguments[Argument] == Frame.Interface ? reinterpret_cast<uint64_t>(Target.Interface)
                                                                       : Frame.Arguments[Argument];
  }
  uint64_t Function = 0;
  std::memcpy(&Function, static_cast<const uint8_t *>(Target.Interface) + Slot * 8, 8);
  return reinterpret_cast<SiblingFunction>(Function)(Arguments[0], Arguments[1], Arguments[2], Arguments[3],
                                                     Arguments[4], Arguments[5], Arguments[6], Arguments[7],
                                                     Arguments[8], Arguments[9]);
}

}  // namespace sim
