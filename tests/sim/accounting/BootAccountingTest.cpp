// A whole boot's counts agree with what the machine itself recorded: every MSR write a processor
// logged, every POST-code write, and the reverse-map table the driver zeroed.
#include <gtest/gtest.h>

#include <numeric>

#include "driver/ImageDescriptor.h"
#include "interfaces/PlatformConfig.h"
#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

AccessCounts SumOfPhases(const BootRecord &Record) {
  AccessCounts Sum;
  for (const AccessPhase &Phase : Record.Accesses) Sum += Phase.Counts;
  return Sum;
}

const AccessPhase *Find(const BootRecord &Record, const std::string &Name) {
  for (const AccessPhase &Phase : Record.Accesses) {
    if (Phase.Name == Name) return &Phase;
  }
  return nullptr;
}

TEST(BootAccountingTest, PhasesAreTheBootStepsInOrder) {
  const BootRecord Record = RunBoot(DefaultMachine(), CcxImageDescriptor, {});
  std::vector<std::string> Names;
  for (const AccessPhase &Phase : Record.Accesses) Names.push_back(Phase.Name);
  std::vector<std::string> Expected = Record.Steps;
  Expected.push_back("after_boot");
  EXPECT_EQ(Names, Expected);
}

TEST(BootAccountingTest, MsrWritesAndPostCodesMatchWhatTheMachineRecorded) {
  size_t LoggedMsrWrites = 0;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
      LoggedMsrWrites += Machine.Processors().At(Index).MsrWrites().size();
    }
  };
  const BootRecord Record = RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  const AccessCounts Sum = SumOfPhases(Record);
  EXPECT_EQ(Sum.Total(CountedAccess::MsrWrite), LoggedMsrWrites);
  // The delivered driver prints nothing: its only port writes are the POST codes.
  EXPECT_EQ(Sum.Total(CountedAccess::PortWrite), Record.PostCodes.size());
  // Every AP procedure ran on an AP, every start came from the BSP.
  EXPECT_EQ(Sum.OnBsp(CountedAccess::ApProcedure), 0u);
  EXPECT_EQ(Sum.OnAps(CountedAccess::ApStart), 0u);
  EXPECT_GT(Sum.OnAps(CountedAccess::ApProcedure), 0u);
}

TEST(BootAccountingTest, ReverseMapTableZeroingIsTheEntrysExtraFill) {
  const Machine WithSnp = DefaultMachine();
  Machine WithoutSnp = WithSnp;
  WithoutSnp.Pcd[PcdCcxSnpMode] = 0;
  const BootRecord On = RunBoot(WithSnp, CcxImageDescriptor, {});
  const BootRecord Off = RunBoot(WithoutSnp, CcxImageDescriptor, {});
  ASSERT_NE(On.Snp.TableFirst, 0u);
  ASSERT_EQ(Off.Snp.TableFirst, 0u);
  const AccessPhase *EntryOn = Find(On, "entry");
  const AccessPhase *EntryOff = Find(Off, "entry");
  ASSERT_NE(EntryOn, nullptr);
  ASSERT_NE(EntryOff, nullptr);
  EXPECT_EQ(EntryOn->Counts.Total(CountedAccess::BytesFilled) - EntryOff->Counts.Total(CountedAccess::BytesFilled),
            On.Snp.TableLast - On.Snp.TableFirst + 1);
}

}  // namespace
}  // namespace sim
