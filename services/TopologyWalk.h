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

// A walk kept in one record: the six index variables, set up before the first position, and why
// the walk ended. The step codes alone can't tell a walk that ran out of positions from one that
// lost its counts; the record keeps the difference for the caller to report.
struct TOPOLOGY_POSITION {
  UINTN Socket = kTopologyNotStarted;
  UINTN Die = kTopologyNotStarted;
  UINTN ComplexDie = kTopologyNotStarted;
  UINTN Complex = kTopologyNotStarted;
  UINTN Core = kTopologyNotStarted;
  UINTN Thread = kTopologyNotStarted;
  // EFI_SUCCESS, unless a step ended the walk because a count could not be had: then the status
  // of the count query that failed (EFI_INVALID_PARAMETER when there was no record to ask).
  EFI_STATUS QueryStatus = EFI_SUCCESS;
  // The depth whose count that query asked for.
  UINTN QueryDepth = DepthCount;
};

// Steps a thread-depth walk over the record's six indices, with TopologyNextThread's codes.
INTN TopologyNextPosition(TOPOLOGY_POSITION *At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);
// Steps a complex-depth walk over the record's first four indices, with TopologyNextComplex's
// codes; the core and thread indices are left alone.
INTN TopologyNextComplexPosition(TOPOLOGY_POSITION *At, QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service);

// The answer of the service named Caller once its walk has ended: EFI_SUCCESS after the walk's
// normal end. A walk that ended on a failed count query has not visited every processor: that is
// reported in an error message with the last complex the walk reached and the query's status, and
// the answer is EFI_DEVICE_ERROR.
EFI_STATUS TopologyWalkResult(const CHAR8 *Caller, const TOPOLOGY_POSITION &At);

// Whether an ended walk met every position of Socket: it ran to its normal end, or the count it
// lost was asked after the socket's last position (a later socket's count, or the number of
// sockets asked to move past it).
BOOLEAN TopologyWalkCoveredSocket(const TOPOLOGY_POSITION &At, UINTN Socket);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_TOPOLOGY_WALK_H_
