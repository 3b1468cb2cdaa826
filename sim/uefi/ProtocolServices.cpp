// The protocol handler, open/close, driver-support and protocol library slots of
// EFI_BOOT_SERVICES.
#include <vector>

#include "sim/uefi/MemoryTypes.h"
#include "sim/uefi/ServiceSlots.h"
#include "sim/uefi/ThunkSupport.h"

namespace sim {

namespace {

// A GUID/interface list longer than this has surely lost its terminating null GUID; reading on
// would only wander through the caller's stack.
constexpr size_t kLongestPairList = 128;

// Reads the GUID/interface pairs of a variadic call up to the terminating null GUID. Returns
// false when no terminator comes within kLongestPairList pairs.
bool ReadPairs(VA_LIST &arguments, std::vector<ProtocolPair> &pairs) {
  for (;;) {
    auto *guid = VA_ARG(arguments, EFI_GUID *);
    if (guid == nullptr) {
      return true;
    }
    if (pairs.size() == kLongestPairList) {
      return false;
    }
    pairs.push_back(ProtocolPair{guid, VA_ARG(arguments, VOID *)});
  }
}

EFI_STATUS EFIAPI InstallProtocolInterfaceThunk(EFI_HANDLE *Handle, EFI_GUID *Protocol,
                                                EFI_INTERFACE_TYPE InterfaceType, VOID *Interface) {
  const uint32_t interfaceType = RawEnumValue(InterfaceType);
  return thunk::Call("InstallProtocolInterface", TPL_NOTIFY, [&](UefiCore &core) {
    if (interfaceType != EFI_NATIVE_INTERFACE) {
      return EFI_INVALID_PARAMETER;
    }
    return core.Protocols().Install(Handle, Protocol, Interface);
  });
}

EFI_STATUS EFIAPI ReinstallProtocolInterfaceThunk(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *OldInterface,
                                                  VOID *NewInterface) {
  return thunk::Call("ReinstallProtocolInterface", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Protocols().Reinstall(Handle, Protocol, OldInterface, NewInterface);
  });
}

EFI_STATUS EFIAPI UninstallProtocolInterfaceThunk(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID *Interface) {
  return thunk::Call("UninstallProtocolInterface", TPL_NOTIFY,
                     [&](UefiCore &core) { return core.Protocols().Uninstall(Handle, Protocol, Interface); });
}

EFI_STATUS EFIAPI HandleProtocolThunk(EFI_HANDLE Handle, EFI_GUID *Protocol, VOID **Interface) {
  return thunk::Call("HandleProtocol", TPL_NOTIFY,
                     [&](UefiCore &core) { return core.Protocols().HandleProtocol(Handle, Protocol, Interface); });
}

EFI_STATUS EFIAPI RegisterProtocolNotifyThunk(EFI_GUID *Protocol, EFI_EVENT Event, VOID **Registration) {
  return thunk::Call("RegisterProtocolNotify", TPL_NOTIFY,
                     [&](UefiCore &core) { return core.Protocols().RegisterNotify(Protocol, Event, Registration); });
}

EFI_STATUS EFIAPI LocateHandleThunk(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                                    UINTN *BufferSize, EFI_HANDLE *Buffer) {
  const uint32_t searchType = RawEnumValue(SearchType);
  return thunk::Call("LocateHandle", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Protocols().LocateHandle(searchType, Protocol, SearchKey, BufferSize, Buffer);
  });
}

EFI_STATUS EFIAPI LocateHandleBufferThunk(EFI_LOCATE_SEARCH_TYPE SearchType, EFI_GUID *Protocol, VOID *SearchKey,
                                          UINTN *NoHandles, EFI_HANDLE **Buffer) {
  const uint32_t searchType = RawEnumValue(SearchType);
  return thunk::Call("LocateHandleBuffer", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Protocols().LocateHandleBuffer(searchType, Protocol, SearchKey, NoHandles, Buffer);
  });
}

EFI_STATUS EFIAPI LocateProtocolThunk(EFI_GUID *Protocol, VOID *Registration, VOID **Interface) {
  return thunk::Call("LocateProtocol", TPL_NOTIFY, [&](UefiCore &core) {
    if (auto injected = core.InjectedFault(FaultSite::LocateProtocol, Protocol)) {
      if (Interface != nullptr) {
        *Interface = nullptr;
      }
      return *injected;
    }
    return core.Protocols().LocateProtocol(Protocol, Registration, Interface);
  });
}

EFI_STATUS EFIAPI ProtocolsPerHandleThunk(EFI_HANDLE Handle, EFI_GUID ***ProtocolBuffer, UINTN *ProtocolBufferCount) {
  return thunk::Call("ProtocolsPerHandle", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Protocols().ProtocolsPerHandle(Handle, ProtocolBuffer, ProtocolBufferCount);
  });
}

EFI_STATUS EFIAPI InstallMultipleProtocolInterfacesThunk(EFI_HANDLE *Handle, ...) {
  VA_LIST arguments;
  VA_START(arguments, Handle);
  std::vector<ProtocolPair> pairs;
  bool terminated = false;
  try {
    terminated = ReadPairs(arguments, pairs);
  } catch (...) {
  }
  VA_END(arguments);
  return thunk::Call("InstallMultipleProtocolInterfaces", TPL_NOTIFY, [&](UefiCore &core) {
    if (!terminated) {
      core.Report("InstallMultipleProtocolInterfaces: no null GUID ends the first " + std::to_string(kLongestPairList) +
                  " pairs; nothing is installed");
      return EFI_INVALID_PARAMETER;
    }
    return core.Protocols().InstallMultiple(Handle, pairs);
  });
}

EFI_STATUS EFIAPI UninstallMultipleProtocolInterfacesThunk(EFI_HANDLE Handle, ...) {
  VA_LIST arguments;
  VA_START(arguments, Handle);
  std::vector<ProtocolPair> pairs;
  bool terminated = false;
  try {
    terminated = ReadPairs(arguments, pairs);
  } catch (...) {
  }
  VA_END(arguments);
  return thunk::Call("UninstallMultipleProtocolInterfaces", TPL_NOTIFY, [&](UefiCore &core) {
    if (!terminated) {
      core.Report("UninstallMultipleProtocolInterfaces: no null GUID ends the first " +
                  std::to_string(kLongestPairList) + " pairs; nothing is removed");
      return EFI_INVALID_PARAMETER;
    }
    return core.Protocols().UninstallMultiple(Handle, pairs);
  });
}

// No handle in the simulation carries a device path, and nothing here is a UEFI driver-model
// driver, so device-path lookup, open/close tracking and controller connection are not offered.
EFI_STATUS EFIAPI LocateDevicePathThunk(EFI_GUID *, EFI_DEVICE_PATH_PROTOCOL **, EFI_HANDLE *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI OpenProtocolThunk(EFI_HANDLE, EFI_GUID *, VOID **, EFI_HANDLE, EFI_HANDLE, UINT32) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI CloseProtocolThunk(EFI_HANDLE, EFI_GUID *, EFI_HANDLE, EFI_HANDLE) { return EFI_UNSUPPORTED; }

EFI_STATUS EFIAPI OpenProtocolInformationThunk(EFI_HANDLE, EFI_GUID *, EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **,
                                               UINTN *) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI ConnectControllerThunk(EFI_HANDLE, EFI_HANDLE *, EFI_DEVICE_PATH_PROTOCOL *, BOOLEAN) {
  return EFI_UNSUPPORTED;
}

EFI_STATUS EFIAPI DisconnectControllerThunk(EFI_HANDLE, EFI_HANDLE, EFI_HANDLE) { return EFI_UNSUPPORTED; }

}  // namespace

void FillProtocolServices(EFI_BOOT_SERVICES &table) {
  table.InstallProtocolInterface = InstallProtocolInterfaceThunk;
  table.ReinstallProtocolInterface = ReinstallProtocolInterfaceThunk;
  table.UninstallProtocolInterface = UninstallProtocolInterfaceThunk;
  table.HandleProtocol = HandleProtocolThunk;
  table.Reserved = nullptr;
  table.RegisterProtocolNotify = RegisterProtocolNotifyThunk;
  table.LocateHandle = LocateHandleThunk;
  table.LocateDevicePath = LocateDevicePathThunk;
  table.OpenProtocol = OpenProtocolThunk;
  table.CloseProtocol = CloseProtocolThunk;
  table.OpenProtocolInformation = OpenProtocolInformationThunk;
  table.ConnectController = ConnectControllerThunk;
  table.DisconnectController = DisconnectControllerThunk;
  table.ProtocolsPerHandle = ProtocolsPerHandleThunk;
  table.LocateHandleBuffer = LocateHandleBufferThunk;
  table.LocateProtocol = LocateProtocolThunk;
  table.InstallMultipleProtocolInterfaces = InstallMultipleProtocolInterfacesThunk;
  table.UninstallMultipleProtocolInterfaces = UninstallMultipleProtocolInterfacesThunk;
}

}  // namespace sim
