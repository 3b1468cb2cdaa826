// The mutable state of one loaded driver image, in one place. Firmware loads the image once per
// boot, so every field starts at its load-time value; ImageLoad() puts them all back, which is
// what a fresh load does. No other driver file keeps a mutable global.
#ifndef DRIVER_IMAGE_STATE_H_
#define DRIVER_IMAGE_STATE_H_

#include "arch/ImageNamespace.h"
#include "debug/TestPointConfig.h"
#include "interfaces/FabricNumaServices.h"
#include "interfaces/FabricSystemServices.h"
#include "interfaces/FabricTopologyServices.h"
#include "services/CoreRegisters.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/S3SaveTable.h"
#include "services/SmmAccess2.h"
#include "uefi/MpServices.h"
#include "uefi/Pcd.h"
#include "uefi/SystemTable.h"

namespace CCX_IMAGE_NAMESPACE {

// Kept by the library start-up and used by every part of the driver.
struct LIBRARY_STATE {
  EFI_SYSTEM_TABLE *SystemTable = nullptr;
  EFI_BOOT_SERVICES *BootServices = nullptr;
  EFI_RUNTIME_SERVICES *RuntimeServices = nullptr;
  PCD_PROTOCOL *Pcd = nullptr;
  EFI_PCD_PROTOCOL *PiPcd = nullptr;
  TEST_POINT_CONFIG TestPointConfig = {};
  UINT32 HcuMailboxOffset = 0;
  VOID *HobList = nullptr;
};

// Set by the initialization sequence.
struct INIT_STATE {
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *NumaServices = nullptr;
  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *SystemServices = nullptr;
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *TopologyServices = nullptr;
  UINT8 SnpCapable = 0;
  UINT64 RmpBase = 0;
  UINT64 RmpEnd = 0;
  EFI_EVENT DownCoreEvent = nullptr;
  VOID *DownCoreRegistration = nullptr;
  EFI_EVENT MpEvent = nullptr;
  VOID *MpRegistration = nullptr;
  EFI_EVENT OcEvent = nullptr;
  VOID *OcRegistration = nullptr;
  EFI_EVENT ReadyToBootEvent = nullptr;
  UINT64 CompletionWord = 0;
};

// The boot event handlers' own state.
struct BOOT_EVENT_STATE {
  EFI_EVENT MpWaitEvent = nullptr;
  VOID *MpWaitRegistration = nullptr;
  UINT64 OcCompletionWord = 0;
};

// One entry of the list of SNP MSRs that the APs take over from the BSP.
#pragma pack(push, 1)
struct CCX_SNP_MSR_ENTRY {
  UINT32 Msr;
  UINT64 Value;
  UINT64 Mask;
};
#pragma pack(pop)
static_assert(sizeof(CCX_SNP_MSR_ENTRY) == 20, "an SNP MSR entry is 20 bytes");

// Per-core work through MP services.
struct MP_WORK_STATE {
  CCX_SNP_MSR_ENTRY CcxSnpMsrList[3] = {
      {0xC0010132, 0, 0xFFFFFFFFFFFFFFFFULL},  // RMP base
      {0xC0010133, 0, 0xFFFFFFFFFFFFFFFFULL},  // RMP end
      {0xC0010010, 0, 0xFFFFFFFFFFFFFFFFULL},  // SYSCFG
  };
  EFI_MP_SERVICES_PROTOCOL *RunOnApsMpServices = nullptr;
  // The configuration record the BSP resolved for the APs it starts to store PPINs; null while no
  // such start is under way.
  PCD_PROTOCOL *ApPcd = nullptr;
  // Counts of the fallback path: sockets, dies per socket, complex dies per die, complexes per
  // complex die, cores per complex, threads per core.
  UINTN FallbackCounts[6] = {0, 0, 0, 0, 0, 0};
};

// The S3 save library's module state.
struct S3_LIBRARY_STATE {
  QorvexS3LibPrivateData *PrivateData = nullptr;
  EFI_EVENT ReadyToLockEvent = nullptr;
  VOID *ReadyToLockRegistration = nullptr;
  EFI_EVENT CloseTableEvent = nullptr;
  // The size this driver gave the table when it created it; 0 when another driver did.
  UINT64 TableSize = 0;
};

// The shared heap: this driver's own published record (its list head changes as buffers are
// added) and the list in use, which is either that record's or the one another driver published.
struct HEAP_STATE {
  QORVEX_HEAP_PROTOCOL Protocol = {QORVEX_HEAP_PROTOCOL_REVISION, {nullptr, nullptr}};
  LIST_ENTRY *BufferList = nullptr;
};

// SMRAM access: the installed protocol record, whose lock and open states change, and the copy of
// the SMRAM map with the region states.
struct SMM_ACCESS_STATE {
  EFI_SMM_ACCESS2_PROTOCOL Protocol = {CcxSmmOpen2, CcxSmmClose2, CcxSmmLock2, CcxSmmGetCapabilities2, FALSE, FALSE};
  EFI_SMRAM_DESCRIPTOR *SmramMap = nullptr;
  UINT64 RegionCount = 0;
  EFI_MP_SERVICES_PROTOCOL *MpServices = nullptr;
  BOOLEAN LockSetsHwcr = FALSE;
  // Whether the installer wrote the SMM range on every core. Where it did not, the range checks
  // are never turned on over a range that was never set: only the BSP takes the later steps.
  BOOLEAN RangeOnEveryCore = FALSE;
  EFI_HANDLE Handle = nullptr;
};

// The PCI segment table of the register-access path: built on first use from the processor's
// configuration-space base register, and only read after that.
struct PCI_SEGMENT_STATE {
  PCI_SEGMENT_ENTRY Table[kPciSegmentTableSize] = {
      {0, 0, 0, 255}, {1, 0, 0, 255}, {2, 0, 0, 255}, {3, 0, 0, 255},
      {4, 0, 0, 255}, {5, 0, 0, 255}, {6, 0, 0, 255}, {7, 0, 0, 255},
  };
  UINTN Count = 0;
};

struct CCX_IMAGE_STATE {
  LIBRARY_STATE Library;
  INIT_STATE Init;
  BOOT_EVENT_STATE BootEvents;
  MP_WORK_STATE MpWork;
  S3_LIBRARY_STATE S3;
  PCI_SEGMENT_STATE PciSegments;
  HEAP_STATE Heap;
  SMM_ACCESS_STATE SmmAccess;
};

extern CCX_IMAGE_STATE gImage;

// Puts every field of the image state back to its load-time value.
VOID ImageLoad();

}  // namespace CCX_IMAGE_NAMESPACE

// The three service-table pointers under their customary names.
#define gST (CCX_IMAGE_NAMESPACE::gImage.Library.SystemTable)
#define gBS (CCX_IMAGE_NAMESPACE::gImage.Library.BootServices)
#define gRT (CCX_IMAGE_NAMESPACE::gImage.Library.RuntimeServices)

#endif  // DRIVER_IMAGE_STATE_H_
