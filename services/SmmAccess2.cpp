// SMRAM access: the installer and the four functions of EFI_SMM_ACCESS2_PROTOCOL. The region
// states live in this driver's copy of the SMRAM map; the hardware side is the SMM range
// registers of every core, changed only while the coprocessor mutex is held.
#include "services/SmmAccess2.h"

#include "arch/Chipset.h"
#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/PortIo.h"
#include "debug/DebugPrint.h"
#include "driver/HobList.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"
#include "services/HcuMailbox.h"
#include "services/SmmRangeProcedures.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// What the SMRAM HOB describes, once it has been checked to fit its HOB. The descriptors are the
// HOB's bytes: the HOB may lie off any boundary, so they are only ever copied.
struct SMRAM_HOB_VIEW {
  const UINT8 *Descriptors;
  UINT64 Count;
  UINT64 TotalSize;
};

// Accepts the SMRAM HOB only when it names at least one region, every descriptor it counts lies
// inside the HOB, and the regions add up to a size that is neither zero nor beyond 64 bits. The
// range registers are computed from the first region and the total, so anything less would
// program them from bytes that are not part of the description.
BOOLEAN ReadSmramHob(const EFI_HOB_GUID_TYPE *Hob, SMRAM_HOB_VIEW *View) {
  constexpr UINTN kFirstDescriptor = offsetof(EFI_SMRAM_HOB_DESCRIPTOR_BLOCK, Descriptor);
  const UINTN DataSize = HobGuidDataSize(Hob);
  if (DataSize < kFirstDescriptor) {
    return FALSE;
  }
  const UINT8 *Block = HobGuidData(Hob);
  UINT32 Regions = 0;
  __builtin_memcpy(&Regions, Block + offsetof(EFI_SMRAM_HOB_DESCRIPTOR_BLOCK, NumberOfSmmReservedRegions),
                   sizeof(Regions));
  const UINT64 Count = Regions;
  const UINT64 Room = (DataSize - kFirstDescriptor) / sizeof(EFI_SMRAM_DESCRIPTOR);
  if (Count == 0 || Count > Room) {
    return FALSE;
  }
  const UINT8 *Descriptors = Block + kFirstDescriptor;
  UINT64 Total = 0;
  for (UINT64 Index = 0; Index < Count; Index++) {
    const UINT8 *Descriptor = Descriptors + Index * sizeof(EFI_SMRAM_DESCRIPTOR);
    UINT64 Size = 0;
    __builtin_memcpy(&Size, Descriptor + offsetof(EFI_SMRAM_DESCRIPTOR, PhysicalSize), sizeof(Size));
    if (Size > ~UINT64{0} - Total) {
      return FALSE;
    }
    Total += Size;
  }
  if (Total == 0) {
    return FALSE;
  }
  View->Descriptors = Descriptors;
  View->Count = Count;
  View->TotalSize = Total;
  return TRUE;
}

// The SMRAM block is taken to be contiguous with a power-of-two size: the mask keeps the address
// bits above it, and both ranges are typed write-back. The valid bits (below any SMRAM size) stay
// clear until Lock.
constexpr UINT64 kWriteBackRanges =
    Msr::SmmTsegMask::AMemType::Set(Msr::SmmTsegMask::TMemType::Set(0, Msr::SmmTsegMask::MemTypeWriteBack),
                                    Msr::SmmTsegMask::MemTypeWriteBack);
static_assert(kWriteBackRanges == 0x6600, "both memory types write-back");

UINT64 TsegMaskFor(UINT64 TotalSize) { return ~(TotalSize - 1) | kWriteBackRanges; }

// Runs a per-core step on every core while the coprocessor is kept out of the SMM configuration.
// When the APs could not be started, the step is still done on the BSP and the caller's state
// still changes, but the cores now disagree: that is said, and the answer is EFI_DEVICE_ERROR.
// Cores whose SMM range the installer could not write are left alone: only the BSP, whose range
// is always written, takes the step, and the answer is EFI_DEVICE_ERROR as well.
EFI_STATUS RunExcludingCoprocessor(EFI_AP_PROCEDURE Procedure, const CHAR8 *Caller) {
  if (!gImage.SmmAccess.RangeOnEveryCore) {
    HcuMutexAcquire();
    Procedure(nullptr);
    HcuMutexRelease();
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER, "  %a: the SMM range was not set on the APs, only the BSP is changed\n", Caller);
    return EFI_DEVICE_ERROR;
  }
  HcuMutexAcquire();
  const BOOLEAN SingleThread = GetPcdProtocol()->GetBool(PcdCcxRunApsSingleThreaded);
  const EFI_STATUS Status = CcxSmmRunOnEveryCore(gImage.SmmAccess.MpServices, Procedure, SingleThread, nullptr);
  HcuMutexRelease();
  if (EFI_ERROR(Status)) {
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER, "  %a: the APs were not reached, Status:[%r]\n", Caller, Status);
    return EFI_DEVICE_ERROR;
  }
  return EFI_SUCCESS;
}

VOID SetLockBracket(UINT64 Held) {
  const UINT32 Value = MmioRead32(Chipset::SmmLockBracket::Address);
  MmioWrite32(Chipset::SmmLockBracket::Address,
              static_cast<UINT32>(Chipset::SmmLockBracket::Held::Set(Value, Held)));
}

}  // namespace

EFI_STATUS CcxSmmAccess2ProtocolInstall(EFI_STATUS *RangeStatus) {
  if (RangeStatus != nullptr) {
    *RangeStatus = EFI_SUCCESS;
  }
  SMM_ACCESS_STATE &State = gImage.SmmAccess;
  // MP services may be installed a second time (a reinstall notifies the per-core work again):
  // the protocol stays the one already installed, and the SMM range is never written again,
  // least of all after the lock, when the cores refuse writes to it.
  if (State.Handle != nullptr) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: already installed\n");
    return EFI_ALREADY_STARTED;
  }
  EFI_MP_SERVICES_PROTOCOL *MpServices = nullptr;
  const EFI_STATUS Status =
      gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, reinterpret_cast<VOID **>(&MpServices));
  State.MpServices = EFI_ERROR(Status) ? nullptr : MpServices;
  if (EFI_ERROR(Status)) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: Locate MP Service Status:[%r]\n", Status);
    return EFI_NOT_FOUND;
  }

  const EFI_HOB_GUID_TYPE *Hob = HobFindGuid(&gEfiSmmPeiSmramMemoryReserveGuid);
  if (Hob == nullptr) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: Get PEI SMRAM Memory Hob failed\n");
    return EFI_NOT_FOUND;
  }
  SMRAM_HOB_VIEW View;
  if (!ReadSmramHob(Hob, &View)) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: PEI SMRAM Memory Hob describes no usable SMRAM\n");
    return EFI_NOT_FOUND;
  }

  const UINTN MapBytes = View.Count * sizeof(EFI_SMRAM_DESCRIPTOR);
  VOID *Map = nullptr;
  if (EFI_ERROR(gBS->AllocatePool(EfiBootServicesData, MapBytes, &Map)) || Map == nullptr) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: no pool for the SMRAM map\n");
    return EFI_OUT_OF_RESOURCES;
  }
  ZeroMemory(Map, MapBytes);
  CopyMemory(Map, View.Descriptors, MapBytes);
  State.SmramMap = static_cast<EFI_SMRAM_DESCRIPTOR *>(Map);
  State.RegionCount = View.Count;

  CCX_SMM_RANGE Range = {State.SmramMap[0].PhysicalStart, TsegMaskFor(View.TotalSize)};
  const EFI_STATUS ApStatus = CcxSmmRunOnEveryCore(State.MpServices, CcxSmmSetRangeOnCore, FALSE, &Range);
  if (EFI_ERROR(ApStatus)) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmAccess2ProtocolInstall: SMM range not set on the APs, Status:[%r]\n",
                      ApStatus);
  }
  if (RangeStatus != nullptr) {
    *RangeStatus = ApStatus;
  }
  State.RangeOnEveryCore = EFI_ERROR(ApStatus) ? FALSE : TRUE;

  State.LockSetsHwcr = GetPcdProtocol()->GetBool(PcdCcxSmmLockHwcr);
  gBS->InstallMultipleProtocolInterfaces(&State.Handle, &gEfiSmmAccess2ProtocolGuid, &State.Protocol, nullptr);
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI CcxSmmOpen2(EFI_SMM_ACCESS2_PROTOCOL *This) {
  SMM_ACCESS_STATE &State = gImage.SmmAccess;
  PrintDebugMessage(TRACE_CPU, "  CcxSmmOpen2: OPEN SMM\n");
  if (State.Protocol.LockState || State.MpServices == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  for (UINT64 Index = 0; Index < State.RegionCount; Index++) {
    UINT64 &RegionState = State.SmramMap[Index].RegionState;
    if ((RegionState & EFI_SMRAM_LOCKED) != 0) {
      PrintDebugMessage(TRACE_CPU, "CcxSmmOpen2: RegionState %d is locked\n", Index);
      continue;
    }
    RegionState = (RegionState & ~(EFI_SMRAM_CLOSED | EFI_ALLOCATED)) | EFI_SMRAM_OPEN;
  }
  const EFI_STATUS Status = RunExcludingCoprocessor(CcxSmmOpenOnCore, "CcxSmmOpen2");
  State.Protocol.OpenState = TRUE;
  return Status;
}

EFI_STATUS EFIAPI CcxSmmClose2(EFI_SMM_ACCESS2_PROTOCOL *This) {
  SMM_ACCESS_STATE &State = gImage.SmmAccess;
  PrintDebugMessage(TRACE_CPU, "  CcxSmmClose2: CLOSE SMM\n");
  if (State.Protocol.LockState || State.MpServices == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  for (UINT64 Index = 0; Index < State.RegionCount; Index++) {
    UINT64 &RegionState = State.SmramMap[Index].RegionState;
    if ((RegionState & (EFI_SMRAM_CLOSED | EFI_SMRAM_LOCKED)) != 0) {
      PrintDebugMessage(TRACE_CPU, "CcxSmmClose2: RegionState %d is locked\n", Index);
      continue;
    }
    RegionState = (RegionState & ~EFI_SMRAM_OPEN) | EFI_SMRAM_CLOSED | EFI_ALLOCATED;
  }
  const EFI_STATUS Status = RunExcludingCoprocessor(CcxSmmCloseOnCore, "CcxSmmClose2");
  State.Protocol.OpenState = FALSE;
  return Status;
}

EFI_STATUS EFIAPI CcxSmmLock2(EFI_SMM_ACCESS2_PROTOCOL *This) {
  SMM_ACCESS_STATE &State = gImage.SmmAccess;
  PrintDebugMessage(TRACE_CPU, "  CcxSmmLock2: LOCKING SMM\n");
  if (State.MpServices == nullptr) {
    return EFI_DEVICE_ERROR;
  }
  if (State.Protocol.LockState) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmLock2: Already Locked.\n");
    return EFI_SUCCESS;
  }
  for (UINT64 Index = 0; Index < State.RegionCount; Index++) {
    State.SmramMap[Index].RegionState |= EFI_SMRAM_LOCKED;
  }
  // The chipset bracket is held around the whole lock sequence.
  SetLockBracket(1);
  const EFI_STATUS Status = RunExcludingCoprocessor(CcxSmmLockOnCore, "CcxSmmLock2");
  State.Protocol.LockState = TRUE;
  SetLockBracket(0);
  return Status;
}

EFI_STATUS EFIAPI CcxSmmGetCapabilities2(CONST EFI_SMM_ACCESS2_PROTOCOL *This, UINTN *SmramMapSize,
                                         EFI_SMRAM_DESCRIPTOR *SmramMap) {
  const SMM_ACCESS_STATE &State = gImage.SmmAccess;
  const UINTN Needed = State.RegionCount * sizeof(EFI_SMRAM_DESCRIPTOR);
  EFI_STATUS Status = EFI_SUCCESS;
  if (*SmramMapSize < Needed || SmramMap == nullptr) {
    PrintDebugMessage(TRACE_CPU, "  CcxSmmGetCapabilities2: SmramMapSize is too small!\n");
    Status = EFI_BUFFER_TOO_SMALL;
  } else {
    CopyMemory(SmramMap, State.SmramMap, Needed);
  }
  *SmramMapSize = Needed;
  return Status;
}

}  // namespace CCX_IMAGE_NAMESPACE
