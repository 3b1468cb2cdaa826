// EFI_CPU_ARCH_PROTOCOL of the PI specification (DXE architectural protocols) and the x64
// exception context of the UEFI specification's debug support, which an interrupt handler
// registered through it receives and may change before the processor resumes.
#ifndef UEFI_CPU_ARCH_H_
#define UEFI_CPU_ARCH_H_

#include "uefi/Base.h"

#define EXCEPT_X64_INVALID_OPCODE 6
#define EXCEPT_X64_GP_FAULT 13
#define EXCEPT_X64_PAGE_FAULT 14

#define EFI_MEMORY_UC 0x0000000000000001ULL
#define EFI_MEMORY_RP 0x0000000000002000ULL
#define EFI_MEMORY_RO 0x0000000000020000ULL

typedef struct {
  UINT16 Fcw;
  UINT16 Fsw;
  UINT16 Ftw;
  UINT16 Opcode;
  UINT64 Rip;
  UINT64 DataOffset;
  UINT8 Reserved1[8];
  UINT8 St0Mm0[10], Reserved2[6];
  UINT8 St1Mm1[10], Reserved3[6];
  UINT8 St2Mm2[10], Reserved4[6];
  UINT8 St3Mm3[10], Reserved5[6];
  UINT8 St4Mm4[10], Reserved6[6];
  UINT8 St5Mm5[10], Reserved7[6];
  UINT8 St6Mm6[10], Reserved8[6];
  UINT8 St7Mm7[10], Reserved9[6];
  UINT8 Xmm0[16];
  UINT8 Xmm1[16];
  UINT8 Xmm2[16];
  UINT8 Xmm3[16];
  UINT8 Xmm4[16];
  UINT8 Xmm5[16];
  UINT8 Xmm6[16];
  UINT8 Xmm7[16];
  UINT8 Reserved11[14 * 16];
} EFI_FX_SAVE_STATE_X64;

typedef struct {
  UINT64 ExceptionData;
  EFI_FX_SAVE_STATE_X64 FxSaveState;
  UINT64 Dr0, Dr1, Dr2, Dr3, Dr6, Dr7;
  UINT64 Cr0, Cr1, Cr2, Cr3, Cr4, Cr8;
  UINT64 Rflags;
  UINT64 Ldtr, Tr;
  UINT64 Gdtr[2], Idtr[2];
  UINT64 Rip;
  UINT64 Gs, Fs, Es, Ds, Cs, Ss;
  UINT64 Rdi, Rsi, Rbp, Rsp, Rbx, Rdx, Rcx, Rax;
  UINT64 R8, R9, R10, R11, R12, R13, R14, R15;
} EFI_SYSTEM_CONTEXT_X64;

typedef union {
  EFI_SYSTEM_CONTEXT_X64 *SystemContextX64;
} EFI_SYSTEM_CONTEXT;

typedef INTN EFI_EXCEPTION_TYPE;
typedef VOID(EFIAPI *EFI_CPU_INTERRUPT_HANDLER)(IN EFI_EXCEPTION_TYPE InterruptType, IN EFI_SYSTEM_CONTEXT SystemContext);

typedef struct _EFI_CPU_ARCH_PROTOCOL EFI_CPU_ARCH_PROTOCOL;
typedef enum : UINT32 { EfiCpuInit, EfiCpuMaxInitType } EFI_CPU_INIT_TYPE;

struct _EFI_CPU_ARCH_PROTOCOL {
  EFI_STATUS(EFIAPI *FlushDataCache)(IN EFI_CPU_ARCH_PROTOCOL *This, IN UINT64 Start, IN UINT64 Length, IN UINT32 FlushType);
  EFI_STATUS(EFIAPI *EnableInterrupt)(IN EFI_CPU_ARCH_PROTOCOL *This);
  EFI_STATUS(EFIAPI *DisableInterrupt)(IN EFI_CPU_ARCH_PROTOCOL *This);
  EFI_STATUS(EFIAPI *GetInterruptState)(IN EFI_CPU_ARCH_PROTOCOL *This, OUT BOOLEAN *State);
  EFI_STATUS(EFIAPI *Init)(IN EFI_CPU_ARCH_PROTOCOL *This, IN EFI_CPU_INIT_TYPE InitType);
  EFI_STATUS(EFIAPI *RegisterInterruptHandler)(IN EFI_CPU_ARCH_PROTOCOL *This, IN EFI_EXCEPTION_TYPE InterruptType,
                                               IN EFI_CPU_INTERRUPT_HANDLER InterruptHandler);
  EFI_STATUS(EFIAPI *GetTimerValue)(IN EFI_CPU_ARCH_PROTOCOL *This, IN UINT32 TimerIndex, OUT UINT64 *TimerValue,
                                    OUT UINT64 *TimerPeriod);
  EFI_STATUS(EFIAPI *SetMemoryAttributes)(IN EFI_CPU_ARCH_PROTOCOL *This, IN UINT64 BaseAddress, IN UINT64 Length,
                                          IN UINT64 Attributes);
  UINT32 NumberOfTimers;
  UINT32 DmaBufferAlignment;
};

#endif  // UEFI_CPU_ARCH_H_
