// The memory slots of EFI_BOOT_SERVICES: pages, the memory map and pool.
#include "sim/uefi/MemoryTypes.h"
#include "sim/uefi/ServiceSlots.h"
#include "sim/uefi/ThunkSupport.h"

namespace sim {

namespace {

EFI_STATUS EFIAPI AllocatePagesThunk(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                     EFI_PHYSICAL_ADDRESS *Memory) {
  const uint32_t allocateType = RawEnumValue(Type);
  const uint32_t memoryType = RawEnumValue(MemoryType);
  return thunk::Call("AllocatePages", TPL_NOTIFY, [&](UefiCore &core) {
    if (Memory == nullptr) {
      return EFI_INVALID_PARAMETER;
    }
    if (auto injected = core.InjectedFault(FaultSite::PageAllocation)) {
      return *injected;
    }
    return core.Memory().AllocatePages(allocateType, memoryType, Pages, *Memory);
  });
}

EFI_STATUS EFIAPI FreePagesThunk(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  return thunk::Call("FreePages", TPL_NOTIFY, [&](UefiCore &core) { return core.Memory().FreePages(Memory, Pages); });
}

EFI_STATUS EFIAPI GetMemoryMapThunk(UINTN *MemoryMapSize, EFI_MEMORY_DESCRIPTOR *MemoryMap, UINTN *MapKey,
                                    UINTN *DescriptorSize, UINT32 *DescriptorVersion) {
  return thunk::Call("GetMemoryMap", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Memory().GetMemoryMap(MemoryMapSize, MemoryMap, MapKey, DescriptorSize, DescriptorVersion);
  });
}

EFI_STATUS EFIAPI AllocatePoolThunk(EFI_MEMORY_TYPE PoolType, UINTN Size, VOID **Buffer) {
  const uint32_t memoryType = RawEnumValue(PoolType);
  return thunk::Call("AllocatePool", TPL_NOTIFY,
                     [&](UefiCore &core) {
                       if (auto injected = core.InjectedFault(FaultSite::PoolAllocation)) {
                         return *injected;
                       }
                       return core.Pool().Allocate(memoryType, Size, Buffer);
                     });
}

EFI_STATUS EFIAPI FreePoolThunk(VOID *Buffer) {
  return thunk::Call("FreePool", TPL_NOTIFY, [&](UefiCore &core) { return core.Pool().Free(Buffer); });
}

}  // namespace

void FillMemoryServices(EFI_BOOT_SERVICES &table) {
  table.AllocatePages = AllocatePagesThunk;
  table.FreePages = FreePagesThunk;
  table.GetMemoryMap = GetMemoryMapThunk;
  table.AllocatePool = AllocatePoolThunk;
  table.FreePool = FreePoolThunk;
}

}  // namespace sim
