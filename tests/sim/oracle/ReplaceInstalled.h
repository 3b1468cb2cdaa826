// Puts a test's copy of an installed protocol record in the place of the driver's, so that a test
// can change one function of it and see the consumer's check name the field it then gets wrong.
#ifndef TESTS_SIM_ORACLE_REPLACE_INSTALLED_H_
#define TESTS_SIM_ORACLE_REPLACE_INSTALLED_H_

#include "sim/platform/Platform.h"

namespace sim {

// Copy starts as the record installed under Guid and takes its place; returns the installed
// record (whose functions the wrappers call), or null when there is none.
template <typename Protocol>
Protocol *ReplaceInstalled(Platform &Machine, EFI_GUID &Guid, Protocol &Copy) {
  EFI_BOOT_SERVICES *Services = Machine.Core().BootServices();
  VOID *Installed = nullptr;
  if (EFI_ERROR(Services->LocateProtocol(&Guid, nullptr, &Installed))) return nullptr;
  EFI_HANDLE Handles[8];
  UINTN Size = sizeof(Handles);
  if (EFI_ERROR(Services->LocateHandle(ByProtocol, &Guid, nullptr, &Size, Handles))) return nullptr;
  Copy = *static_cast<Protocol *>(Installed);
  if (EFI_ERROR(Services->ReinstallProtocolInterface(Handles[0], &Guid, Installed, &Copy))) return nullptr;
  return static_cast<Protocol *>(Installed);
}

}  // namespace sim

#endif  // TESTS_SIM_ORACLE_REPLACE_INSTALLED_H_
