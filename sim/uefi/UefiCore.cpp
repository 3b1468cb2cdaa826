#include "sim/uefi/UefiCore.h"

#include <cstdio>
#include <cstdlib>

#include "sim/uefi/Ucs2.h"

namespace sim {

std::atomic<UefiCore *> UefiCore::current_{nullptr};

UefiCore::UefiCore(UefiCoreOptions options)
    : diagnostics_(options.diagnostics ? std::move(options.diagnostics) : StandardErrorDiagnostics()),
      onReset_(std::move(options.onReset)),
      memory_(std::move(options.dram), diagnostics_),
      pool_(memory_, diagnostics_),
      events_(diagnostics_),
      protocols_(events_, pool_),
      variables_(diagnostics_, options.variableLimits),
      tables_(events_),
      faults_(std::move(options.faults)) {
  events_.SetCloseListener([this](EFI_EVENT event) { protocols_.ForgetEvent(event); });
  if (options.variableFile) {
    variables_.AttachFile(*options.variableFile);
  }
}

UefiCore::~UefiCore() {
  // Thunks must never reach a core that is gone, even if an activation outlived it by mistake.
  UefiCore *self = this;
  current_.compare_exchange_strong(self, nullptr);
}

UefiCore::Activation::Activation(UefiCore &core)
    : previous_(current_.exchange(&core)), previousThread_(core.bootThread_.load()), core_(core) {
  core_.bootThread_ = std::this_thread::get_id();
}

UefiCore::Activation::~Activation() {
  core_.bootThread_ = previousThread_;
  current_ = previous_;
}

UefiCore::Activation UefiCore::Activate() { return Activation(*this); }

UefiCore *UefiCore::Current() { return current_.load(); }

EFI_STATUS UefiCore::InstallProtocol(EFI_HANDLE &handle, const EFI_GUID &guid, void *interface) {
  Activation active(*this);
  return protocols_.Install(&handle, &guid, interface);
}

EFI_STATUS UefiCore::UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, void *interface) {
  Activation active(*this);
  return protocols_.Uninstall(handle, &guid, interface);
}

std::optional<void *> UefiCore::LocateProtocol(const EFI_GUID &guid) const { return protocols_.Find(guid); }

void UefiCore::SignalEventGroup(const EFI_GUID &group) {
  Activation active(*this);
  events_.SignalGroup(group);
}

std::vector<OpenEvent> UefiCore::OpenEvents() const {
  std::vector<OpenEvent> events;
  for (const EventInfo &info : events_.OpenEvents()) {
    events.push_back(OpenEvent{info, protocols_.RegistrationsOf(info.event)});
  }
  return events;
}

void UefiCore::Reset(EFI_RESET_TYPE type, EFI_STATUS status, std::span<const uint8_t> data) {
  ResetRecord record{type, status, {}, std::vector<uint8_t>(data.begin(), data.end())};
  // The reset data starts with a null-terminated description; only what lies within the given
  // size is read.
  const size_t units = data.size() / sizeof(CHAR16);
  for (size_t index = 0; index < units; index++) {
    const CHAR16 unit = static_cast<CHAR16>(data[2 * index] | (data[2 * index + 1] << 8));
    if (unit == 0) {
      break;
    }
    record.description += unit;
  }
  lastReset_ = record;
  if (onReset_) {
    try {
      onReset_(type);
      std::fprintf(stderr, "sim-uefi: the ResetSystem handler returned; a reset never returns, so the process stops\n");
    } catch (const std::exception &error) {
      std::fprintf(stderr, "sim-uefi: the ResetSystem handler threw (%s); the process stops\n", error.what());
    } catch (...) {
      std::fprintf(stderr, "sim-uefi: the ResetSystem handler threw; the process stops\n");
    }
  } else {
    std::fprintf(
        stderr, "sim-uefi: ResetSystem(type %u, status 0x%llX, \"%s\") with no reset handler set; the process stops\n",
        static_cast<unsigned>(type), static_cast<unsigned long long>(status), Ucs2ToUtf8(record.description).c_str());
  }
  std::abort();
}

uint64_t UefiCore::NextMonotonicCount() { return monotonicCount_++; }

uint32_t UefiCore::NextHighMonotonicCount() {
  monotonicCount_ = ((monotonicCount_ >> 32) + 1) << 32;
  return static_cast<uint32_t>(monotonicCount_ >> 32);
}

}  // namespace sim
