// What every EFIAPI thunk of the boot-services and runtime-services tables does around its work:
// find the active core, check that the call comes from the boot thread and honours the TPL
// limit of the service, and turn any exception into a status before it can cross the EFIAPI
// boundary.
#ifndef SIM_UEFI_THUNK_SUPPORT_H_
#define SIM_UEFI_THUNK_SUPPORT_H_

#include <exception>
#include <new>
#include <string>

#include "sim/uefi/UefiCore.h"

namespace sim::thunk {

// The active core if the call can be served; otherwise null, with the reason reported and the
// status to return in `refusal` (EFI_NOT_READY with no active core, EFI_UNSUPPORTED from a
// thread other than the boot thread). A call above the service's highest TPL is reported and
// served all the same, as firmware would serve it.
UefiCore *Enter(const char *service, EFI_TPL highestTpl, EFI_STATUS &refusal);

// Reports an exception that a thunk stopped.
void ReportException(UefiCore &core, const char *service, const char *what);

// Runs a status-returning service body for the active core.
template <typename Body>
EFI_STATUS Call(const char *service, EFI_TPL highestTpl, Body &&body) noexcept {
  EFI_STATUS refusal = EFI_SUCCESS;
  UefiCore *core = Enter(service, highestTpl, refusal);
  if (core == nullptr) {
    return refusal;
  }
  try {
    return body(*core);
  } catch (const std::bad_alloc &) {
    ReportException(*core, service, "host memory exhausted");
    return EFI_OUT_OF_RESOURCES;
  } catch (const std::exception &error) {
    ReportException(*core, service, error.what());
    return EFI_DEVICE_ERROR;
  } catch (...) {
    ReportException(*core, service, "unknown exception");
    return EFI_DEVICE_ERROR;
  }
}

// Runs a service body that returns something other than a status; `fallback` is returned when
// the call cannot be served or fails.
template <typename Result, typename Body>
Result CallFor(const char *service, EFI_TPL highestTpl, Result fallback, Body &&body) noexcept {
  EFI_STATUS refusal = EFI_SUCCESS;
  UefiCore *core = Enter(service, highestTpl, refusal);
  if (core == nullptr) {
    return fallback;
  }
  try {
    return body(*core);
  } catch (const std::exception &error) {
    ReportException(*core, service, error.what());
  } catch (...) {
    ReportException(*core, service, "unknown exception");
  }
  return fallback;
}

}  // namespace sim::thunk

#endif  // SIM_UEFI_THUNK_SUPPORT_H_
