#include "driver/RunOnAps.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "interfaces/CoreTopologyServices.h"
#include "interfaces/PcdAccess.h"
#include "interfaces/QorvexGuids.h"
#include "services/TopologyWalk.h"
#include "uefi/StandardGuids.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNotBsp = 0xB0096;
constexpr UINT32 kFatalNoMpServices = 0xB0103;
constexpr UINT32 kFatalNoSocketCount = 0xB0123;
constexpr UINT32 kFatalProcessorCountMismatch = 0xB0200;
constexpr UINT32 kFatalUnknownLevel = 0xB0224;

// Slots of the fallback path's cached counts, in the order of the topology.
enum FALLBACK_COUNT : UINTN {
  kSockets,
  kDiesPerSocket,
  kComplexDiesPerDie,
  kComplexesPerComplexDie,
  kCoresPerComplex,
  kThreadsPerCore,
  kFallbackCountSlots
};
static_assert(sizeof(MP_WORK_STATE::FallbackCounts) / sizeof(UINTN) == kFallbackCountSlots,
              "one cached count per level");

struct TOPOLOGY_RUN {
  EFI_MP_SERVICES_PROTOCOL *Mp;
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Topology;
  UINT32 Level;
  EFI_AP_PROCEDURE Procedure;
  VOID *Argument;
  // Socket, die, complex die, complex and core of the position being visited.
  UINTN Index[DepthThread];
  // The MP services number of the position's first thread: threads are numbered in walk order.
  UINTN Processor;
  EFI_STATUS Result;
  BOOLEAN EveryUnitReached;
};

EFI_STATUS CountAt(const TOPOLOGY_RUN &Run, UINTN Depth, UINTN *Count) {
  return TopologyCountAt(Run.Topology, Run.Index, Depth, Count);
}

// A core's first thread stands for the unit of the level when the core is the first of that unit:
// every index from the unit's depth down to the core is 0. Level 1 takes every core.
BOOLEAN FirstCoreOfUnit(const TOPOLOGY_RUN &Run) {
  for (UINTN Depth = DepthThread + 1 - Run.Level; Depth <= DepthCore; Depth++) {
    if (Run.Index[Depth] != 0) {
      return FALSE;
    }
  }
  return TRUE;
}

VOID VisitCore(TOPOLOGY_RUN &Run) {
  if (FirstCoreOfUnit(Run)) {
    const EFI_STATUS Started =
        Run.Mp->StartupThisAP(Run.Mp, Run.Procedure, Run.Processor, nullptr, 0, Run.Argument, nullptr);
    Run.Result = LargerStatus(Run.Result, Started);
    // Processor 0, the first position, is the BSP: its refusal leaves nothing out.
    if (EFI_ERROR(Started) && Run.Processor != 0) {
      Run.EveryUnitReached = FALSE;
    }
  }
  UINTN Threads = 0;
  const EFI_STATUS Status = CountAt(Run, DepthThread, &Threads);
  Run.Result = LargerStatus(Run.Result, Status);
  if (Status == EFI_SUCCESS && Threads != 0) {
    Run.Processor += Threads;
  }
  if (Status != EFI_SUCCESS) {
    // The next units' processor numbers can't be known any more.
    Run.EveryUnitReached = FALSE;
  }
}

// Visits every instance of the level at Depth inside the instance the indices above it name. A
// count that can't be had is recorded and its subtree skipped; the walk goes on with the next.
VOID WalkDepth(TOPOLOGY_RUN &Run, UINTN Depth) {
  UINTN Count = 0;
  const EFI_STATUS Status = CountAt(Run, Depth, &Count);
  Run.Result = LargerStatus(Run.Result, Status);
  if (Status != EFI_SUCCESS) {
    Run.EveryUnitReached = FALSE;
    return;
  }
  for (UINTN Instance = 0; Instance < Count; Instance++) {
    Run.Index[Depth] = Instance;
    if (Depth == DepthCore) {
      VisitCore(Run);
    } else {
      WalkDepth(Run, Depth + 1);
    }
  }
}

EFI_STATUS RunAlongTopology(TOPOLOGY_RUN &Run) {
  if (Run.Level > CCX_RUN_PER_SOCKET) {
    FatalStop(kFatalUnknownLevel);
    Run.EveryUnitReached = FALSE;
    return EFI_INVALID_PARAMETER;
  }
  UINTN Sockets = 0;
  const EFI_STATUS Status = Run.Topology->GetNumberOfSockets(Run.Topology, &Sockets);
  if (Status != EFI_SUCCESS) {
    FatalStop(kFatalNoSocketCount);
    Run.EveryUnitReached = FALSE;
    return Status;
  }
  for (UINTN Socket = 0; Socket < Sockets; Socket++) {
    Run.Index[DepthSocket] = Socket;
    WalkDepth(Run, DepthDie);
  }
  return Run.Result;
}

// Takes the counts of socket 0, die 0 for the whole system. A system service or core topology
// service that is missing, or a socket count of 0, leaves nothing to divide the processors by:
// the counts are then refused as a failed query would be, and the caller starts nothing.
EFI_STATUS FillFallbackCounts() {
  UINTN *Counts = gImage.MpWork.FallbackCounts;
  BOOLEAN AnyMissing = FALSE;
  for (UINTN Slot = 0; Slot < kFallbackCountSlots; Slot++) {
    AnyMissing = AnyMissing || Counts[Slot] == 0;
  }
  if (!AnyMissing) {
    return EFI_SUCCESS;
  }

  QORVEX_FABRIC_SYSTEM_SERVICES_PROTOCOL *System = nullptr;
  EFI_STATUS Status =
      gBS->LocateProtocol(&gQorvexFabricSystemServicesProtocolGuid, nullptr, reinterpret_cast<VOID **>(&System));
  if (EFI_ERROR(Status)) {
    return Status;
  }
  QORVEX_CORE_TOPOLOGY_SERVICES_V2_PROTOCOL *CoreTopologyV2 = nullptr;
  if (!EFI_ERROR(gBS->LocateProtocol(&gQorvexCoreTopologyServicesV2ProtocolGuid, nullptr,
                                     reinterpret_cast<VOID **>(&CoreTopologyV2)))) {
    CoreTopologyV2->GetCoreTopologyOnDie(CoreTopologyV2, 0, 0, &Counts[kComplexDiesPerDie],
                                         &Counts[kComplexesPerComplexDie], &Counts[kCoresPerComplex],
                                         &Counts[kThreadsPerCore]);
  } else {
    Counts[kComplexDiesPerDie] = 1;
    QORVEX_CORE_TOPOLOGY_SERVICES_PROTOCOL *CoreTopology = nullptr;
    Status = gBS->LocateProtocol(&gQorvexCoreTopologyServicesProtocolGuid, nullptr,
                                 reinterpret_cast<VOID **>(&CoreTopology));
    if (EFI_ERROR(Status)) {
      return Status;
    }
    CoreTopology->GetCoreTopologyOnDie(CoreTopology, 0, 0, &Counts[kComplexesPerComplexDie], &Counts[kCoresPerComplex],
                                       &Counts[kThreadsPerCore]);
  }
  UINTN TotalDies = 0;
  System->GetSystemInfo(System, &Counts[kSockets], &TotalDies, nullptr, nullptr, nullptr);
  if (Counts[kSockets] == 0) {
    return EFI_DEVICE_ERROR;
  }
  Counts[kDiesPerSocket] = TotalDies / Counts[kSockets];
  return EFI_SUCCESS;
}

// The processors of one unit of the level, counted from the cached counts; 0 for an unknown level.
UINTN FallbackStride(UINT32 Level) {
  const UINTN *Counts = gImage.MpWork.FallbackCounts;
  UINTN Stride = 1;
  for (UINT32 Unit = CCX_RUN_PER_CORE; Unit <= CCX_RUN_PER_SOCKET; Unit++) {
    // A core holds threads, a complex cores, and so on up to a socket, which holds dies.
    Stride *= Counts[kThreadsPerCore + 1 - Unit];
    if (Unit == Level) {
      return Stride;
    }
  }
  return 0;
}

CCX_RUN_RESULT RunByStride(EFI_MP_SERVICES_PROTOCOL *Mp, UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument) {
  EFI_STATUS Status = FillFallbackCounts();
  if (EFI_ERROR(Status)) {
    return {Status, FALSE};
  }
  UINTN Processors = 0;
  UINTN Enabled = 0;
  Mp->GetNumberOfProcessors(Mp, &Processors, &Enabled);
  const UINTN *Counts = gImage.MpWork.FallbackCounts;
  UINTN Expected = 1;
  for (UINTN Slot = 0; Slot < kFallbackCountSlots; Slot++) {
    Expected *= Counts[Slot];
  }
  // Counts that don't multiply up to the processors don't say where the units begin.
  CCX_RUN_RESULT Result = {EFI_SUCCESS, Processors == Expected};
  if (Processors != Expected) {
    FatalStop(kFatalProcessorCountMismatch);
  }
  if (Level < CCX_RUN_PER_CORE || Level > CCX_RUN_PER_SOCKET) {
    FatalStop(kFatalUnknownLevel);
    return {EFI_INVALID_PARAMETER, FALSE};
  }
  // A count of 0 below the level would make every step land on processor 0 again, for ever.
  const UINTN Stride = FallbackStride(Level);
  if (Stride == 0) {
    return {EFI_DEVICE_ERROR, FALSE};
  }
  for (UINTN Processor = Stride; Processor < Processors; Processor += Stride) {
    const EFI_STATUS Started = Mp->StartupThisAP(Mp, Procedure, Processor, nullptr, 0, Argument, nullptr);
    Result.Status = LargerStatus(Result.Status, Started);
    if (EFI_ERROR(Started)) {
      Result.EveryUnitReached = FALSE;
    }
    if (Processors - Processor <= Stride) {
      break;
    }
  }
  return Result;
}

}  // namespace

EFI_STATUS CcxRunFunctionOnAps(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument) {
  return CcxRunFunctionOnUnits(Level, Procedure, Argument).Status;
}

CCX_RUN_RESULT CcxRunFunctionOnUnits(UINT32 Level, EFI_AP_PROCEDURE Procedure, VOID *Argument) {
  if (!Msr::ApicBase::Bsp::IsSet(AsmReadMsr64(Msr::ApicBase::Number))) {
    FatalStop(kFatalNotBsp);
    return {EFI_UNSUPPORTED, FALSE};
  }
  if (gImage.MpWork.RunOnApsMpServices == nullptr) {
    const EFI_STATUS Status = gBS->LocateProtocol(&gEfiMpServiceProtocolGuid, nullptr,
                                                  reinterpret_cast<VOID **>(&gImage.MpWork.RunOnApsMpServices));
    if (EFI_ERROR(Status)) {
      FatalStop(kFatalNoMpServices);
      PrintDebugMessage(TRACE_CPU, "  CcxRunFunctionOnAps error, cannot locate gEfiMpServiceProtocolGuid\n");
      return {Status, FALSE};
    }
  }
  EFI_MP_SERVICES_PROTOCOL *Mp = gImage.MpWork.RunOnApsMpServices;
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Topology = nullptr;
  if (EFI_ERROR(gBS->LocateProtocol(&gQorvexFabricTopologyServicesProtocolGuid, nullptr,
                                    reinterpret_cast<VOID **>(&Topology)))) {
    Topology = nullptr;
  }

  if (Level == CCX_RUN_ALL_APS) {
    const EFI_STATUS Status = Mp->StartupAllAPs(Mp, Procedure, GetPcdProtocol()->GetBool(PcdCcxRunApsSingleThreaded),
                                                nullptr, 0, Argument, nullptr);
    return {Status, !EFI_ERROR(AllApsStartFailure(Status))};
  }
  if (Topology == nullptr) {
    return RunByStride(Mp, Level, Procedure, Argument);
  }
  TOPOLOGY_RUN Run = {};
  Run.Mp = Mp;
  Run.Topology = Topology;
  Run.Level = Level;
  Run.Procedure = Procedure;
  Run.Argument = Argument;
  Run.Result = EFI_SUCCESS;
  Run.EveryUnitReached = TRUE;
  const EFI_STATUS Status = RunAlongTopology(Run);
  return {Status, Run.EveryUnitReached};
}

}  // namespace CCX_IMAGE_NAMESPACE
