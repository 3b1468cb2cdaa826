// Each check of the machine state can fail: boots whose state is changed in one place once the
// boot is over (an MSR of every processor, the reverse-map table, a heap buffer's header), the
// kind of slip a driver makes, each named by its sentence; and every ERROR line a boot's report
// prints, in any section, makes the run exit 1.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "arch/Msr.h"
#include "driver/ImageDescriptor.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/machine/Machine.h"
#include "sim/oracle/MachineStateOracle.h"
#include "sim/platform/BootRunner.h"
#include "tools/BootExpectation.h"
#include "tools/MachineStateReport.h"
#include "tools/S3TokensReport.h"

namespace sim {
namespace {

// Boots Description with the state check on, after Edit has changed the machine.
BootRecord BootAndEdit(const Machine &Description, std::function<void(Platform &)> Edit = {}) {
  BootOptions Options;
  if (Edit) Options.AfterBoot = Edit;
  Options.CheckState = CheckMachineState;
  return RunBoot(Description, CcxImageDescriptor, Options);
}

void ExpectError(const BootRecord &Boot, const std::string &Sentence) {
  EXPECT_NE(std::find(Boot.StateErrors.begin(), Boot.StateErrors.end(), Sentence), Boot.StateErrors.end())
      << Sentence << "\nnot among:\n"
      << testing::PrintToString(Boot.StateErrors);
}

void OnEveryProcessor(Platform &Machine, uint32_t Msr, const std::function<uint64_t(uint64_t)> &Change) {
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    Processor &Each = Machine.Processors().At(Index);
    Each.WriteMsr(Msr, Change(Each.PeekMsr(Msr).value_or(0)));
  }
}

TEST(MachineState, EveryExampleBootLeavesWhatItsMachineCallsFor) {
  EXPECT_EQ(BootAndEdit(DefaultMachine()).StateErrors, std::vector<std::string>{});
  EXPECT_EQ(BootAndEdit(LoadMachineFile(CCX_MACHINES_DIR "/overclock.json")).StateErrors, std::vector<std::string>{});
}

TEST(MachineState, ATsegBaseOneMegabyteHighIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    OnEveryProcessor(Machine, Msr::SmmTsegBase::Number, [](uint64_t Value) { return Value + 0x100000; });
  });
  ExpectError(Boot, "machine state MSR 0xC0010112 SMM_TSEG_BASE on processors 0-127 value: expected 0x7F000000, "
                    "received 0x7F100000");
}

TEST(MachineState, AReverseMapTableOneMegabyteShortIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    OnEveryProcessor(Machine, Msr::RmpEnd::Number, [](uint64_t Value) { return Value - 0x100000; });
  });
  ExpectError(Boot, "machine state reverse-map table size: expected 0x300000, received 0x200000");
  ExpectError(Boot, "machine state MSR 0xC0010133 RMP_END on processors 0-127 value: expected 0x3FEFFFFF, "
                    "received 0x3FDFFFFF");
}

TEST(MachineState, AReverseMapTableByteLeftSetIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    const uint64_t Base = Machine.Processors().Bsp().PeekMsr(Msr::RmpBase::Number).value_or(0) & ~Msr::SnpMsrKeepMask;
    reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Base))[0x1234] = 1;
  });
  ExpectError(Boot, "machine state reverse-map table: byte 0x1234 is not zero");
}

TEST(MachineState, ACustomPstateOneFrequencyStepHighIsNamed) {
  const Machine Overclock = LoadMachineFile(CCX_MACHINES_DIR "/overclock.json");
  uint64_t Written = 0;
  const BootRecord Boot = BootAndEdit(Overclock, [&Written](Platform &Machine) {
    OnEveryProcessor(Machine, Msr::PstateDef0::Number, [&Written](uint64_t Value) { return Written = Value + 1; });
  });
  ASSERT_EQ(Boot.StateErrors.size(), 1u) << testing::PrintToString(Boot.StateErrors);
  EXPECT_NE(Boot.StateErrors[0].find("MSR 0xC0010064 PStateDef0 on processors 0-127 value: expected "),
            std::string::npos);
  EXPECT_NE(Boot.StateErrors[0].find(", received 0x" + [&] {
              std::ostringstream Text;
              Text << std::uppercase << std::hex << Written;
              return Text.str();
            }()),
            std::string::npos)
      << Boot.StateErrors[0];
}

// The consumers call the PCC subspace service, which covers its region with MTRR pair 1.
TEST(MachineState, APccMtrrLeftCacheableOnOneProcessorIsNamed) {
  BootOptions Options;
  Options.CheckState = CheckMachineState;
  Options.AfterBoot = [](Platform &Machine) {
    BuildPcct(Machine);
    Processor &Fifth = Machine.Processors().At(5);
    Fifth.WriteMsr(Msr::VariableMtrrBase(1), Fifth.PeekMsr(Msr::VariableMtrrBase(1)).value_or(0) | 6);
  };
  ExpectError(RunBoot(DefaultMachine(), CcxImageDescriptor, Options),
              "machine state MSR 0x00000202 MTRRphysBase1 on processor 5 value: expected 0x7EFC0000, received "
              "0x7EFC0006");
}

TEST(MachineState, AnMsrChangedWithoutExpectationIsNamed) {
  const BootRecord Boot =
      BootAndEdit(DefaultMachine(), [](Platform &Machine) { Machine.Processors().At(5).WriteMsr(0xC00102B1, 1); });
  ExpectError(Boot, "machine state MSR 0xC00102B1 CPPC_ENABLE on processor 5: changed to 0x0000000000000001 with "
                    "no change expected");
}

TEST(MachineState, AHeapBufferOfTheWrongPersistenceIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    for (const HeapBufferView &Buffer : TakeHeapSnapshot(Machine.Core()).Buffers) {
      if (Buffer.Handle != HEAP_HANDLE_INIT_VALUE) continue;
      auto *Node = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Buffer.Address - HEAP_NODE_DATA_OFFSET));
      Node[offsetof(HEAP_NODE, Header) + offsetof(HEAP_BUFFER_HEADER, Persistence)] = 8;
    }
  });
  ExpectError(Boot, "machine state heap buffer 0x0000A02B (init value) persistence: expected 4, received 8");
}

TEST(MachineState, AWrongPpinItemAndAProtocolInstalledTwiceAreNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    Machine.Pcd().Write(nullptr, PcdCcxPpinSocket0, 0x1234);
    EFI_HANDLE Handle = nullptr;
    static int Record;
    Machine.Core().InstallProtocol(Handle, gQorvexCcxSratServicesProtocolGuid, &Record);
  });
  ExpectError(Boot, "machine state configuration item 881 (socket 0's PPIN) value: expected 0x123456789ABCDEF, "
                    "received 4660");
  ExpectError(Boot, "machine state protocol gQorvexCcxSratServicesProtocolGuid instances installed: expected 1, "
                    "received 2");
}

TEST(MachineState, APageReservedBesideTheTableIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    uint64_t Address = 0;
    ASSERT_EQ(Machine.Core().Memory().AllocatePages(AllocateAnyPages, EfiReservedMemoryType, 1, Address), EFI_SUCCESS);
  });
  ExpectError(Boot, "machine state memory map pages of reserved memory: expected 768, received 769");
}

TEST(MachineState, AnS3TableHeaderChangedBeforeTheHandOffIsNamed) {
  BootOptions Options;
  Options.CheckState = CheckMachineState;
  Options.AfterEntry = [](Platform &Machine) {
    auto *Table = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Machine.Pcd().Get(PcdQorvexS3LibTableAddress)));
    Table[4] = 2;  // the version, after the signature
  };
  ExpectError(RunBoot(DefaultMachine(), CcxImageDescriptor, Options),
              "machine state S3 save table version: expected 1, received 2");
}

TEST(MachineState, ADownCoreVariableThatDisagreesIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](Platform &Machine) {
    const uint8_t DownCored[] = {1};
    Machine.Core().Variables().Set(u"DownCoreStatus", gQorvexDownCoreStatusVariableGuid, 7, DownCored);
  });
  ExpectError(Boot, "machine state variable DownCoreStatus value: expected 0, received 1");
}

// Whichever section prints an ERROR line, the boot counts as one whose answers differ.
TEST(ReportErrors, EverySectionsErrorLineCountsForTheExitStatus) {
  BootRecord Boot;
  std::ostringstream Clean;
  ccxsim::PrintMachineState(Clean, Boot);
  EXPECT_FALSE(ccxsim::ShowsErrors(Clean.str())) << Clean.str();

  Boot.StateErrors = {"machine state heap buffer 0x0000A02B (init value) size: expected 1, received 2"};
  std::ostringstream State;
  ccxsim::PrintMachineState(State, Boot);
  EXPECT_TRUE(ccxsim::ShowsErrors(State.str())) << State.str();

  BootRecord Handoff;
  S3HandoffView View;
  View.Problem = "the entry at offset 48 has the impossible length 0";
  Handoff.S3Tokens.S3Handoffs.push_back(View);
  std::ostringstream S3;
  ccxsim::PrintS3Tokens(S3, Handoff);
  EXPECT_NE(S3.str().find("  ERROR: the entry at offset 48 has the impossible length 0\n"), std::string::npos);
  EXPECT_TRUE(ccxsim::ShowsErrors(S3.str())) << S3.str();
}

}  // namespace
}  // namespace sim
