// EFI_MP_SERVICES_PROTOCOL of the PI specification.
#ifndef UEFI_MP_SERVICES_H_
#define UEFI_MP_SERVICES_H_

#include "uefi/Base.h"

typedef struct _EFI_MP_SERVICES_PROTOCOL EFI_MP_SERVICES_PROTOCOL;

typedef VOID(EFIAPI *EFI_AP_PROCEDURE)(IN VOID *ProcedureArgument);

#define PROCESSOR_AS_BSP_BIT 0x00000001U
#define PROCESSOR_ENABLED_BIT 0x00000002U
#define PROCESSOR_HEALTH_STATUS_BIT 0x00000004U
#define END_OF_CPU_LIST 0xFFFFFFFFULL
#define CPU_V2_EXTENDED_TOPOLOGY (1ULL << 24)

typedef struct {
  UINT32 Package;
  UINT32 Core;
  UINT32 Thread;
} EFI_CPU_PHYSICAL_LOCATION;

typedef struct {
  UINT32 Package;
  UINT32 Die;
  UINT32 Tile;
  UINT32 Module;
  UINT32 Core;
  UINT32 Thread;
} EFI_CPU_PHYSICAL_LOCATION2;

typedef union {
  EFI_CPU_PHYSICAL_LOCATION2 Location2;
} EXTENDED_PROCESSOR_INFORMATION;

typedef struct {
  UINT64 ProcessorId;
  UINT32 StatusFlag;
  EFI_CPU_PHYSICAL_LOCATION Location;
  EXTENDED_PROCESSOR_INFORMATION ExtendedInformation;
} EFI_PROCESSOR_INFORMATION;

struct _EFI_MP_SERVICES_PROTOCOL {
  EFI_STATUS(EFIAPI *GetNumberOfProcessors)(IN EFI_MP_SERVICES_PROTOCOL *This, OUT UINTN *NumberOfProcessors,
                                            OUT UINTN *NumberOfEnabledProcessors);
  EFI_STATUS(EFIAPI *GetProcessorInfo)(IN EFI_MP_SERVICES_PROTOCOL *This, IN UINTN ProcessorNumber,
                                       OUT EFI_PROCESSOR_INFORMATION *ProcessorInfoBuffer);
  EFI_STATUS(EFIAPI *StartupAllAPs)(IN EFI_MP_SERVICES_PROTOCOL *This, IN EFI_AP_PROCEDURE Procedure,
                                    IN BOOLEAN SingleThread, IN EFI_EVENT WaitEvent,
                                    IN UINTN TimeoutInMicroSeconds, IN VOID *ProcedureArgument,
                                    OUT UINTN **FailedCpuList);
  EFI_STATUS(EFIAPI *StartupThisAP)(IN EFI_MP_SERVICES_PROTOCOL *This, IN EFI_AP_PROCEDURE Procedure,
                                    IN UINTN ProcessorNumber, IN EFI_EVENT WaitEvent,
                                    IN UINTN TimeoutInMicroseconds, IN VOID *ProcedureArgument,
                                    OUT BOOLEAN *Finished);
  EFI_STATUS(EFIAPI *SwitchBSP)(IN EFI_MP_SERVICES_PROTOCOL *This, IN UINTN ProcessorNumber,
                                IN BOOLEAN EnableOldBSP);
  EFI_STATUS(EFIAPI *EnableDisableAP)(IN EFI_MP_SERVICES_PROTOCOL *This, IN UINTN ProcessorNumber,
                                      IN BOOLEAN EnableAP, IN UINT32 *HealthFlag);
  EFI_STATUS(EFIAPI *WhoAmI)(IN EFI_MP_SERVICES_PROTOCOL *This, OUT UINTN *ProcessorNumber);
};

#endif  // UEFI_MP_SERVICES_H_
