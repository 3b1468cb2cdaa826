// EFI_SYSTEM_TABLE, EFI_BOOT_SERVICES and EFI_RUNTIME_SERVICES with every slot in the order the UEFI
// specification gives, and the constants their functions take (TPLs, event types, memory and
// allocation types, reset types, variable attributes).
#ifndef UEFI_SYSTEM_TABLE_H_
#define UEFI_SYSTEM_TABLE_H_

#include "uefi/Base.h"

typedef struct {
  UINT64 Signature;
  UINT32 Revision;
  UINT32 HeaderSize;
  UINT32 CRC32;
  UINT32 Reserved;
} EFI_TABLE_HEADER;

#define EFI_SYSTEM_TABLE_SIGNATURE 0x5453595320494249ULL   // "IBI SYST"
#define EFI_BOOT_SERVICES_SIGNATURE 0x56524553544f4f42ULL  // "BOOTSERV"
#define EFI_RUNTIME_SERVICES_SIGNATURE 0x56524553544e5552ULL  // "RUNTSERV"
#define EFI_SPECIFICATION_REVISION ((2U << 16) | 100U)

// Task priority levels.
#define TPL_APPLICATION 4
#define TPL_CALLBACK 8
#define TPL_NOTIFY 16
#define TPL_HIGH_LEVEL 31

// Event types.
#define EVT_TIMER 0x80000000U
#define EVT_RUNTIME 0x40000000U
#define EVT_NOTIFY_WAIT 0x00000100U
#define EVT_NOTIFY_SIGNAL 0x00000200U
#define EVT_SIGNAL_EXIT_BOOT_SERVICES 0x00000201U
#define EVT_SIGNAL_VIRTUAL_ADDRESS_CHANGE 0x60000202U

typedef VOID(EFIAPI *EFI_EVENT_NOTIFY)(IN EFI_EVENT Event, IN VOID *Context);

typedef enum : UINT32 { TimerCancel, TimerPeriodic, TimerRelative } EFI_TIMER_DELAY;

typedef enum : UINT32 {
  EfiReservedMemoryType,
  EfiLoaderCode,
  EfiLoaderData,
  EfiBootServicesCode,
  EfiBootServicesData,
  EfiRuntimeServicesCode,
  EfiRuntimeServicesData,
  EfiConventionalMemory,
  EfiUnusableMemory,
  EfiACPIReclaimMemory,
  EfiACPIMemoryNVS,
  EfiMemoryMappedIO,
  EfiMemoryMappedIOPortSpace,
  EfiPalCode,
  EfiPersistentMemory,
  EfiUnacceptedMemoryType,
  EfiMaxMemoryType
} EFI_MEMORY_TYPE;

typedef enum : UINT32 { AllocateAnyPages, AllocateMaxAddress, AllocateAddress, MaxAllocateType } EFI_ALLOCATE_TYPE;

#define EFI_PAGE_SIZE 0x1000ULL
#define EFI_PAGE_SHIFT 12
#define EFI_SIZE_TO_PAGES(Size) (((Size) >> EFI_PAGE_SHIFT) + (((Size) & (EFI_PAGE_SIZE - 1)) ? 1 : 0))

#define EFI_MEMORY_DESCRIPTOR_VERSION 1
typedef struct {
  UINT32 Type;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_VIRTUAL_ADDRESS VirtualStart;
  UINT64 NumberOfPages;
  UINT64 Attribute;
} EFI_MEMORY_DESCRIPTOR;
static_assert(sizeof(EFI_MEMORY_DESCRIPTOR) == 40, "EFI_MEMORY_DESCRIPTOR is 40 bytes");

#define EFI_MEMORY_UC 0x0000000000000001ULL
#define EFI_MEMORY_WC 0x0000000000000002ULL
#define EFI_MEMORY_WT 0x0000000000000004ULL
#define EFI_MEMORY_WB 0x0000000000000008ULL
#define EFI_MEMORY_RUNTIME 0x8000000000000000ULL

typedef enum : UINT32 { EFI_NATIVE_INTERFACE } EFI_INTERFACE_TYPE;
typedef enum : UINT32 { AllHandles, ByRegisterNotify, ByProtocol } EFI_LOCATE_SEARCH_TYPE;

typedef struct {
  EFI_HANDLE AgentHandle;
  EFI_HANDLE ControllerHandle;
  UINT32 Attributes;
  UINT32 OpenCount;
} EFI_OPEN_PROTOCOL_INFORMATION_ENTRY;

typedef struct _EFI_DEVICE_PATH_PROTOCOL {
  UINT8 Type;
  UINT8 SubType;
  UINT8 Length[2];
} EFI_DEVICE_PATH_PROTOCOL;

typedef enum : UINT32 { EfiResetCold, EfiResetWarm, EfiResetShutdown, EfiResetPlatformSpecific } EFI_RESET_TYPE;

#define EFI_VARIABLE_NON_VOLATILE 0x00000001U
#define EFI_VARIABLE_BOOTSERVICE_ACCESS 0x00000002U
#define EFI_VARIABLE_RUNTIME_ACCESS 0x00000004U
#define EFI_VARIABLE_HARDWARE_ERROR_RECORD 0x00000008U
#define EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS 0x00000020U
#define EFI_VARIABLE_APPEND_WRITE 0x00000040U

typedef struct {
  EFI_GUID VendorGuid;
  VOID *VendorTable;
} EFI_CONFIGURATION_TABLE;

typedef struct {
  EFI_GUID CapsuleGuid;
  UINT32 HeaderSize;
  UINT32 Flags;
  UINT32 CapsuleImageSize;
} EFI_CAPSULE_HEADER;

typedef struct _EFI_SYSTEM_TABLE EFI_SYSTEM_TABLE;

typedef EFI_STATUS(EFIAPI *EFI_IMAGE_ENTRY_POINT)(IN EFI_HANDLE ImageHandle, IN EFI_SYSTEM_TABLE *SystemTable);

typedef struct {
  EFI_TABLE_HEADER Hdr;
  // Task priority services.
  EFI_TPL(EFIAPI *RaiseTPL)(IN EFI_TPL NewTpl);
  VOID(EFIAPI *RestoreTPL)(IN EFI_TPL OldTpl);
  // Memory services.
  EFI_STATUS(EFIAPI *AllocatePages)(IN EFI_ALLOCATE_TYPE Type, IN EFI_MEMORY_TYPE MemoryType, IN UINTN Pages,
                                    IN OUT EFI_PHYSICAL_ADDRESS *Memory);
  EFI_STATUS(EFIAPI *FreePages)(IN EFI_PHYSICAL_ADDRESS Memory, IN UINTN Pages);
  EFI_STATUS(EFIAPI *GetMemoryMap)(IN OUT UINTN *MemoryMapSize, OUT EFI_MEMORY_DESCRIPTOR *MemoryMap,
                                   OUT UINTN *MapKey, OUT UINTN *DescriptorSize, OUT UINT32 *DescriptorVersion);
  EFI_STATUS(EFIAPI *AllocatePool)(IN EFI_MEMORY_TYPE PoolType, IN UINTN Size, OUT VOID **Buffer);
  EFI_STATUS(EFIAPI *FreePool)(IN VOID *Buffer);
  // Event and timer services.
  EFI_STATUS(EFIAPI *CreateEvent)(IN UINT32 Type, IN EFI_TPL NotifyTpl, IN EFI_EVENT_NOTIFY NotifyFunction,
                                  IN VOID *NotifyContext, OUT EFI_EVENT *Event);
  EFI_STATUS(EFIAPI *SetTimer)(IN EFI_EVENT Event, IN EFI_TIMER_DELAY Type, IN UINT64 TriggerTime);
  EFI_STATUS(EFIAPI *WaitForEvent)(IN UINTN NumberOfEvents, IN EFI_EVENT *Event, OUT UINTN *Index);
  EFI_STATUS(EFIAPI *SignalEvent)(IN EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CloseEvent)(IN EFI_EVENT Event);
  EFI_STATUS(EFIAPI *CheckEvent)(IN EFI_EVENT Event);
  // Protocol handler services.
  EFI_STATUS(EFIAPI *InstallProtocolInterface)(IN OUT EFI_HANDLE *Handle, IN EFI_GUID *Protocol,
                                               IN EFI_INTERFACE_TYPE InterfaceType, IN VOID *Interface);
  EFI_STATUS(EFIAPI *ReinstallProtocolInterface)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                                 IN VOID *OldInterface, IN VOID *NewInterface);
  EFI_STATUS(EFIAPI *UninstallProtocolInterface)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, IN VOID *Interface);
  EFI_STATUS(EFIAPI *HandleProtocol)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, OUT VOID **Interface);
  VOID *Reserved;
  EFI_STATUS(EFIAPI *RegisterProtocolNotify)(IN EFI_GUID *Protocol, IN EFI_EVENT Event, OUT VOID **Registration);
  EFI_STATUS(EFIAPI *LocateHandle)(IN EFI_LOCATE_SEARCH_TYPE SearchType, IN EFI_GUID *Protocol, IN VOID *SearchKey,
                                   IN OUT UINTN *BufferSize, OUT EFI_HANDLE *Buffer);
  EFI_STATUS(EFIAPI *LocateDevicePath)(IN EFI_GUID *Protocol, IN OUT EFI_DEVICE_PATH_PROTOCOL **DevicePath,
                                       OUT EFI_HANDLE *Device);
  EFI_STATUS(EFIAPI *InstallConfigurationTable)(IN EFI_GUID *Guid, IN VOID *Table);
  // Image services.
  EFI_STATUS(EFIAPI *LoadImage)(IN BOOLEAN BootPolicy, IN EFI_HANDLE ParentImageHandle,
                                IN EFI_DEVICE_PATH_PROTOCOL *DevicePath, IN VOID *SourceBuffer, IN UINTN SourceSize,
                                OUT EFI_HANDLE *ImageHandle);
  EFI_STATUS(EFIAPI *StartImage)(IN EFI_HANDLE ImageHandle, OUT UINTN *ExitDataSize, OUT CHAR16 **ExitData);
  EFI_STATUS(EFIAPI *Exit)(IN EFI_HANDLE ImageHandle, IN EFI_STATUS ExitStatus, IN UINTN ExitDataSize,
                           IN CHAR16 *ExitData);
  EFI_STATUS(EFIAPI *UnloadImage)(IN EFI_HANDLE ImageHandle);
  EFI_STATUS(EFIAPI *ExitBootServices)(IN EFI_HANDLE ImageHandle, IN UINTN MapKey);
  // Miscellaneous services.
  EFI_STATUS(EFIAPI *GetNextMonotonicCount)(OUT UINT64 *Count);
  EFI_STATUS(EFIAPI *Stall)(IN UINTN Microseconds);
  EFI_STATUS(EFIAPI *SetWatchdogTimer)(IN UINTN Timeout, IN UINT64 WatchdogCode, IN UINTN DataSize,
                                       IN CHAR16 *WatchdogData);
  // Driver support services.
  EFI_STATUS(EFIAPI *ConnectController)(IN EFI_HANDLE ControllerHandle, IN EFI_HANDLE *DriverImageHandle,
                                        IN EFI_DEVICE_PATH_PROTOCOL *RemainingDevicePath, IN BOOLEAN Recursive);
  EFI_STATUS(EFIAPI *DisconnectController)(IN EFI_HANDLE ControllerHandle, IN EFI_HANDLE DriverImageHandle,
                                           IN EFI_HANDLE ChildHandle);
  // Open and close protocol services.
  EFI_STATUS(EFIAPI *OpenProtocol)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, OUT VOID **Interface,
                                   IN EFI_HANDLE AgentHandle, IN EFI_HANDLE ControllerHandle, IN UINT32 Attributes);
  EFI_STATUS(EFIAPI *CloseProtocol)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol, IN EFI_HANDLE AgentHandle,
                                    IN EFI_HANDLE ControllerHandle);
  EFI_STATUS(EFIAPI *OpenProtocolInformation)(IN EFI_HANDLE Handle, IN EFI_GUID *Protocol,
                                              OUT EFI_OPEN_PROTOCOL_INFORMATION_ENTRY **EntryBuffer,
                                              OUT UINTN *EntryCount);
  // Library services.
  EFI_STATUS(EFIAPI *ProtocolsPerHandle)(IN EFI_HANDLE Handle, OUT EFI_GUID ***ProtocolBuffer,
                                         OUT UINTN *ProtocolBufferCount);
  EFI_STATUS(EFIAPI *LocateHandleBuffer)(IN EFI_LOCATE_SEARCH_TYPE SearchType, IN EFI_GUID *Protocol,
                                         IN VOID *SearchKey, OUT UINTN *NoHandles, OUT EFI_HANDLE **Buffer);
  EFI_STATUS(EFIAPI *LocateProtocol)(IN EFI_GUID *Protocol, IN VOID *Registration, OUT VOID **Interface);
  EFI_STATUS(EFIAPI *InstallMultipleProtocolInterfaces)(IN OUT EFI_HANDLE *Handle, ...);
  EFI_STATUS(EFIAPI *UninstallMultipleProtocolInterfaces)(IN EFI_HANDLE Handle, ...);
  // 32-bit CRC services.
  EFI_STATUS(EFIAPI *CalculateCrc32)(IN VOID *Data, IN UINTN DataSize, OUT UINT32 *Crc32);
  // Miscellaneous services.
  VOID(EFIAPI *CopyMem)(IN VOID *Destination, IN VOID *Source, IN UINTN Length);
  VOID(EFIAPI *SetMem)(IN VOID *Buffer, IN UINTN Size, IN UINT8 Value);
  EFI_STATUS(EFIAPI *CreateEventEx)(IN UINT32 Type, IN EFI_TPL NotifyTpl, IN EFI_EVENT_NOTIFY NotifyFunction,
                                    IN CONST VOID *NotifyContext, IN CONST EFI_GUID *EventGroup,
                                    OUT EFI_EVENT *Event);
} EFI_BOOT_SERVICES;
static_assert(sizeof(EFI_BOOT_SERVICES) == 24 + 44 * 8, "EFI_BOOT_SERVICES has 44 slots after its header");

typedef struct {
  EFI_TABLE_HEADER Hdr;
  // Time services.
  EFI_STATUS(EFIAPI *GetTime)(OUT EFI_TIME *Time, OUT EFI_TIME_CAPABILITIES *Capabilities);
  EFI_STATUS(EFIAPI *SetTime)(IN EFI_TIME *Time);
  EFI_STATUS(EFIAPI *GetWakeupTime)(OUT BOOLEAN *Enabled, OUT BOOLEAN *Pending, OUT EFI_TIME *Time);
  EFI_STATUS(EFIAPI *SetWakeupTime)(IN BOOLEAN Enable, IN EFI_TIME *Time);
  // Virtual memory services.
  EFI_STATUS(EFIAPI *SetVirtualAddressMap)(IN UINTN MemoryMapSize, IN UINTN DescriptorSize,
                                           IN UINT32 DescriptorVersion, IN EFI_MEMORY_DESCRIPTOR *VirtualMap);
  EFI_STATUS(EFIAPI *ConvertPointer)(IN UINTN DebugDisposition, IN OUT VOID **Address);
  // Variable services.
  EFI_STATUS(EFIAPI *GetVariable)(IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid, OUT UINT32 *Attributes,
                                  IN OUT UINTN *DataSize, OUT VOID *Data);
  EFI_STATUS(EFIAPI *GetNextVariableName)(IN OUT UINTN *VariableNameSize, IN OUT CHAR16 *VariableName,
                                          IN OUT EFI_GUID *VendorGuid);
  EFI_STATUS(EFIAPI *SetVariable)(IN CHAR16 *VariableName, IN EFI_GUID *VendorGuid, IN UINT32 Attributes,
                                  IN UINTN DataSize, IN VOID *Data);
  // Miscellaneous services.
  EFI_STATUS(EFIAPI *GetNextHighMonotonicCount)(OUT UINT32 *HighCount);
  VOID(EFIAPI *ResetSystem)(IN EFI_RESET_TYPE ResetType, IN EFI_STATUS ResetStatus, IN UINTN DataSize,
                            IN VOID *ResetData);
  // Capsule services.
  EFI_STATUS(EFIAPI *UpdateCapsule)(IN EFI_CAPSULE_HEADER **CapsuleHeaderArray, IN UINTN CapsuleCount,
                                    IN EFI_PHYSICAL_ADDRESS ScatterGatherList);
  EFI_STATUS(EFIAPI *QueryCapsuleCapabilities)(IN EFI_CAPSULE_HEADER **CapsuleHeaderArray, IN UINTN CapsuleCount,
                                               OUT UINT64 *MaximumCapsuleSize, OUT EFI_RESET_TYPE *ResetType);
  // Miscellaneous UEFI 2.0 services.
  EFI_STATUS(EFIAPI *QueryVariableInfo)(IN UINT32 Attributes, OUT UINT64 *MaximumVariableStorageSize,
                                        OUT UINT64 *RemainingVariableStorageSize, OUT UINT64 *MaximumVariableSize);
} EFI_RUNTIME_SERVICES;
static_assert(sizeof(EFI_RUNTIME_SERVICES) == 24 + 14 * 8, "EFI_RUNTIME_SERVICES has 14 slots after its header");

struct _EFI_SYSTEM_TABLE {
  EFI_TABLE_HEADER Hdr;
  CHAR16 *FirmwareVendor;
  UINT32 FirmwareRevision;
  EFI_HANDLE ConsoleInHandle;
  VOID *ConIn;
  EFI_HANDLE ConsoleOutHandle;
  VOID *ConOut;
  EFI_HANDLE StandardErrorHandle;
  VOID *StdErr;
  EFI_RUNTIME_SERVICES *RuntimeServices;
  EFI_BOOT_SERVICES *BootServices;
  UINTN NumberOfTableEntries;
  EFI_CONFIGURATION_TABLE *ConfigurationTable;
};
static_assert(sizeof(EFI_SYSTEM_TABLE) == 120, "EFI_SYSTEM_TABLE is 120 bytes");

#endif  // UEFI_SYSTEM_TABLE_H_
