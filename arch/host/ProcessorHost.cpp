// Host back-end of the processor and port primitives: every access goes to the installed hooks.
#include "arch/MemoryTraffic.h"
#include "arch/PortIo.h"
#include "arch/Processor.h"
#include "arch/host/HostHooks.h"

namespace CCX_IMAGE_NAMESPACE {

UINT32 CpuidEx(UINT32 Leaf, UINT32 SubLeaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  uint32_t Registers[4] = {0, 0, 0, 0};
  CcxArchHostHooks().Cpuid(Leaf, SubLeaf, Registers);
  if (Eax != nullptr) *Eax = Registers[0];
  if (Ebx != nullptr) *Ebx = Registers[1];
  if (Ecx != nullptr) *Ecx = Registers[2];
  if (Edx != nullptr) *Edx = Registers[3];
  return Leaf;
}

UINT32 Cpuid(UINT32 Leaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx) {
  // The instruction form leaves ECX holding the leaf number.
  return CpuidEx(Leaf, Leaf, Eax, Ebx, Ecx, Edx);
}

UINT16 BackdoorQuery() { return CcxArchHostHooks().BackdoorQuery(); }
UINT64 ReadTimeStampCounter() { return CcxArchHostHooks().ReadTimeStampCounter(); }
VOID CpuPause() { CcxArchHostHooks().CpuPause(); }
VOID WriteBackInvalidateCaches() { CcxArchHostHooks().WriteBackInvalidateCaches(); }
UINT64 AsmReadMsr64(UINT32 Index) { return CcxArchHostHooks().ReadMsr(Index); }
VOID AsmWriteMsr64(UINT32 Index, UINT64 Value) { CcxArchHostHooks().WriteMsr(Index, Value); }

UINT8 IoRead8(UINT16 Port) { return static_cast<UINT8>(CcxArchHostHooks().IoRead(Port, 1)); }
UINT16 IoRead16(UINT16 Port) { return static_cast<UINT16>(CcxArchHostHooks().IoRead(Port, 2)); }
UINT32 IoRead32(UINT16 Port) { return CcxArchHostHooks().IoRead(Port, 4); }
VOID IoWrite8(UINT16 Port, UINT8 Value) { CcxArchHostHooks().IoWrite(Port, 1, Value); }
VOID IoWrite16(UINT16 Port, UINT16 Value) { CcxArchHostHooks().IoWrite(Port, 2, Value); }
VOID IoWrite32(UINT16 Port, UINT32 Value) { CcxArchHostHooks().IoWrite(Port, 4, Value); }

UINT8 MmioRead8(UINT64 Address) { return static_cast<UINT8>(CcxArchHostHooks().MmioRead(Address, 1)); }
UINT16 MmioRead16(UINT64 Address) { return static_cast<UINT16>(CcxArchHostHooks().MmioRead(Address, 2)); }
UINT32 MmioRead32(UINT64 Address) { return static_cast<UINT32>(CcxArchHostHooks().MmioRead(Address, 4)); }
UINT64 MmioRead64(UINT64 Address) { return CcxArchHostHooks().MmioRead(Address, 8); }
VOID MmioWrite8(UINT64 Address, UINT8 Value) { CcxArchHostHooks().MmioWrite(Address, 1, Value); }
VOID MmioWrite16(UINT64 Address, UINT16 Value) { CcxArchHostHooks().MmioWrite(Address, 2, Value); }
VOID MmioWrite32(UINT64 Address, UINT32 Value) { CcxArchHostHooks().MmioWrite(Address, 4, Value); }
VOID MmioWrite64(UINT64 Address, UINT64 Value) { CcxArchHostHooks().MmioWrite(Address, 8, Value); }

VOID NoteMemoryFilled(UINTN Length) {
  const CCX_ARCH_MEMORY_OBSERVER *Observer = CcxArchMemoryObserver();
  if (Observer != nullptr) Observer->Filled(Length);
}
VOID NoteMemoryCopied(UINTN Length) {
  const CCX_ARCH_MEMORY_OBSERVER *Observer = CcxArchMemoryObserver();
  if (Observer != nullptr) Observer->Copied(Length);
}

}  // namespace CCX_IMAGE_NAMESPACE
