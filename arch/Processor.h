// Processor instructions the driver uses: CPUID, the simulation back-door, the time-stamp
// counter, the spin-wait hint, cache write-back, and 64-bit MSR access.
#ifndef ARCH_PROCESSOR_H_
#define ARCH_PROCESSOR_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Executes CPUID with EAX = Leaf (ECX is left holding the leaf) and stores each output whose
// pointer is not null. Returns Leaf.
UINT32 Cpuid(UINT32 Leaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx);
// Executes CPUID with EAX = Leaf and ECX = SubLeaf. Returns Leaf.
UINT32 CpuidEx(UINT32 Leaf, UINT32 SubLeaf, UINT32 *Eax, UINT32 *Ebx, UINT32 *Ecx, UINT32 *Edx);
// 0 on real processors; non-zero only where a simulation environment answers the back-door.
UINT16 BackdoorQuery();
UINT64 ReadTimeStampCounter();
VOID CpuPause();
VOID WriteBackInvalidateCaches();
UINT64 AsmReadMsr64(UINT32 Index);
VOID AsmWriteMsr64(UINT32 Index, UINT64 Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_PROCESSOR_H_
