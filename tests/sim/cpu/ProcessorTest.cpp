#include "sim/cpu/Processor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/cpu/ProcessorSet.h"

namespace sim {
namespace {

constexpr uint32_t kUndefinedMsr = 0xC0011234;

TEST(ProcessorTest, OnlyProcessorZeroCarriesTheBspFlag) {
  ProcessorConfig Config;
  // A reset value that wrongly claims the BSP flag for every processor must not make them BSPs.
  Config.MsrResetValues[Msr::ApicBase::Number] = 0xFEE00000 | Msr::ApicBase::Bsp::Mask;
  ProcessorSet Processors(Topology(UniformTopology{.Sockets = 2, .CoresPerComplex = 2, .ThreadsPerCore = 2}), Config);

  ASSERT_EQ(Processors.Count(), 8u);
  for (size_t Index = 0; Index < Processors.Count(); ++Index) {
    const uint64_t ApicBase = Processors.At(Index).ReadMsr(Msr::ApicBase::Number);
    EXPECT_EQ(Msr::ApicBase::Bsp::IsSet(ApicBase), Index == 0) << "processor " << Index;
    EXPECT_TRUE(Msr::ApicBase::ApicGlobalEnable::IsSet(ApicBase)) << "processor " << Index;
    EXPECT_EQ(Msr::ApicBase::BaseAddress::Get(ApicBase), 0xFEE00u) << "processor " << Index;
  }
}

TEST(ProcessorTest, ProcessorsAreNumberedInWalkOrderWithHardwareApicIds) {
  // Three cores in the first complex die and two in the second: the core field is two bits wide
  // after the thread bit, so the second complex die starts at APIC ID 8.
  Topology Machine(UniformTopology{.ComplexDiesPerDie = 2, .CoresPerComplex = 3, .ThreadsPerCore = 2});
  Machine.SetCores(0, 0, 1, 0, 2);
  ProcessorSet Processors(Machine);

  std::vector<uint32_t> ApicIds;
  for (size_t Index = 0; Index < Processors.Count(); ++Index) {
    ApicIds.push_back(Processors.At(Index).ApicId());
  }
  EXPECT_EQ(ApicIds, (std::vector<uint32_t>{0, 1, 2, 3, 4, 5, 8, 9, 10, 11}));
  EXPECT_EQ(Processors.At(6).Position(), (TopologyPosition{.ComplexDie = 1}));
  EXPECT_EQ(Processors.FindApicId(9), 7u);
  EXPECT_FALSE(Processors.FindApicId(6).has_value());
}

TEST(ProcessorTest, UnimplementedMsrReadsZeroAndIsRecordedUntilWritten) {
  ProcessorSet Processors(Topology(UniformTopology{.CoresPerComplex = 4}));
  Processor &Third = Processors.At(2);

  EXPECT_EQ(Third.ReadMsr(kUndefinedMsr), 0u);
  Third.WriteMsr(kUndefinedMsr, 0x55);
  EXPECT_EQ(Third.ReadMsr(kUndefinedMsr), 0x55u);
  EXPECT_EQ(Processors.At(1).ReadMsr(kUndefinedMsr), 0u);

  EXPECT_EQ(Processors.UnimplementedMsrReads(),
            (std::vector<UnimplementedMsrRead>{{1, kUndefinedMsr}, {2, kUndefinedMsr}}));
  EXPECT_EQ(Third.MsrWrites(), (std::vector<MsrWrite>{{kUndefinedMsr, 0, 0x55, true}}));
}

TEST(ProcessorTest, WritesRecordOldAndNewValueOnTheirOwnProcessorOnly) {
  ProcessorConfig Config;
  Config.MsrResetValues[Msr::SysCfg::Number] = 0x1234;
  Config.MsrResetOverrides[1][Msr::Ppin::Number] = 0xABCD;
  Config.MsrResetOverrides[2][Msr::SysCfg::Number] = 0x7777;  // its own value in place of the machine's
  ProcessorSet Processors(Topology(UniformTopology{.CoresPerComplex = 3}), Config);

  Processors.At(1).WriteMsr(Msr::SysCfg::Number, 0x5678);
  Processors.At(1).WriteMsr(Msr::SysCfg::Number, 0x9ABC);

  EXPECT_EQ(Processors.At(1).MsrWrites(), (std::vector<MsrWrite>{{Msr::SysCfg::Number, 0x1234, 0x5678, false},
                                                                 {Msr::SysCfg::Number, 0x5678, 0x9ABC, false}}));
  EXPECT_EQ(Processors.At(0).PeekMsr(Msr::SysCfg::Number), 0x1234u);
  EXPECT_EQ(Processors.At(2).PeekMsr(Msr::SysCfg::Number), 0x7777u);
  EXPECT_TRUE(Processors.At(0).MsrWrites().empty());
  EXPECT_EQ(Processors.At(1).PeekMsr(Msr::Ppin::Number), 0xABCDu);
  EXPECT_FALSE(Processors.At(2).PeekMsr(Msr::Ppin::Number).has_value());
  EXPECT_TRUE(Processors.UnimplementedMsrReads().empty());
}

struct CpuidCase {
  const char *Name;
  uint32_t Leaf;
  uint32_t SubLeaf;
  size_t Processor;
  CpuidValue Expected;
};

class ProcessorCpuidTest : public testing::TestWithParam<CpuidCase> {};

TEST_P(ProcessorCpuidTest, AnswersComeFromTheMostSpecificEntry) {
  ProcessorConfig Config;
  Config.Cpuid.Set(0x80000008, {1, 2, 3, 4}).Set(7, {10, 0, 0, 0}).Set(7, 1, {11, 0, 0, 0});
  // A leaf that takes no sub-leaf: its sub-leaf 0 is its answer whatever ECX holds.
  Config.Cpuid.Set(0x80000005, {20, 0, 0, 0}).Set(0x80000005, 0, {21, 0, 0, 0});
  Config.CpuidOverrides[2].Set(0x80000008, {5, 6, 7, 8});
  ProcessorSet Processors(Topology(UniformTopology{.CoresPerComplex = 4}), Config);

  EXPECT_EQ(Processors.At(GetParam().Processor).Cpuid(GetParam().Leaf, GetParam().SubLeaf), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(Lookups, ProcessorCpuidTest,
                         testing::Values(CpuidCase{"MachineLeafAnyEcx", 0x80000008, 99, 1, {1, 2, 3, 4}},
                                         CpuidCase{"ProcessorOverride", 0x80000008, 0, 2, {5, 6, 7, 8}},
                                         CpuidCase{"SubLeafBeforeLeaf", 7, 1, 0, {11, 0, 0, 0}},
                                         CpuidCase{"LeafForOtherSubLeaves", 7, 0, 0, {10, 0, 0, 0}},
                                         CpuidCase{"NoSubLeafLeafIgnoresEcx", 0x80000005, 0x80000005, 0, {21, 0, 0, 0}},
                                         CpuidCase{"UnknownLeafIsZero", 0x8000001F, 0, 3, {0, 0, 0, 0}}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ProcessorTest, IdentifyingCpuidFieldsComeFromTheProcessorsOwnApicId) {
  ProcessorConfig Config;
  Config.Cpuid.Set(CpuidLeaf::Features::Leaf, {0x00A00F10, 0xFF0F0800, 0, 0})
      .Set(CpuidLeaf::ProcessorTopology::Leaf, {0xFFFFFFFF, 0x0000FFFF, 0x00000100, 0});
  const Topology Machine(UniformTopology{
      .Sockets = 4, .ComplexDiesPerDie = 12, .ComplexesPerComplexDie = 2, .CoresPerComplex = 8, .ThreadsPerCore = 2});
  ProcessorSet Processors(Machine, Config);
  const Processor &Last = Processors.At(Processors.Count() - 1);
  ASSERT_EQ(Last.ApicId(), 0x77Fu);

  const CpuidValue Features = Last.Cpuid(CpuidLeaf::Features::Leaf, 0);
  EXPECT_EQ(Features.Eax, 0x00A00F10u);
  EXPECT_EQ(Features.Ebx, 0x7F0F0800u);  // the low eight bits of the APIC ID, the rest kept

  const CpuidValue Ids = Last.Cpuid(CpuidLeaf::ProcessorTopology::Leaf, 0);
  EXPECT_EQ(Ids.Eax, 0x77Fu);
  EXPECT_EQ(Ids.Ebx, 0x000001BFu);  // threads per core less one, core 0x3BF cut to eight bits
  EXPECT_EQ(Ids.Ecx, 0x00000100u);

  EXPECT_EQ(Processors.At(0).Cpuid(CpuidLeaf::Features::Leaf, 0).Ebx, 0x000F0800u);
}

TEST(ProcessorTest, TwoDiesInASocketAreRefusedForSharingApicIds) {
  try {
    ProcessorSet Processors(Topology(UniformTopology{.DiesPerSocket = 2}));
    FAIL() << "a machine with colliding APIC IDs was built";
  } catch (const TopologyError &Error) {
    EXPECT_NE(std::string(Error.what()).find("APIC ID 0x0 would be given to both socket 0 die 0"), std::string::npos)
        << Error.what();
  }
}

TEST(ProcessorTest, OverridesForAMissingProcessorAreRefused) {
  ProcessorConfig Config;
  Config.CpuidOverrides[4].Set(1, {});
  EXPECT_THROW(ProcessorSet(Topology(UniformTopology{.CoresPerComplex = 4}), Config), TopologyError);
  ProcessorConfig MsrConfig;
  MsrConfig.MsrResetOverrides[9][Msr::Ppin::Number] = 1;
  EXPECT_THROW(ProcessorSet(Topology(UniformTopology{.CoresPerComplex = 4}), MsrConfig), TopologyError);
}

TEST(ProcessorTest, BindingsNestAndRestoreTheOuterProcessor) {
  ProcessorSet Processors(Topology(UniformTopology{.CoresPerComplex = 2}));
  EXPECT_EQ(CurrentProcessor(), nullptr);
  EXPECT_THROW(RequireCurrentProcessor(), std::logic_error);
  {
    ProcessorBinding Outer(Processors.At(0));
    {
      ProcessorBinding Inner(Processors.At(1));
      EXPECT_EQ(CurrentProcessor(), &Processors.At(1));
    }
    EXPECT_EQ(&RequireCurrentProcessor(), &Processors.At(0));
  }
  EXPECT_EQ(CurrentProcessor(), nullptr);
}

}  // namespace
}  // namespace sim
