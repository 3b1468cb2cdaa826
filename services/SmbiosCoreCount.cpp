// The core counts of one socket for the processor record. The SOC service knows how many cores
// each complex die was built with and which are disabled; the fabric topology knows how many each
// complex runs. When the topology has nothing for the socket, the SOC service's package-wide
// counts stand in, and without those the processor's own thread count divided by threads per core.
#include "services/SmbiosServices.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "services/CoreRegisters.h"
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoCoreCount = 0x307E0289;
constexpr UINT32 kFatalMoreEnabledThanCounted = 0x307E0291;

UINT32 BitsSet(UINT32 Value) {
  UINT32 Count = 0;
  for (; Value != 0; Value &= Value - 1) {
    Count++;
  }
  return Count;
}

// What GetDieCoreInfo reports for the die being walked.
struct DIE_CORES {
  UINT32 PresentMask;
  UINT32 DisableMask;
  UINT32 CoreDisableMasks[SOC_MAX_COMPLEX_DIES_PER_DIE];
  UINT32 CoresPerComplexDie;
};

// Walks the socket's complexes, adding up both counts. The walk stops at the first die the SOC
// service has nothing for. A count the topology service can't give leaves cores out of the
// enabled count: the walk then answers an error, after its message, instead of a short count. A
// count lost in another socket's part of the walk does not touch this socket's counts.
EFI_STATUS WalkComplexes(UINTN Socket, QORVEX_SOC_SERVICES_PROTOCOL *Soc,
                         QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Topology, SMBIOS_CORE_COUNTS &Counts) {
  TOPOLOGY_POSITION At;
  DIE_CORES Die = {};
  EFI_STATUS Result = EFI_SUCCESS;
  for (;;) {
    const INTN Step = TopologyNextComplexPosition(&At, Topology);
    if (Step > StepComplex) {
      // A count lost after the socket's last complex leaves its counts whole.
      if (TopologyWalkCoveredSocket(At, Socket)) {
        return Result;
      }
      const EFI_STATUS WalkStatus = TopologyWalkResult("GetProcessorInfo", At);
      return EFI_ERROR(Result) ? Result : WalkStatus;
    }
    if (At.Socket != Socket) {
      continue;
    }
    if (Step <= StepDie) {
      UINT32 ArrayBytes = sizeof(Die.CoreDisableMasks);
      UINT32 ArrayEntries = SOC_MAX_COMPLEX_DIES_PER_DIE;
      BOOLEAN Smt = TRUE;
      Die = {};
      if (Soc == nullptr ||
          Soc->GetDieCoreInfo(Soc, static_cast<UINT32>(At.Socket * SOC_DIES_PER_SOCKET + At.Die), &Die.PresentMask,
                              &Die.DisableMask, Die.CoreDisableMasks, &ArrayBytes, &Die.CoresPerComplexDie, &Smt,
                              &ArrayEntries) != EFI_SUCCESS) {
        return Result;
      }
      if (!Smt) {
        Counts.Multithreading = FALSE;
      }
    }
    // A complex die beyond the masks the SOC service describes counts as absent.
    const UINTN ComplexDie = At.ComplexDie;
    if (Step <= StepComplexDie && ComplexDie < SOC_MAX_COMPLEX_DIES_PER_DIE &&
        (Die.PresentMask >> ComplexDie & 1) != 0 && (Die.DisableMask >> ComplexDie & 1) == 0) {
      Counts.CoreCount = static_cast<UINT16>(Counts.CoreCount + Die.CoresPerComplexDie -
                                             BitsSet(Die.CoreDisableMasks[ComplexDie]));
    }
    UINTN Cores = 0;
    const EFI_STATUS Status = Topology->GetNumberOfCores(Topology, At.Socket, At.Die, At.ComplexDie, At.Complex, &Cores);
    if (Status == EFI_SUCCESS) {
      Counts.CoresEnabled = static_cast<UINT16>(Counts.CoresEnabled + Cores);
    } else {
      FatalStop(kFatalNoCoreCount);
      PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER,
                        "  ERROR: GetProcessorInfo: fabric topology core count failed for socket %d, die %d, complex "
                        "die %d, complex %d: %r\n",
                        At.Socket, At.Die, At.ComplexDie, At.Complex, Status);
      Result = EFI_DEVICE_ERROR;
    }
    if (Counts.CoresEnabled > Counts.CoreCount) {
      FatalStop(kFatalMoreEnabledThanCounted);
    }
  }
}

VOID PackageFallback(QORVEX_SOC_SERVICES_PROTOCOL *Soc, SMBIOS_CORE_COUNTS &Counts) {
  UINT32 PresentMask = 0;
  UINT32 CoreDisableMask = 0;
  UINT32 CoresPerComplexDie = 0;
  BOOLEAN Smt = TRUE;
  if (Soc != nullptr && Soc->GetCoreCountInfo(Soc, &PresentMask, &CoreDisableMask, &CoresPerComplexDie, &Smt) ==
                            EFI_SUCCESS) {
    Counts.CoreCount = static_cast<UINT16>((CoresPerComplexDie - BitsSet(CoreDisableMask)) * BitsSet(PresentMask));
    Counts.CoresEnabled = Counts.CoreCount;
    if (!Smt) {
      Counts.Multithreading = FALSE;
    }
    return;
  }
  UINT32 Ecx = 0;
  Cpuid(CpuidLeaf::AddressSizes, nullptr, nullptr, &Ecx, nullptr);
  const UINT32 Threads =
      static_cast<UINT32>(CpuidLeaf::AddressSizeFields::EcxNumberOfThreadsMinusOne::Get(Ecx)) + 1;
  // A part that reports no threads per core is taken as one thread per core.
  UINT32 ThreadsPerCore = GetThreadsPerCore();
  if (ThreadsPerCore == 0) {
    ThreadsPerCore = 1;
  }
  const UINT32 Cores = Threads / ThreadsPerCore;
  Counts.CoreCount = static_cast<UINT16>(Cores);
  Counts.CoresEnabled = static_cast<UINT16>(Cores);
  if (Cores == Threads) {
    Counts.Multithreading = FALSE;
  }
}

}  // namespace

SMBIOS_CORE_COUNTS SmbiosCountCores(UINTN Socket, QORVEX_SOC_SERVICES_PROTOCOL *Soc) {
  SMBIOS_CORE_COUNTS Counts = {0, 0, TRUE, EFI_SUCCESS};
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Topology = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gQorvexFabricTopologyServicesProtocolGuid, nullptr,
                                     reinterpret_cast<VOID **>(&Topology)))) {
    Counts.Status = WalkComplexes(Socket, Soc, Topology, Counts);
  }
  if (Counts.CoreCount == 0) {
    PackageFallback(Soc, Counts);
  }
  return Counts;
}

}  // namespace CCX_IMAGE_NAMESPACE
