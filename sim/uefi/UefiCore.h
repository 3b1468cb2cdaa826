// The simulated firmware core of one boot: physical memory and pool, events and TPL, the
// protocol database, the variable store and the system tables, and the C++ face that the rest
// of the simulator (sibling services, the boot runner, the report) uses.
#ifndef SIM_UEFI_UEFI_CORE_H_
#define SIM_UEFI_UEFI_CORE_H_

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "sim/uefi/Diagnostics.h"
#include "sim/uefi/EventSystem.h"
#include "sim/uefi/FaultHook.h"
#include "sim/uefi/PhysicalMemory.h"
#include "sim/uefi/PoolAllocator.h"
#include "sim/uefi/ProtocolDatabase.h"
#include "sim/uefi/SystemTables.h"
#include "sim/uefi/VariableStore.h"

namespace sim {

// Ends the boot after ResetSystem. It must not return: firmware never comes back from a reset.
using ResetHandler = std::function<void(EFI_RESET_TYPE)>;

struct UefiCoreOptions {
  std::vector<DramRange> dram;
  Diagnostics diagnostics = StandardErrorDiagnostics();
  ResetHandler onReset;
  // Where non-volatile variables persist between boots; none keeps them in memory only.
  std::optional<std::filesystem::path> variableFile;
  VariableLimits variableLimits;
  // Asked before each page or pool allocation, protocol location and variable write made through
  // the tables; none lets every call through.
  FaultHook faults;
};

// What ResetSystem was asked for, kept for the report.
struct ResetRecord {
  EFI_RESET_TYPE type;
  EFI_STATUS status;
  std::u16string description;  // the string that starts the reset data, if any
  std::vector<uint8_t> data;   // the reset data as given
};

// An open event with the protocols it waits for, for the report.
struct OpenEvent {
  EventInfo info;
  std::vector<EFI_GUID> registeredFor;
};

class UefiCore {
 public:
  // Throws std::invalid_argument for a bad DRAM layout and VariableStoreError for a variable
  // file that cannot be used.
  explicit UefiCore(UefiCoreOptions options);
  ~UefiCore();
  UefiCore(const UefiCore &) = delete;
  UefiCore &operator=(const UefiCore &) = delete;

  // The EFIAPI thunks in the tables reach their core through one process-wide pointer, since a
  // table call carries no instance. Activation sets it (and the thread allowed to call boot
  // services) for the guard's lifetime and restores the previous core afterwards.
  class Activation {
   public:
    ~Activation();
    Activation(const Activation &) = delete;
    Activation &operator=(const Activation &) = delete;

   private:
    friend class UefiCore;
    explicit Activation(UefiCore &core);
    UefiCore *previous_;
    std::thread::id previousThread_;
    UefiCore &core_;
  };
  [[nodiscard]] Activation Activate();
  static UefiCore *Current();

  EFI_SYSTEM_TABLE *SystemTable() { return tables_.System(); }
  EFI_BOOT_SERVICES *BootServices() { return tables_.BootServices(); }
  EFI_RUNTIME_SERVICES *RuntimeServices() { return tables_.RuntimeServices(); }

  PhysicalMemory &Memory() { return memory_; }
  PoolAllocator &Pool() { return pool_; }
  EventSystem &Events() { return events_; }
  ProtocolDatabase &Protocols() { return protocols_; }
  VariableStore &Variables() { return variables_; }
  SystemTables &Tables() { return tables_; }
  void Report(const std::string &message) const { diagnostics_(message); }

  // The C++ face. Each call activates this core for its duration, because the notifications it
  // triggers run driver code that calls back through the tables.
  EFI_STATUS InstallProtocol(EFI_HANDLE &handle, const EFI_GUID &guid, void *interface);
  EFI_STATUS UninstallProtocol(EFI_HANDLE handle, const EFI_GUID &guid, void *interface);
  std::optional<void *> LocateProtocol(const EFI_GUID &guid) const;
  void SignalEventGroup(const EFI_GUID &group);
  std::vector<InstalledProtocol> InstalledProtocols() const { return protocols_.Installed(); }
  std::vector<OpenEvent> OpenEvents() const;

  // Runtime and miscellaneous state behind the thunks.
  [[noreturn]] void Reset(EFI_RESET_TYPE type, EFI_STATUS status, std::span<const uint8_t> data);
  const std::optional<ResetRecord> &LastReset() const { return lastReset_; }
  uint64_t NextMonotonicCount();
  uint32_t NextHighMonotonicCount();
  void Stall(uint64_t microseconds) { stalledMicroseconds_ += microseconds; }
  // Simulated time spent in Stall; nothing really sleeps.
  uint64_t StalledMicroseconds() const { return stalledMicroseconds_; }
  // The thread that activated the core: the simulated bootstrap processor.
  std::thread::id BootThread() const { return bootThread_.load(); }
  // The status the fault hook wants this call at Site to fail with, if any.
  std::optional<EFI_STATUS> InjectedFault(FaultSite site, const EFI_GUID *guid = nullptr) const {
    return faults_ ? faults_(site, guid) : std::nullopt;
  }

 private:
  Diagnostics diagnostics_;
  ResetHandler onReset_;
  PhysicalMemory memory_;
  PoolAllocator pool_;
  EventSystem events_;
  ProtocolDatabase protocols_;
  VariableStore variables_;
  SystemTables tables_;
  std::optional<ResetRecord> lastReset_;
  uint64_t monotonicCount_ = 0;
  uint64_t stalledMicroseconds_ = 0;
  std::atomic<std::thread::id> bootThread_;
  FaultHook faults_;

  static std::atomic<UefiCore *> current_;
};

}  // namespace sim

#endif  // SIM_UEFI_UEFI_CORE_H_
