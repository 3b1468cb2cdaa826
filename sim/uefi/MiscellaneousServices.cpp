// The configuration-table, image, miscellaneous and CRC slots of EFI_BOOT_SERVICES.
#include <cstring>

#include "sim/uefi/Crc32.h"
#include "sim/uefi/ServiceSlots.h"
#include "sim/uefi/ThunkSupport.h"

namespace sim {

namespace {

// Watchdog codes up to this value are reserved for the firmware itself.
constexpr UINT64 kHighestFirmwareWatchdogCode = 0xFFFF;

EFI_STATUS EFIAPI InstallConfigurationTableThunk(EFI_GUID *Guid, VOID *Table) {
  return thunk::Call("InstallConfigurationTable", TPL_NOTIFY,
                     [&](UefiCore &core) { return core.Tables().InstallConfigurationTable(Guid, Table); });
}

// The driver is loaded by the simulator itself, not through the image services, and boot
// services never end while it runs; these calls are refused.
EFI_STATUS EFIAPI LoadImageThunk(BOOLEAN, EFI_HANDLE, EFI_DEVICE_PATH_PROTOCOL *, VOID *, UINTN, EFI_HANDLE *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI StartImageThunk(EFI_HANDLE, UINTN *, CHAR16 **) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI ExitThunk(EFI_HANDLE, EFI_STATUS, UINTN, CHAR16 *) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI UnloadImageThunk(EFI_HANDLE) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI ExitBootServicesThunk(EFI_HANDLE, UINTN) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI GetNextMonotonicCountThunk(UINT64 *Count) {
  return thunk::Call("GetNextMonotonicCount", TPL_HIGH_LEVEL, [&](UefiCore &core) {
    if (Count == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *Count = core.NextMonotonicCount();
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI StallThunk(UINTN Microseconds) {
  return thunk::Call("Stall", TPL_HIGH_LEVEL, [&](UefiCore &core) {
    core.Stall(Microseconds);
    return EFI_SUCCESS;
  });
}

// No watchdog can fire in the simulation; the call is checked and accepted.
EFI_STATUS EFIAPI SetWatchdogTimerThunk(UINTN Timeout, UINT64 WatchdogCode, UINTN, CHAR16 *) {
  return thunk::Call("SetWatchdogTimer", TPL_CALLBACK, [&](UefiCore &) {
    if (Timeout != 0 && WatchdogCode <= kHighestFirmwareWatchdogCode) {
      return EFI_INVALID_PARAMETER;
    }
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI CalculateCrc32Thunk(VOID *Data, UINTN DataSize, UINT32 *Crc32Out) {
  if (Data == nullptr || DataSize == 0 || Crc32Out == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Crc32Out = Crc32(Data, DataSize);
  return EFI_SUCCESS;
}

// Overlapping buffers are allowed, so this is a move, not a copy.
VOID EFIAPI CopyMemThunk(VOID *Destination, VOID *Source, UINTN Length) {
  if (Length != 0) {
    std::memmove(Destination, Source, Length);
  }
}

VOID EFIAPI SetMemThunk(VOID *Buffer, UINTN Size, UINT8 Value) {
  if (Size != 0) {
    std::memset(Buffer, Value, Size);
  }
}

}  // namespace

void FillMiscellaneousServices(EFI_BOOT_SERVICES &table) {
  table.InstallConfigurationTable = InstallConfigurationTableThunk;
  table.LoadImage = LoadImageThunk;
  table.StartImage = StartImageThunk;
  table.Exit = ExitThunk;
  table.UnloadImage = UnloadImageThunk;
  table.ExitBootServices = ExitBootServicesThunk;
  table.GetNextMonotonicCount = GetNextMonotonicCountThunk;
  table.Stall = StallThunk;
  table.SetWatchdogTimer = SetWatchdogTimerThunk;
  table.CalculateCrc32 = CalculateCrc32Thunk;
  table.CopyMem = CopyMemThunk;
  table.SetMem = SetMemThunk;
}

}  // namespace sim
