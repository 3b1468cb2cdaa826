// One odometer walk serves all five depths: a step at a depth either moves that depth's index, or
// carries into the step one level up, exactly as a deeper step would carry into it. The depth
// entry points only differ in how many index variables they hand over and in whether they refuse
// a missing service record before the walk starts.
#include "services/TopologyWalk.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Depths of the walk, socket first; a step at depth D moves the index at D.
constexpr UINTN kDepthSocket = 0;
constexpr UINTN kDepthDie = 1;
constexpr UINTN kDepthComplexDie = 2;
constexpr UINTN kDepthComplex = 3;
constexpr UINTN kDepthCore = 4;
constexpr UINTN kDepthThread = 5;
constexpr UINTN kDepthCount = 6;

// The caller's index variables, socket first, down to the depth of the step.
struct TOPOLOGY_CURSOR {
  UINTN *Index[kDepthCount];
  UINTN Depth;
};

// Asks the service how many instances the level at Depth has inside the instance that the indices
// above it name. A missing record answers like a failed query, so that a walk through an unchecked
// entry point ends instead of calling through a null record.
EFI_STATUS CountAt(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor, UINTN Depth,
                   UINTN *Count) {
  if (Service == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINTN *const *Index = Cursor.Index;
  switch (Depth) {
    case kDepthSocket:
      return Service->GetNumberOfSockets(Service, Count);
    case kDepthDie:
      return Service->GetNumberOfDies(Service, *Index[kDepthSocket], Count);
    case kDepthComplexDie:
      return Service->GetNumberOfComplexDies(Service, *Index[kDepthSocket], *Index[kDepthDie], Count);
    case kDepthComplex:
      return Service->GetNumberOfComplexes(Service, *Index[kDepthSocket], *Index[kDepthDie],
                                           *Index[kDepthComplexDie], Count);
    case kDepthCore:
      return Service->GetNumberOfCores(Service, *Index[kDepthSocket], *Index[kDepthDie], *Index[kDepthComplexDie],
                                       *Index[kDepthComplex], Count);
    case kDepthThread:
      return Service->GetNumberOfThreads(Service, *Index[kDepthSocket], *Index[kDepthDie], *Index[kDepthComplexDie],
                                         *Index[kDepthComplex], *Index[kDepthCore], Count);
    default:
      return EFI_INVALID_PARAMETER;
  }
}

// Moves the index at Depth on by one, carrying into the level above when it runs past its count.
// Nothing changes when the step ends the walk. The socket level has nothing above it to carry
// into, so running past the last socket ends the walk.
INTN Advance(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor, UINTN Depth) {
  UINTN Count = 0;
  if (EFI_ERROR(CountAt(Service, Cursor, Depth, &Count))) {
    return StepEnd;
  }
  UINTN *Deepest = Cursor.Index[Depth];
  const UINTN Next = *Deepest + 1;
  if (Next < Count) {
    *Deepest = Next;
    return static_cast<INTN>(Depth);
  }
  // An index already past its count names no position; the walk cannot go on from there.
  if (Next > Count || Depth == kDepthSocket) {
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
// service, so an unchecked entry point still answers it when the caller has no record.
INTN Step(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const TOPOLOGY_CURSOR &Cursor, bool ChecksRecord) {
  for (UINTN Depth = 0; Depth <= Cursor.Depth; Depth++) {
    if (Cursor.Index[Depth] == nullptr) {
      return StepEnd;
    }
  }
  if (ChecksRecord && Service == nullptr) {
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

INTN TopologyNextDie(UINTN *Socket, UINTN *Die, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die}, kDepthDie}, true);
}

INTN TopologyNextComplexDie(UINTN *Socket, UINTN *Die, UINTN *ComplexDie,
                            QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie}, kDepthComplexDie}, true);
}

// Callers of the complex and thread steps always hold a located record, so these two do not
// refuse a missing one up front; a query through a missing record still ends the walk.
INTN TopologyNextComplex(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex,
                         QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex}, kDepthComplex}, false);
}

INTN TopologyNextCore(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core,
                      QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex, Core}, kDepthCore}, true);
}

INTN TopologyNextThread(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core, UINTN *Thread,
                        QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return Step(Service, {{Socket, Die, ComplexDie, Complex, Core, Thread}, kDepthThread}, false);
}

}  // namespace CCX_IMAGE_NAMESPACE
