#include "sim/oracle/AcpiProcessorOracle.h"

#include "arch/Cpuid.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/PlatformConfig.h"

namespace sim {
namespace {

// PcdCcxAcpiPstatePolicy: 1 sets the flag; 0 and 2 clear it; any other value leaves the zero the
// record was allocated with.
constexpr uint64_t kPolicyFlagSet = 1;
// At least two enabled P-states make the objects worth building.
constexpr size_t kPstatesForObjects = 2;

uint32_t BspThreadsPerCore(Platform &Machine) {
  const CpuidValue Topology = Machine.Processors().Bsp().Cpuid(CpuidLeaf::ProcessorTopology::Leaf, 0);
  return static_cast<uint32_t>(CpuidLeaf::ProcessorTopology::EbxThreadsPerCoreMinusOne::Get(Topology.Ebx)) + 1;
}

}  // namespace

ExpectedPstateInfo ExpectedAcpiPstateInfo(Platform &Machine) {
  const sim::Machine &Description = Machine.Description();
  ExpectedPstateInfo Info;
  const PstateRegisters Registers = ExpectedPstateRegisters(Machine);
  const std::map<uint64_t, uint64_t> &Pcd = ReadableItems(Machine);
  const OverclockItems Items = OverclockItemsOf(Pcd);
  Info.PstateMaxVal = static_cast<uint32_t>(Msr::PstateCurLim::PstateMaxVal::Get(Registers.CurrentLimit));
  for (uint32_t Pstate = 0; Pstate < Msr::PstateDefCount; Pstate++) {
    Info.AllPstates.push_back(DecodePstate(Pstate, Registers, Items));
    if (Pstate <= Info.PstateMaxVal && Info.AllPstates.back()) Info.Pstates.push_back(*Info.AllPstates.back());
  }
  Info.PstateObjectsValid = Info.Pstates.size() >= kPstatesForObjects ? 1 : 0;
  Info.PolicyFlag = PcdItem(Pcd, PcdCcxAcpiPstatePolicy, 1) == kPolicyFlagSet ? 1 : 0;

  const uint32_t Sockets = Description.Shape.Count(TopologyLevel::Socket);
  Info.SocketCount = static_cast<uint8_t>(Sockets);
  // Computed in 32 bits, as the record's size field holds it.
  Info.BufferSize = static_cast<uint32_t>(uint64_t{Sockets} * PstateSocketRecordSize(Info.PstateMaxVal) +
                                          sizeof(PSTATE_INFO_HEADER) + PSTATE_INFO_TRAILER_SIZE);
  // The processors are numbered in walk order, so each socket's threads follow one another.
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    const Processor &Thread = Machine.Processors().At(Index);
    if (Info.Sockets.empty() || Info.Sockets.back().Socket != Thread.Position().Socket) {
      Info.Sockets.push_back({Thread.Position().Socket, {}});
    }
    Info.Sockets.back().ApicIds.push_back(Thread.ApicId());
  }
  Info.ThreadsPerCore = BspThreadsPerCore(Machine);
  return Info;
}

ExpectedPowerState ExpectedAcpiPowerState(Platform &Machine) {
  const std::map<uint64_t, uint64_t> &Pcd = ReadableItems(Machine);
  ExpectedPowerState State;
  const uint64_t Base = PcdItem(Pcd, PcdCcxIoPowerStateBaseAddress, 2);
  State.Enabled = PcdItem(Pcd, PcdCcxIoPowerStateMode, 1) == 1 && Base != 0 ? 1 : 0;
  State.IoBaseAddress = static_cast<uint32_t>(Base);
  State.MultiThreaded = BspThreadsPerCore(Machine) > 1 ? 1 : 0;
  State.Words[0] = static_cast<uint16_t>(PcdItem(Pcd, PcdCcxPowerStateWord1, 2));
  State.Words[1] = static_cast<uint16_t>(PcdItem(Pcd, PcdCcxPowerStateWord2, 2));
  State.Words[2] = static_cast<uint16_t>(PcdItem(Pcd, PcdCcxPowerStateWord3, 2));
  return State;
}

}  // namespace sim
