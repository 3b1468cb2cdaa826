// The topology iterator: steps a caller's index variables through every position of the system,
// socket first and thread fastest, and says which level moved. Counts come from the fabric
// topology service; the iterator keeps no state of its own.
#ifndef SERVICES_TOPOLOGY_WALK_H_
#define SERVICES_TOPOLOGY_WALK_H_

#include "arch/ImageNamespace.h"
#include "interfaces/FabricTopologyServices.h"

namespace CCX_IMAGE_NAMESPACE {

// Levels of the topology by depth, socket first.
enum TOPOLOGY_DEPTH : UINTN {
  DepthSocket = 0,
  DepthDie = 1,
  DepthComplexDie = 2,
  DepthComplex = 3,
  DepthCore = 4,
  DepthThread = 5,
  DepthCount = 6,
};

// Step codes: which level moved (every lower index is then 0), or the end of the walk. A level's
// code is its depth.
enum TOPOLOGY_STEP : INTN {
  StepSocket = DepthSocket,
  StepDie = DepthDie,
  StepComplexDie = DepthComplexDie,
  StepComplex = DepthComplex,
  StepCore = DepthCore,
  StepThread = DepthThread,
  StepEnd = DepthCount,
};

// Asks the service how many instances the level at Depth has inside the instance that Index[0]
// to Index[Depth - 1] name. A missing record, or a depth past the thread, answers
// EFI_INVALID_PARAMETER like a failed query.
EFI_STATUS TopologyCountAt(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, const UINTN *Index, UINTN Depth,
                           UINTN *Count);

// A walk starts with every index of its depth set to this value.
constexpr UINTN kTopologyNotStarted = ~static_cast<UINTN>(0);

INTN TopologyNextDie(UINTN *Socket, UINTN *Die, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);
INTN TopologyNextComplexDie(UINTN *Socket, UINTN *Die, UINTN *ComplexDie,
                            QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);
INTN TopologyNextComplex(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex,
                         QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);
INTN TopologyNextCore(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core,
                      QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);
INTN TopologyNextThread(UINTN *Socket, UINTN *Die, UINTN *ComplexDie, UINTN *Complex, UINTN *Core, UINTN *Thread,
                        QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);

// The six index variables of a walk to thread depth, set up before the first position.
struct TOPOLOGY_POSITION {
  UINTN Socket = kTopologyNotStarted;
  UINTN Die = kTopologyNotStarted;
  UINTN ComplexDie = kTopologyNotStarted;
  UINTN Complex = kTopologyNotStarted;
  UINTN Core = kTopologyNotStarted;
  UINTN Thread = kTopologyNotStarted;
};

// Steps a thread-depth walk: TopologyNextThread over the position's six indices.
inline INTN TopologyNextPosition(TOPOLOGY_POSITION *At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service) {
  return TopologyNextThread(&At->Socket, &At->Die, &At->ComplexDie, &At->Complex, &At->Core, &At->Thread, Service);
}

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_TOPOLOGY_WALK_H_
