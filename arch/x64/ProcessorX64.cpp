// Firmware back-end of the processor and port primitives: the instructions themselves.
#include "arch/MemoryTraffic.h"
#include "arch/PortIo.h"
#include "arch/Processor.h"

namespace CCX_IMAGE_NAMESPACE {

UINT32 CpuidEx(UINT32 Leaf, UINT32 SubLeaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  UINT32 A, B, C, D;
  __asm__ __volatile__("cpuid" : "=a"(A), "=b"(B), "=c"(C), "=d"(D) : "a"(Leaf), "c"(SubLeaf));
  if (Eax != nullptr) *Eax = A;
  if (Ebx != nullptr) *Ebx = B;
  if (Ecx != nullptr) *Ecx = C;
  if (Edx != nullptr) *Edx = D;
  return Leaf;
}

UINT32 Cpuid(UINT32 Leaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  return CpuidEx(Leaf, Leaf, Eax, Ebx, Ecx, Edx);
}

UINT16 BackdoorQuery() {
  // Saves the flags and every register CPUID touches; SI is cleared first so that a processor
  // without the back-door answers 0.
  UINT64 Result;
  __asm__ __volatile__(
      "pushfq\n\t"
      "push %%rbx\n\t"
      "push %%rcx\n\t"
      "push %%rdx\n\t"
      "push %%rsi\n\t"
      "xor %%esi, %%esi\n\t"
      "mov $0xBACCD00B, %%eax\n\t"
      "mov $2, %%ebx\n\t"
      "cpuid\n\t"
      "movzwq %%si, %%rax\n\t"
      "pop %%rsi\n\t"
      "pop %%rdx\n\t"
      "pop %%rcx\n\t"
      "pop %%rbx\n\t"
      "popfq\n\t"
      : "=a"(Result)
      :
      : "memory");
  return static_cast<UINT16>(Result);
}

UINT64 ReadTimeStampCounter() {
  UINT32 Low, High;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return (static_cast<UINT64>(High) << 32) | Low;
}

VOID CpuPause() { __asm__ __volatile__("pause"); }
VOID WriteBackInvalidateCaches() { __asm__ __volatile__("wbinvd" ::: "memory"); }

UINT64 AsmReadMsr64(UINT32 Index) {
  UINT32 Low, High;
  __asm__ __volatile__("rdmsr" : "=a"(Low), "=d"(High) : "c"(Index));
  return (static_cast<UINT64>(High) << 32) | Low;
}

VOID AsmWriteMsr64(UINT32 Index, UINT64 Value) {
  __asm__ __volatile__("wrmsr" ::"c"(Index), "a"(static_cast<UINT32>(Value)), "d"(static_cast<UINT32>(Value >> 32))
                       : "memory");
}

UINT8 IoRead8(UINT16 Port) {
  UINT8 Value;
  __asm__ __volatile__("inb %w1, %b0" : "=a"(Value) : "Nd"(Port));
  return Value;
}
UINT16 IoRead16(UINT16 Port) {
  UINT16 Value;
  __asm__ __volatile__("inw %w1, %w0" : "=a"(Value) : "Nd"(Port));
  return Value;
}
UINT32 IoRead32(UINT16 Port) {
  UINT32 Value;
  __asm__ __volatile__("inl %w1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}
VOID IoWrite8(UINT16 Port, UINT8 Value) { __asm__ __volatile__("outb %b0, %w1" ::"a"(Value), "Nd"(Port)); }
VOID IoWrite16(UINT16 Port, UINT16 Value) { __asm__ __volatile__("outw %w0, %w1" ::"a"(Value), "Nd"(Port)); }
VOID IoWrite32(UINT16 Port, UINT32 Value) { __asm__ __volatile__("outl %0, %w1" ::"a"(Value), "Nd"(Port)); }

UINT8 MmioRead8(UINT64 Address) { return *reinterpret_cast<volatile UINT8 *>(Address); }
UINT16 MmioRead16(UINT64 Address) { return *reinterpret_cast<volatile UINT16 *>(Address); }
UINT32 MmioRead32(UINT64 Address) { return *reinterpret_cast<volatile UINT32 *>(Address); }
UINT64 MmioRead64(UINT64 Address) { return *reinterpret_cast<volatile UINT64 *>(Address); }
VOID MmioWrite8(UINT64 Address, UINT8 Value) { *reinterpret_cast<volatile UINT8 *>(Address) = Value; }
VOID MmioWrite16(UINT64 Address, UINT16 Value) { *reinterpret_cast<volatile UINT16 *>(Address) = Value; }
VOID MmioWrite32(UINT64 Address, UINT32 Value) { *reinterpret_cast<volatile UINT32 *>(Address) = Value; }
VOID MmioWrite64(UINT64 Address, UINT64 Value) { *reinterpret_cast<volatile UINT64 *>(Address) = Value; }

// Only the simulator counts memory traffic; on the hardware there is nobody to tell.
VOID NoteMemoryFilled(UINTN) {}
VOID NoteMemoryCopied(UINTN) {}

}  // namespace CCX_IMAGE_NAMESPACE
