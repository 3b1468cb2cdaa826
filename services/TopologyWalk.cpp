// One odometer walk serves all five depths: a step at a depth either moves that depth's index, or
// carries into the step one level up, exactly as a deeper step would carry into it. The depth
// entry points only differ in how many index variables they hand over; the walks kept in a
// position record also keep the status of a count that could not be had.
#include "services/TopologyWalk.h"

#include "debug/DebugPrint.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// The caller's index variables, socket first, down to the depth of the step, and where to keep
// the status of a failed count (nowhere for the plain entry points).
struct TOPOLOGY_CURSOR {
  UINTN *Index[DepthCount];
  UINTN Depth;
  EFI_STATUS *QueryStatus;
  UINTN *QueryDepth;
};

VOID KeepQueryStatus(const TOPOLOGY_CURSOR &Cursor, EFI_STATUS Status, UINTN Depth) {
  if (Cursor.QueryStatus != nullptr) {
    *Cursor.QueryStatus = Status;
  }
  if (Cursor.QueryDepth != nullptr) {
    *Cursor.QueryDepth = Depth;
  }
}

// The count at Depth for the indices the cursor's variables hold.
EFI_STATUS CountAt(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor, UINTN Depth,
                   UINTN *Count) {
  UINTN Index[DepthCount] = {};
  for (UINTN Above = 0; Above < Depth && Above < DepthCount; Above++) Index[Above] = *Cursor.Index[Above];
  return TopologyCountAt(Service, Index, Depth, Count);
}

// Moves the index at Depth on by one, carrying into the level above when it runs past its count.
// Nothing changes when the step ends the walk. The socket level has nothing above it to carry
// into, so running past the last socket ends the walk.
INTN Advance(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor, UINTN Depth) {
  UINTN Count = 0;
  const EFI_STATUS Status = CountAt(Service, Cursor, Depth, &Count);
  if (EFI_ERROR(Status)) {
    KeepQueryStatus(Cursor, Status, Depth);
    return StepEnd;
  }
  UINTN *Deepest = Cursor.Index[Depth];
  const UINTN Next = *Deepest + 1;
  if (Next < Count) {
    *Deepest = Next;
    return static_cast<INTN>(Depth);
  }
  // An index already past its count names no position; the walk cannot go on from there.
  if (Next > Count || Depth == DepthSocket) {
    return StepEnd;
  }
  const INTN Carried = Advance(Service, Cursor, Depth - 1);
  if (Carried == StepEnd) {
    return StepEnd;
  }
  *Deepest = 0;
  return Carried;
}

// A full step at the cursor's depth. The first position of a walk is reported without asking the
// service, but not without a record: a walk with nothing to ask has no positions at all.
INTN Step(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor) {
  for (UINTN Depth = 0; Depth <= Cursor.Depth; Depth++) {
    if (Cursor.Index[Depth] == nullptr) {
      return StepEnd;
    }
  }
  if (Service == nullptr) {
    KeepQueryStatus(Cursor, EFI_INVALID_PARAMETER, DepthSocket);
    return StepEnd;
  }
  bool NotStarted = false;
  for (UINTN Depth = 0; Depth <= Cursor.Depth; Depth++) {
    NotStarted = NotStarted || *Cursor.Index[Depth] == kTopologyNotStarted;
  }
  if (NotStarted) {
    for (UINTN Depth = 0; Depth <= Cursor.Depth; Depth++) {
      *Cursor.Index[Depth] = 0;
    }
    return StepSocket;
  }
  return Advance(Service, Cursor, Cursor.Depth);
}

}  // namespace

EFI_STATUS TopologyCountAt(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const UINTN *Index, UINTN Depth,
                           UINTN *Count) {
  if (Service == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  switch (Depth) {
    case DepthSocket:
      return Service->GetNumberOfSockets(Service, Count);
    case DepthDie:
      return Service->GetNumberOfDies(Service, Index[DepthSocket], Count);
    case DepthComplexDie:
      return Service->GetNumberOfComplexDies(Service, Index[DepthSocket], Index[DepthDie], Count);
    case DepthComplex:
      return Service->GetNumberOfComplexes(Service, Index[DepthSocket], Index[DepthDie], Index[DepthComplexDie],
                                           Count);
    case DepthCore:
      return Service->GetNumberOfCores(Service, Index[DepthSocket], Index[DepthDie], Index[DepthComplexDie],
                                       Index[DepthComplex], Count);
    case DepthThread:
      return Service->GetNumberOfThreads(Service, Index[DepthSocket], Index[DepthDie], Index[DepthComplexDie],
                                         Index[DepthComplex], Index[DepthCore], Count);
    default:
      return EFI_INVALID_PARAMETER;
  }
}

INTN TopologyNextDie(UINTN *Socket, UINTN *Die, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die}, DepthDie, nullptr, nullptr});
}

INTN TopologyNextComplexDie(UINTN *Socket, UINTN *Die, UINTN *ComplexDie,
                            QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie}, DepthComplexDie, nullptr, nullptr});
}

INTN TopologyNextComplex(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex,
                         QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex}, DepthComplex, nullptr, nullptr});
}

INTN TopologyNextCore(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core,
                      QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex, Core}, DepthCore, nullptr, nullptr});
}

INTN TopologyNextThread(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core, UINTN *Thread,
                        QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex, Core, Thread}, DepthThread, nullptr, nullptr});
}

INTN TopologyNextPosition(TOPOLOGY_POSITION *At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  if (At == nullptr) {
    return StepEnd;
  }
  return Step(Service, {{&At->Socket, &At->Die, &At->ComplexDie, &At->Complex, &At->Core, &At->Thread}, DepthThread,
                        &At->QueryStatus, &At->QueryDepth});
}

INTN TopologyNextComplexPosition(TOPOLOGY_POSITION *At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  if (At == nullptr) {
    return StepEnd;
  }
  return Step(Service, {{&At->Socket, &At->Die, &At->ComplexDie, &At->Complex}, DepthComplex, &At->QueryStatus,
                        &At->QueryDepth});
}

EFI_STATUS TopologyWalkResult(const CHAR8 *Caller, const TOPOLOGY_POSITION &At) {
  if (!EFI_ERROR(At.QueryStatus)) {
    return EFI_SUCCESS;
  }
  if (At.Socket == kTopologyNotStarted) {
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER, "  ERROR: %a: fabric topology count query failed before the first position: %r\n",
                      Caller, At.QueryStatus);
  } else {
    PrintDebugMessage(DEBUG_INCOMPLETE_ANSWER,
                      "  ERROR: %a: fabric topology count query failed after socket %d, die %d, complex die %d, "
                      "complex %d: %r\n",
                      Caller, At.Socket, At.Die, At.ComplexDie, At.Complex, At.QueryStatus);
  }
  return EFI_DEVICE_ERROR;
}

BOOLEAN TopologyWalkCoveredSocket(const TOPOLOGY_POSITION &At, UINTN Socket) {
  if (!EFI_ERROR(At.QueryStatus)) {
    return TRUE;
  }
  if (At.Socket == kTopologyNotStarted || At.Socket < Socket) {
    return FALSE;
  }
  // At the socket itself, only the socket count is asked once its own positions are all met.
  return At.Socket > Socket || At.QueryDepth == DepthSocket;
}

}  // namespace CCX_IMAGE_NAMESPACE
