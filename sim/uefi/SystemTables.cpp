#include "sim/uefi/SystemTables.h"

#include <algorithm>

#include "sim/uefi/Crc32.h"
#include "sim/uefi/Guid.h"
#include "sim/uefi/ServiceSlots.h"

namespace sim {

void SealTableHeader(EFI_TABLE_HEADER &header, uint64_t signature, uint32_t headerSize) {
  header.Signature = signature;
  header.Revision = EFI_SPECIFICATION_REVISION;
  header.HeaderSize = headerSize;
  header.Reserved = 0;
  header.CRC32 = 0;
  header.CRC32 = Crc32(&header, headerSize);
}

SystemTables::SystemTables(EventSystem &events) : events_(events), vendor_(kFirmwareVendor) {
  FillMemoryServices(bootServices_);
  FillEventServices(bootServices_);
  FillProtocolServices(bootServices_);
  FillMiscellaneousServices(bootServices_);
  FillRuntimeServices(runtimeServices_);
  SealTableHeader(bootServices_.Hdr, EFI_BOOT_SERVICES_SIGNATURE, sizeof(bootServices_));
  SealTableHeader(runtimeServices_.Hdr, EFI_RUNTIME_SERVICES_SIGNATURE, sizeof(runtimeServices_));
  system_.FirmwareVendor = vendor_.data();
  system_.FirmwareRevision = kFirmwareRevision;
  system_.BootServices = &bootServices_;
  system_.RuntimeServices = &runtimeServices_;
  Reseal();
}

EFI_STATUS SystemTables::InstallConfigurationTable(const EFI_GUID *guid, void *table) {
  if (guid == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  auto it = std::find_if(configuration_.begin(), configuration_.end(),
                         [&](const EFI_CONFIGURATION_TABLE &entry) { return SameGuid(entry.VendorGuid, *guid); });
  if (table == nullptr) {
    if (it == configuration_.end()) {
      return EFI_NOT_FOUND;
    }
    configuration_.erase(it);
  } else if (it != configuration_.end()) {
    it->VendorTable = table;
  } else {
    configuration_.push_back(EFI_CONFIGURATION_TABLE{*guid, table});
  }
  Reseal();
  events_.SignalGroup(*guid);
  return EFI_SUCCESS;
}

void *SystemTables::FindConfigurationTable(const EFI_GUID &guid) const {
  for (const EFI_CONFIGURATION_TABLE &entry : configuration_) {
    if (SameGuid(entry.VendorGuid, guid)) {
      return entry.VendorTable;
    }
  }
  return nullptr;
}

void SystemTables::Reseal() {
  system_.NumberOfTableEntries = configuration_.size();
  system_.ConfigurationTable = configuration_.empty() ? nullptr : configuration_.data();
  SealTableHeader(system_.Hdr, EFI_SYSTEM_TABLE_SIGNATURE, sizeof(system_));
}

}  // namespace sim
