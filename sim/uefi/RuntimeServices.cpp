// Every slot of EFI_RUNTIME_SERVICES: time, variables, reset, the high monotonic count, and
// refusals for what a boot-time simulation has no use for (virtual mapping, capsules, wakeup).
#include <cstdlib>
#include <span>

#include "sim/uefi/MemoryTypes.h"
#include "sim/uefi/ServiceSlots.h"
#include "sim/uefi/ThunkSupport.h"

namespace sim {

namespace {

// Every boot starts at the same moment, so that logs and tables that carry a time are the same
// from run to run.
constexpr EFI_TIME kBootTime = {2024, 6, 3, 9, 30, 0, 0, 0, 0x07FF /* time zone unspecified */, 0, 0};
// One-second resolution and 50 ppm accuracy, as a typical real-time clock reports.
constexpr EFI_TIME_CAPABILITIES kClockCapabilities = {1, 50000000, FALSE};

EFI_STATUS EFIAPI GetTimeThunk(EFI_TIME *Time, EFI_TIME_CAPABILITIES *Capabilities) {
  return thunk::Call("GetTime", TPL_CALLBACK, [&](UefiCore &) {
    if (Time == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *Time = kBootTime;
    if (Capabilities != nullptr) {
      *Capabilities = kClockCapabilities;
    }
    return EFI_SUCCESS;
  });
}

EFI_STATUS EFIAPI SetTimeThunk(EFI_TIME *) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI GetWakeupTimeThunk(BOOLEAN *, BOOLEAN *, EFI_TIME *) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI SetWakeupTimeThunk(BOOLEAN, EFI_TIME *) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI SetVirtualAddressMapThunk(UINTN, UINTN, UINT32, EFI_MEMORY_DESCRIPTOR *) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI ConvertPointerThunk(UINTN, VOID **) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI GetVariableThunk(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 *Attributes, UINTN *DataSize,
                                   VOID *Data) {
  return thunk::Call("GetVariable", TPL_CALLBACK, [&](UefiCore &core) {
    return core.Variables().GetVariable(VariableName, VendorGuid, Attributes, DataSize, Data);
  });
}

EFI_STATUS EFIAPI GetNextVariableNameThunk(UINTN *VariableNameSize, CHAR16 *VariableName, EFI_GUID *VendorGuid) {
  return thunk::Call("GetNextVariableName", TPL_CALLBACK, [&](UefiCore &core) {
    return core.Variables().GetNextVariableName(VariableNameSize, VariableName, VendorGuid);
  });
}

EFI_STATUS EFIAPI SetVariableThunk(CHAR16 *VariableName, EFI_GUID *VendorGuid, UINT32 Attributes, UINTN DataSize,
                                   VOID *Data) {
  return thunk::Call("SetVariable", TPL_CALLBACK, [&](UefiCore &core) {
    if (auto injected = core.InjectedFault(FaultSite::VariableWrite)) {
      return *injected;
    }
    return core.Variables().SetVariable(VariableName, VendorGuid, Attributes, DataSize, Data);
  });
}

EFI_STATUS EFIAPI QueryVariableInfoThunk(UINT32 Attributes, UINT64 *MaximumVariableStorageSize,
                                         UINT64 *RemainingVariableStorageSize, UINT64 *MaximumVariableSize) {
  return thunk::Call("QueryVariableInfo", TPL_CALLBACK, [&](UefiCore &core) {
    return core.Variables().QueryVariableInfo(Attributes, MaximumVariableStorageSize, RemainingVariableStorageSize,
                                              MaximumVariableSize);
  });
}

EFI_STATUS EFIAPI GetNextHighMonotonicCountThunk(UINT32 *HighCount) {
  return thunk::Call("GetNextHighMonotonicCount", TPL_HIGH_LEVEL, [&](UefiCore &core) {
    if (HighCount == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    *HighCount = core.NextHighMonotonicCount();
    return EFI_SUCCESS;
  });
}

[[noreturn]] VOID EFIAPI ResetSystemThunk(EFI_RESET_TYPE ResetType, EFI_STATUS ResetStatus, UINTN DataSize,
                                          VOID *ResetData) {
  uint32_t type = RawEnumValue(ResetType);
  EFI_STATUS refusal = EFI_SUCCESS;
  UefiCore *core = thunk::Enter("ResetSystem", TPL_HIGH_LEVEL, refusal);
  if (core == nullptr) {
    std::abort();
  }
  try {
    if (type > EfiResetPlatformSpecific) {
      // An undefined reset type still ends the boot; the strongest reset is the safe reading.
      core->Report("ResetSystem with undefined reset type " + std::to_string(type) + " is taken as a cold reset");
      type = EfiResetCold;
    }
    std::span<const uint8_t> data;
    if (ResetData != nullptr) {
      data = {static_cast<const uint8_t *>(ResetData), DataSize};
    }
    core->Reset(static_cast<EFI_RESET_TYPE>(type), ResetStatus, data);
  } catch (...) {
    thunk::ReportException(*core, "ResetSystem", "exception while recording the reset");
  }
  std::abort();
}

EFI_STATUS EFIAPI UpdateCapsuleThunk(EFI_CAPSULE_HEADER **, UINTN, EFI_PHYSICAL_ADDRESS) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI QueryCapsuleCapabilitiesThunk(EFI_CAPSULE_HEADER **, UINTN, UINT64 *, EFI_RESET_TYPE *) {
  return EFI_UNSUPPORTED;
}

}  // namespace

void FillRuntimeServices(EFI_RUNTIME_SERVICES &table) {
  table.GetTime = GetTimeThunk;
  table.SetTime = SetTimeThunk;
  table.GetWakeupTime = GetWakeupTimeThunk;
  table.SetWakeupTime = SetWakeupTimeThunk;
  table.SetVirtualAddressMap = SetVirtualAddressMapThunk;
  table.ConvertPointer = ConvertPointerThunk;
  table.GetVariable = GetVariableThunk;
  table.GetNextVariableName = GetNextVariableNameThunk;
  table.SetVariable = SetVariableThunk;
  table.GetNextHighMonotonicCount = GetNextHighMonotonicCountThunk;
  table.ResetSystem = ResetSystemThunk;
  table.UpdateCapsule = UpdateCapsuleThunk;
  table.QueryCapsuleCapabilities = QueryCapsuleCapabilitiesThunk;
  table.QueryVariableInfo = QueryVariableInfoThunk;
}

}  // namespace sim
