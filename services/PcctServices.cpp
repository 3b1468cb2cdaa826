// The PCC subspace service. Each call allocates a fresh region in ACPI NVS memory, makes its first
// 64 KiB uncacheable through a free variable MTRR on every processor, reserves an MMIO window of
// the fabric, registers the region and writes the subspace that describes it. A failure after the
// template is copied leaves the caller's cursor where it was, so the half-written subspace is
// overwritten by whatever the caller writes next.
#include "services/PcctServices.h"

#include "arch/Cpuid.h"
#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/DriverEntry.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "driver/RunOnAps.h"
#include "interfaces/FabricMmioAllocator.h"
#include "interfaces/PcdAccess.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/RegionServices.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoMpServices = 0x30791093;
constexpr UINT32 kFatalNoProtocols = 0x30791098;

// The PCC signature; the subspace number goes in its low byte, and this service writes subspace 0.
constexpr UINT32 kPccSignature = 0x50434300;

// The window reserved from the fabric: 1 MiB, 1 MiB aligned, from the target of bit 15, with
// attribute bits 0, 1 and 7.
constexpr UINT64 kMmioLength = 0x100000;
constexpr UINT64 kMmioAlignmentMask = 0xFFFFF;
constexpr FABRIC_MMIO_TARGET kMmioTarget = 0x8000;
constexpr FABRIC_MMIO_ATTRIBUTES kMmioAttributes = 0x83;

constexpr UINT8 kHeapPersistence = 4;

// The MTRR pair covers the 64 KiB range that holds the region base.
constexpr UINT64 kUncachedRangeBytes = 0x10000;

// The subspace's doorbell is a 64-bit register in system memory; only its low 32 bits are written.
constexpr UINT8 kDoorbellBitWidth = 64;
constexpr UINT64 kDoorbellPreserve = 0xFFFFFFFF00000000ULL;
constexpr UINT64 kDoorbellWrite = 1;

const CCX_PCCT_GENERIC_SUBSPACE kSubspaceTemplate = {
    CCX_PCCT_GENERIC_SUBSPACE_TYPE, sizeof(CCX_PCCT_GENERIC_SUBSPACE), {0, 0, 0, 0, 0, 0}, 0, 0, {}, 0, 0, 0, 0, 0};

// What every processor writes: one variable MTRR pair. Packed as the processors read it.
#pragma pack(push, 1)
struct PCC_MTRR_ARGUMENT {
  UINT32 Pair;
  UINT64 Base;
  UINT64 Mask;
};
#pragma pack(pop)

VOID EFIAPI ProgramPccMtrr(VOID *Argument) {
  const PCC_MTRR_ARGUMENT *Mtrr = static_cast<const PCC_MTRR_ARGUMENT *>(Argument);
  AsmWriteMsr64(Msr::VariableMtrrBase(Mtrr->Pair), Mtrr->Base);
  AsmWriteMsr64(Msr::VariableMtrrMask(Mtrr->Pair), Mtrr->Mask);
  WriteBackInvalidateCaches();
}

// The first pair whose valid bit is clear on this processor, or VariableMtrrCount when all are used.
UINT32 FindFreeVariableMtrr() {
  for (UINT32 Pair = 0; Pair < Msr::VariableMtrrCount; Pair++) {
    if (!Msr::MtrrPhysMask::Valid::IsSet(AsmReadMsr64(Msr::VariableMtrrMask(Pair)))) {
      return Pair;
    }
  }
  return Msr::VariableMtrrCount;
}

// Publishes the region base for other drivers. A handle already taken (an earlier call) keeps
// the first region's base.
VOID PublishRegionBase(UINT64 RegionBase) {
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = sizeof(UINT64);
  Request.Handle = HEAP_HANDLE_PCC_REGION;
  Request.Persistence = kHeapPersistence;
  if (HeapAllocateBuffer(&Request) == HEAP_SUCCESS) {
    *reinterpret_cast<UINT64 *>(static_cast<UINTN>(Request.Buffer)) = RegionBase;
  }
}

}  // namespace

const QORVEX_CCX_PCCT_SERVICES_PROTOCOL gCcxPcctServicesProtocol = {
    QORVEX_CCX_PCCT_SERVICES_REVISION,
    CcxRellAddGenCommSubspaceStruct,
};

PCC_MTRR_PAIR PccMtrrPair(UINT64 RegionBase, UINT32 AddressBits) {
  const UINT64 AddressMask = AddressBits >= 64 ? ~0ULL : (1ULL << AddressBits) - 1;
  const UINT64 Valid = Msr::MtrrPhysMask::Valid::Set(0, 1);
  PCC_MTRR_PAIR Pair;
  Pair.Base = (RegionBase & AddressMask) | Msr::MtrrPhysBase::TypeUncacheable;
  Pair.Mask = (AddressMask & ~(kUncachedRangeBytes - 1)) | Valid;
  return Pair;
}

EFI_STATUS EFIAPI CcxRellAddGenCommSubspaceStruct(QORVEX_CCX_PCCT_SERVICES_PROTOCOL *This, VOID *Reserved,
                                                  CONST CCX_PCC_SUBSPACE_INPUT *Input, UINT8 **TableCursor) {
  PrintDebugMessage(TRACE_GENERAL, "  CcxRellAddGenCommSubspaceStruct Entry\n");
  // Nothing can be written without the parameters and a place to write to.
  if (Input == nullptr || TableCursor == nullptr || *TableCursor == nullptr) {
    PrintDebugMessage(TRACE_GENERAL, "  Returning error, invalid parameter\n");
    return EFI_INVALID_PARAMETER;
  }

  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *Mmio = nullptr;
  QORVEX_REGION_SERVICES_PROTOCOL *Regions = nullptr;
  EFI_STATUS Status = gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Mp));
  if (EFI_ERROR(Status)) {
    FatalStop(kFatalNoMpServices);
  }
  Status = LargerStatus(Status, gBS->LocateProtocol(&gQorvexFabricMmioAllocatorProtocolGuid, nullptr,
                                                    reinterpret_cast<VOID **>(&Mmio)));
  Status = LargerStatus(Status, gBS->LocateProtocol(&gQorvexRegionServicesProtocolGuid, nullptr,
                                                    reinterpret_cast<VOID **>(&Regions)));
  if (EFI_ERROR(Status)) {
    FatalStop(kFatalNoProtocols);
    PrintDebugMessage(TRACE_GENERAL, "  Returning error, protocols not found\n");
    return Status;
  }

  CCX_PCCT_GENERIC_SUBSPACE *Subspace = reinterpret_cast<CCX_PCCT_GENERIC_SUBSPACE *>(*TableCursor);
  CopyMemory(Subspace, &kSubspaceTemplate, sizeof(kSubspaceTemplate));

  EFI_PHYSICAL_ADDRESS Allocated = 0;
  if (EFI_ERROR(gBS->AllocatePages(AllocateAnyPages, EfiACPIMemoryNVS, kPccRegionPages, &Allocated))) {
    PrintDebugMessage(TRACE_GENERAL, "  Returning error, allocate page failed\n");
    return EFI_UNSUPPORTED;
  }
  const UINT64 RegionBase = PccRegionBase(Allocated);
  PublishRegionBase(RegionBase);

  const UINT32 Pair = FindFreeVariableMtrr();
  if (Pair == Msr::VariableMtrrCount) {
    PrintDebugMessage(TRACE_GENERAL, "  Returning unsupported, no var mtrr found\n");
    return EFI_UNSUPPORTED;
  }
  UINT32 Eax = 0;
  Cpuid(CpuidLeaf::AddressSizes, &Eax, nullptr, nullptr, nullptr);
  const PCC_MTRR_PAIR Values =
      PccMtrrPair(RegionBase, static_cast<UINT32>(CpuidLeaf::AddressSizeFields::EaxPhysicalAddressBits::Get(Eax)));
  PCC_MTRR_ARGUMENT Argument = {Pair, Values.Base, Values.Mask};
  // Every processor must see the region uncacheable; the BSP follows the APs so that it changes
  // its own type last, once no AP still caches the range. APs that could not be started would
  // still cache it: the subspace is then not handed out.
  const EFI_STATUS ApStatus = AllApsStartFailure(Mp->StartupAllAPs(
      Mp, ProgramPccMtrr, GetPcdProtocol()->GetBool(PcdCcxRunApsSingleThreaded), nullptr, 0, &Argument, nullptr));
  ProgramPccMtrr(&Argument);
  if (EFI_ERROR(ApStatus)) {
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER, "  Returning error, var mtrr not set on the APs: %r\n", ApStatus);
    return EFI_DEVICE_ERROR;
  }

  UINT64 MmioBase = 0;
  UINT64 MmioLength = kMmioLength;
  FABRIC_MMIO_ATTRIBUTES Attributes = kMmioAttributes;
  if (EFI_ERROR(Mmio->AllocateMmio(Mmio, &MmioBase, &MmioLength, kMmioAlignmentMask, kMmioTarget, &Attributes))) {
    PrintDebugMessage(TRACE_GENERAL, "  Returning error, allocate mmio\n");
    return EFI_UNSUPPORTED;
  }

  VOID *Region = reinterpret_cast<VOID *>(static_cast<UINTN>(RegionBase));
  ZeroMemory(Region, kPccRegionLength);
  *static_cast<UINT32 *>(Region) = kPccSignature;
  Regions->RegisterRegion(RegionBase, kPccRegionLength, 0);

  Subspace->BaseAddress = RegionBase;
  Subspace->MemoryRangeLength = kPccRegionLength;
  Subspace->DoorbellRegister.AddressSpaceId = EFI_ACPI_ADDRESS_SPACE_SYSTEM_MEMORY;
  Subspace->DoorbellRegister.RegisterBitWidth = kDoorbellBitWidth;
  Subspace->DoorbellRegister.RegisterBitOffset = 0;
  Subspace->DoorbellRegister.AccessSize = EFI_ACPI_ACCESS_SIZE_QWORD;
  Subspace->DoorbellRegister.Address = Input->DoorbellAddress;
  Subspace->DoorbellPreserve = kDoorbellPreserve;
  Subspace->DoorbellWrite = kDoorbellWrite;
  Subspace->NominalLatency = Input->NominalLatency;
  Subspace->MaximumPeriodicAccessRate = Input->MaximumPeriodicAccessRate;
  Subspace->MinimumRequestTurnaroundTime = Input->MinimumRequestTurnaroundTime;
  *TableCursor += sizeof(CCX_PCCT_GENERIC_SUBSPACE);
  return EFI_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
