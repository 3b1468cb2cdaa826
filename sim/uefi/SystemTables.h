// EFI_SYSTEM_TABLE with its boot-services and runtime-services tables and the configuration
// table array, kept consistent (entry count, header CRCs) whenever the configuration changes.
#ifndef SIM_UEFI_SYSTEM_TABLES_H_
#define SIM_UEFI_SYSTEM_TABLES_H_

#include <string>
#include <vector>

#include "sim/uefi/EventSystem.h"
#include "uefi/SystemTable.h"

namespace sim {

// Stamps a table header with its signature, revision and size, and computes its CRC32 over the
// whole table with the CRC field zero.
void SealTableHeader(EFI_TABLE_HEADER &header, uint64_t signature, uint32_t headerSize);

class SystemTables {
 public:
  // The firmware vendor and revision that the system table reports.
  static constexpr char16_t kFirmwareVendor[] = u"Qorvex simulated platform";
  static constexpr UINT32 kFirmwareRevision = 0x00010000;

  explicit SystemTables(EventSystem &events);
  SystemTables(const SystemTables &) = delete;
  SystemTables &operator=(const SystemTables &) = delete;

  EFI_SYSTEM_TABLE *System() { return &system_; }
  EFI_BOOT_SERVICES *BootServices() { return &bootServices_; }
  EFI_RUNTIME_SERVICES *RuntimeServices() { return &runtimeServices_; }

  // Adds, replaces or (with a null table) removes an entry, then signals the event group named
  // by the GUID so that anyone waiting for the table learns of it.
  EFI_STATUS InstallConfigurationTable(const EFI_GUID *guid, void *table);
  void *FindConfigurationTable(const EFI_GUID &guid) const;

 private:
  void Reseal();

  EventSystem &events_;
  std::u16string vendor_;
  std::vector<EFI_CONFIGURATION_TABLE> configuration_;
  EFI_BOOT_SERVICES bootServices_{};
  EFI_RUNTIME_SERVICES runtimeServices_{};
  EFI_SYSTEM_TABLE system_{};
};

}  // namespace sim

#endif  // SIM_UEFI_SYSTEM_TABLES_H_
