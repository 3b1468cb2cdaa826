#include "firmware/ovmf/Traps.h"

#include "firmware/ovmf/Channel.h"

namespace ccx_ovmf {
namespace {

using namespace ccx_channel;

uint64_t gImageBase = 0;

void SaveRegisters(const EFI_SYSTEM_CONTEXT_X64 &Cpu, Registers &Regs) {
  Regs = {Cpu.Rax, Cpu.Rcx, Cpu.Rdx, Cpu.Rbx, Cpu.Rsp, Cpu.Rbp, Cpu.Rsi, Cpu.Rdi, Cpu.R8,  Cpu.R9,
          Cpu.R10, Cpu.R11, Cpu.R12, Cpu.R13, Cpu.R14, Cpu.R15, Cpu.Rip, Cpu.Rflags};
}

// The answer's registers: the general ones, RIP, RSP (a host function's return pops it) and the
// arithmetic flags.
void LoadRegisters(const Registers &Regs, EFI_SYSTEM_CONTEXT_X64 &Cpu) {
  Cpu.Rsp = Regs.Rsp;
  Cpu.Rflags = (Cpu.Rflags & ~kArithmeticFlags) | (Regs.Rflags & kArithmeticFlags);
  Cpu.Rax = Regs.Rax;
  Cpu.Rcx = Regs.Rcx;
  Cpu.Rdx = Regs.Rdx;
  Cpu.Rbx = Regs.Rbx;
  Cpu.Rbp = Regs.Rbp;
  Cpu.Rsi = Regs.Rsi;
  Cpu.Rdi = Regs.Rdi;
  Cpu.R8 = Regs.R8;
  Cpu.R9 = Regs.R9;
  Cpu.R10 = Regs.R10;
  Cpu.R11 = Regs.R11;
  Cpu.R12 = Regs.R12;
  Cpu.R13 = Regs.R13;
  Cpu.R14 = Regs.R14;
  Cpu.R15 = Regs.R15;
  Cpu.Rip = Regs.Rip;
}

// Everything the host needs to emulate the instruction, or to name it when nobody may: a fault
// outside the image is forwarded too, and the host ends the run naming it.
void Forward(uint32_t Request, EFI_SYSTEM_CONTEXT_X64 &Cpu) {
  Mailbox &Box = AcquireChannel(Request, ThisProcessor());
  SaveRegisters(Cpu, Box.Header.Regs);
  Box.Header.Value = gImageBase;
  Box.Header.FaultAddress = Cpu.Cr2;
  // A fetch from an address that is not mapped (a call of one of the host's functions) has no bytes
  // to read there.
  const bool Fetch = Request == kPageFault && Cpu.Cr2 == Cpu.Rip;
  const volatile uint8_t *Code = reinterpret_cast<const volatile uint8_t *>(Cpu.Rip);
  for (unsigned Index = 0; Index < sizeof(Box.Header.Instruction); Index++) {
    Box.Header.Instruction[Index] = Fetch ? 0 : Code[Index];
  }
  // XMM0-7 and XMM8-15 lie one after another in the FXSAVE image, from Xmm0 on.
  uint8_t *Xmm = Cpu.FxSaveState.Xmm0;
  if (Request == kPageFault) {
    for (unsigned Index = 0; Index < kXmmBytes; Index++) Box.Data[Index] = Xmm[Index];
    Box.Header.DataSize = kXmmBytes;
  }
  const uint32_t Answer = Exchange();
  if (Answer == kResume) LoadRegisters(Box.Header.Regs, Cpu);
  if (Answer == kResume && Request == kPageFault && Box.Header.DataSize == kXmmBytes) {
    for (unsigned Index = 0; Index < kXmmBytes; Index++) Xmm[Index] = Box.Data[Index];
  }
  ReleaseChannel();
  if (Answer != kResume) Park();
}

VOID EFIAPI OnInvalidOpcode(EFI_EXCEPTION_TYPE, EFI_SYSTEM_CONTEXT Context) {
  Forward(kTrap, *Context.SystemContextX64);
}

VOID EFIAPI OnPageFault(EFI_EXCEPTION_TYPE, EFI_SYSTEM_CONTEXT Context) {
  Forward(kPageFault, *Context.SystemContextX64);
}

}  // namespace

EFI_STATUS InstallTrapHandlers(EFI_CPU_ARCH_PROTOCOL *Cpu, uint64_t ImageBase) {
  gImageBase = ImageBase;
  EFI_STATUS Status = Cpu->RegisterInterruptHandler(Cpu, EXCEPT_X64_INVALID_OPCODE, OnInvalidOpcode);
  if (EFI_ERROR(Status)) return Status;
  return Cpu->RegisterInterruptHandler(Cpu, EXCEPT_X64_PAGE_FAULT, OnPageFault);
}

void ProtectWindows(EFI_CPU_ARCH_PROTOCOL *Cpu, const AddressWindow *Windows, uint32_t Count) {
  for (uint32_t Index = 0; Index < Count; Index++) {
    Cpu->SetMemoryAttributes(Cpu, Windows[Index].Base, Windows[Index].Size, EFI_MEMORY_RP);
  }
}

void RewriteSites(uint64_t Base, const uint32_t *Rvas, uint32_t Count) {
  // The loader may have made the image's code read-only: write with CR0.WP off, interrupts held.
  uint64_t Flags, Cr0;
  __asm__ volatile("pushfq; popq %0; cli" : "=r"(Flags));
  __asm__ volatile("movq %%cr0, %0" : "=r"(Cr0));
  __asm__ volatile("movq %0, %%cr0" : : "r"(Cr0 & ~(1ULL << 16)));
  for (uint32_t Index = 0; Index < Count; Index++) {
    *reinterpret_cast<volatile uint8_t *>(Base + Rvas[Index]) = kTrapOpcode;
  }
  __asm__ volatile("movq %0, %%cr0" : : "r"(Cr0));
  if ((Flags & (1ULL << 9)) != 0) __asm__ volatile("sti");
}

}  // namespace ccx_ovmf
