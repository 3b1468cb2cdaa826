#include "sim/ovmf/GuestCalls.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "sim/platform/GuidNames.h"
#include "sim/uefi/Guid.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

using namespace ccx_channel;

constexpr size_t kThunks = GuestCalls::kProxies * kSlotsPerProxy;

GuestCalls *gActive = nullptr;

template <size_t Index>
uint64_t EFIAPI HostThunk(uint64_t A0, uint64_t A1, uint64_t A2, uint64_t A3, uint64_t A4, uint64_t A5, uint64_t A6,
                          uint64_t A7, uint64_t A8, uint64_t A9) {
  const uint64_t Arguments[kCallArguments] = {A0, A1, A2, A3, A4, A5, A6, A7, A8, A9};
  if (gActive == nullptr) throw std::logic_error("a driver service was called after its boot inside OVMF was over");
  return gActive->Forward(Index, Arguments);
}

template <size_t... Index>
constexpr std::array<uint64_t, sizeof...(Index)> MakeThunks(std::index_sequence<Index...>) {
  return {reinterpret_cast<uint64_t>(&HostThunk<Index>)...};
}

const std::array<uint64_t, kThunks> &Thunks() {
  static const std::array<uint64_t, kThunks> Table = MakeThunks(std::make_index_sequence<kThunks>());
  return Table;
}

}  // namespace

GuestCalls::~GuestCalls() {
  if (gActive == this) gActive = nullptr;
}

void GuestCalls::InstallDriverProtocols(UefiCore &Core, const FirmwareSurvey &Survey, uint64_t ImageBase,
                                        uint32_t ImageSize) {
  uint32_t ImageHandle = 0;
  for (const FirmwareSurvey::SurveyedProtocol &Entry : Survey.Installed) {
    if (SameGuid(Entry.Guid, gEfiLoadedImageProtocolGuid)) ImageHandle = Entry.Handle;
  }
  for (const FirmwareSurvey::SurveyedProtocol &Entry : Survey.Installed) {
    if (Entry.Handle != ImageHandle || Entry.Interface < GuestMemory::kIdentityFloor ||
        SameGuid(Entry.Guid, gEfiLoadedImageProtocolGuid)) {
      continue;
    }
    if (Proxies_.size() == kProxies) throw std::runtime_error("the driver installed more services than proxies");
    auto Made = std::make_unique<Proxy>();
    Made->GuestInterface = Entry.Interface;
    // The interface's slots up to the first that is neither a function of the image nor small.
    const size_t Index = Proxies_.size();
    for (size_t Slot = 0; Slot < kSlotsPerProxy; Slot++) {
      if (Entry.Interface + 8 * (Slot + 1) > Memory_.Size()) break;
      uint64_t Value;
      std::memcpy(&Value, Memory_.At(Entry.Interface + 8 * Slot, 8), 8);
      const bool Function = Value >= ImageBase && Value - ImageBase < ImageSize;
      if (!Function && Slot != 0) break;
      Made->Host.push_back(Function ? Thunks()[Index * kSlotsPerProxy + Slot] : Value);
    }
    EFI_HANDLE Handle = nullptr;
    if (EFI_ERROR(Core.InstallProtocol(Handle, Entry.Guid, Made->Host.data()))) {
      throw std::runtime_error("cannot install the proxy of " + GuidName(Entry.Guid));
    }
    Proxies_.push_back(std::move(Made));
  }
}

void GuestCalls::Serve(Mailbox &Pending, const std::function<void()> &Work) {
  Pending_ = &Pending;
  gActive = this;
  Work();
  gActive = nullptr;
  Pending_->Header.Answer = kResume;
  Pending_->Header.DataSize = 0;
}

uint64_t GuestCalls::Forward(size_t Thunk, const uint64_t *Arguments) {
  const Proxy &Target = *Proxies_.at(Thunk / kSlotsPerProxy);
  const size_t Slot = Thunk % kSlotsPerProxy;
  uint64_t Function;
  std::memcpy(&Function, Memory_.At(Target.GuestInterface + 8 * Slot, 8), 8);
  uint64_t Passed[kCallArguments];
  for (size_t Index = 0; Index < kCallArguments; Index++) {
    Passed[Index] = Arguments[Index] == reinterpret_cast<uint64_t>(Target.Host.data()) ? Target.GuestInterface
                                                                                       : Arguments[Index];
  }
  return CallGuest(Function, Passed);
}

uint64_t GuestCalls::CallGuest(uint64_t Function, const uint64_t *Passed) {
  if (Pending_ == nullptr) throw std::logic_error("a call into the guest while the package does not wait for one");
  Mailbox &Box = *Pending_;
  Box.Header.Answer = kCallGuest;
  Box.Header.Value = Function;
  std::memcpy(Box.Data, Passed, kCallArguments * 8);
  Box.Header.DataSize = kCallArguments * 8;
  Link_.SendAnswered();
  std::optional<uint64_t> Result;
  Requests_.AllowHostMemory(true);
  Link_.Serve(Firmware_, Memory_, Deadline_, [this, &Result](Mailbox &Next) {
    if (Next.Header.Request != kCallDone) return Requests_.Answer(Next);
    Result = Next.Header.Value;
    Pending_ = &Next;
    return ChannelLink::Next::Hold;
  });
  Requests_.AllowHostMemory(false);
  if (!Result) throw std::runtime_error("the boot ended inside a call of the driver's services");
  return *Result;
}

std::vector<MemoryRange> GuestCalls::FirmwareMemoryMap(uint64_t BootServices, uint64_t Scratch) {
  constexpr uint64_t kMapAt = 64;
  constexpr uint64_t kRoom = kMachineBlockSize / 2 - kMapAt;
  uint64_t Function;
  std::memcpy(&Function, Memory_.At(BootServices + offsetof(EFI_BOOT_SERVICES, GetMemoryMap), 8), 8);
  uint8_t *Block = Memory_.At(Scratch, kMachineBlockSize / 2);
  std::memset(Block, 0, kMapAt);
  std::memcpy(Block, &kRoom, 8);
  uint64_t Arguments[kCallArguments] = {Scratch, Scratch + kMapAt, Scratch + 8, Scratch + 16, Scratch + 24};
  const uint64_t Status = CallGuest(Function, Arguments);
  uint64_t Size, DescriptorSize;
  std::memcpy(&Size, Block, 8);
  std::memcpy(&DescriptorSize, Block + 16, 8);
  if (Status != 0 || DescriptorSize < sizeof(EFI_MEMORY_DESCRIPTOR) || Size > kRoom) {
    throw std::runtime_error("the firmware's GetMemoryMap answered " + std::to_string(Status));
  }
  std::vector<MemoryRange> Map;
  for (uint64_t Offset = 0; Offset + DescriptorSize <= Size; Offset += DescriptorSize) {
    EFI_MEMORY_DESCRIPTOR Descriptor;
    std::memcpy(&Descriptor, Block + kMapAt + Offset, sizeof(Descriptor));
    Map.push_back({Descriptor.PhysicalStart, Descriptor.NumberOfPages, Descriptor.Type});
  }
  return Map;
}

}  // namespace sim
