// The processor registers the simulated machine derives from its description: PCI segments and
// host bridges, the enabled-core map, the core topology register copies and the complex-fold
// registers; the numbering of folded complexes; and the machine key that asks for them.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/platform/ProcessorRegisters.h"

namespace sim {
namespace {

Machine MachineWith(const UniformTopology &Counts) {
  Machine Description = DefaultMachine();
  Description.Shape = Topology(Counts);
  Description.Processors.MsrResetOverrides.clear();
  return Description;
}

TEST(ProcessorDevices, OneBridgePerSocketOverTheSegmentsOfTheBaseRegister) {
  Machine Description = MachineWith({4, 1, 1, 1, 2, 1});
  Description.Processors.MsrResetValues[0xC0010058] = 0x3FB00000025;  // 512 buses: two segments
  DeviceSetConfig Config;
  ConfigureProcessorDevices(Description, Config);
  EXPECT_EQ(Config.PciConfigBase, 0x3FB00000000u);
  EXPECT_EQ(Config.PciSegmentCount, 2u);
  ASSERT_EQ(Config.HostBridges.size(), 4u);
  const std::vector<std::pair<HostBridge, uint32_t>> Expected = {
      {{0, 0}, 0x021}, {{1, 0}, 0x121}, {{0, 0x80}, 0x221}, {{1, 0x80}, 0x321}};
  for (size_t Index = 0; Index < Expected.size(); Index++) {
    EXPECT_EQ(Config.HostBridges[Index].Bridge, Expected[Index].first) << Index;
    EXPECT_EQ(Config.HostBridges[Index].Destination, Expected[Index].second) << Index;
  }
}

TEST(ProcessorDevices, MachineWithoutABaseRegisterKeepsOneSegment) {
  Machine Description = MachineWith({1, 1, 1, 1, 2, 1});
  Description.Processors.MsrResetValues.erase(0xC0010058);
  DeviceSetConfig Config;
  ConfigureProcessorDevices(Description, Config);
  EXPECT_EQ(Config.PciSegmentCount, 1u);
  ASSERT_EQ(Config.HostBridges.size(), 1u);
  EXPECT_EQ(Config.HostBridges[0].Bridge, (HostBridge{0, 0}));
  EXPECT_EQ(Config.HostBridges[0].Destination, 0x21u);
}

struct MapCase {
  const char *Name;
  UniformTopology Counts;
  uint32_t SignatureEax;
  std::vector<uint32_t> Words;
  // The first complex of complex die 1 has five cores instead.
  bool Uneven = false;
};

class EnabledCoreMapOfMachine : public ::testing::TestWithParam<MapCase> {};

TEST_P(EnabledCoreMapOfMachine, ListsTheCoresOfTheBspsDie) {
  Machine Description = MachineWith(GetParam().Counts);
  if (GetParam().Uneven) Description.Shape.SetCores(0, 0, 1, 0, 5);
  Description.Processors.Cpuid.Set(0x80000001, CpuidValue{GetParam().SignatureEax, 0, 0, 0});
  ProcessorSet Processors(Description.Shape, Description.Processors);
  EXPECT_EQ(EnabledCoreMapOf(Description, Processors), GetParam().Words);
}

INSTANTIATE_TEST_SUITE_P(
    Parts, EnabledCoreMapOfMachine,
    ::testing::Values(
        MapCase{"GroupPerComplexDie", {1, 1, 3, 2, 8, 1}, 0x00B00F10, {0x00FF1FFF, 0, 0, 0}, true},
        MapCase{"GroupPerComplexOnPairedParts", {1, 1, 3, 2, 8, 1}, 0x00AA0F00, {0xFF1FFFFF, 0xFFFF, 0, 0}, true},
        MapCase{"GroupsBeyondTheMapAreLeftOut", {1, 1, 12, 2, 4, 1}, 0x00AA0F00,
                {0x0F0F0F0F, 0x0F0F0F0F, 0x0F0F0F0F, 0x0F0F0F0F}},
        MapCase{"OnlyTheFirstSocketsDie", {2, 1, 1, 1, 2, 1}, 0x00B00F10, {0x3, 0, 0, 0}}),
    [](const ::testing::TestParamInfo<MapCase> &Info) { return std::string(Info.param.Name); });

TEST(ProcessorRegisters, EveryCoreOfEveryComplexHasTheTopologyRegister) {
  Machine Description = MachineWith({1, 1, 2, 2, 3, 2});
  ProcessorSet Processors(Description.Shape, Description.Processors);
  DeviceSet Devices;
  PresetProcessorRegisters(Description, Processors, Devices);
  // Maxima: complex die 1, complex 1, core 2.
  const uint32_t Expected = 1U << 21 | 1U << 20 | 2U << 16;
  for (uint32_t Slot = 0; Slot < 4; Slot++) {
    for (uint32_t Core = 0; Core < 3; Core++) {
      const uint32_t Address = 0x20002FEC + Slot * 0x400000 + Core * 0x20000;
      EXPECT_EQ(Devices.Sideband().Peek(Address), Expected) << Slot << " " << Core;
    }
  }
  EXPECT_EQ(Devices.Sideband().Peek(0x20002FEC + 3 * 0x20000), 0u) << "there is no fourth core";
  EXPECT_EQ(Devices.Sideband().Peek(0x49001140), 0x0707u);
  EXPECT_EQ(Devices.Sideband().Peek(0x308003D0), 0u) << "only paired parts have fold registers";
}

TEST(ProcessorRegisters, FoldedPartReportsTwiceTheComplexDiesAndItsFoldRegisters) {
  Machine Description = MachineWith({1, 1, 3, 2, 2, 1});
  Description.Processors.FoldedComplexes = true;
  Description.Processors.Cpuid.Set(0x80000001, CpuidValue{0x00AA0F00, 0x80000000, 0, 0});
  ProcessorSet Processors(Description.Shape, Description.Processors);
  DeviceSet Devices;
  PresetProcessorRegisters(Description, Processors, Devices);
  EXPECT_EQ(Devices.Sideband().Peek(0x20002FEC), 5U << 21 | 1U << 16) << "complex dies up to 5, one complex";
  for (uint32_t Pair = 0; Pair < 3; Pair++) {
    EXPECT_EQ(Devices.Sideband().Peek(0x308003D0 + Pair * 0x2000000), 0x20u) << Pair;
  }
  // Complex 1 of complex die d is numbered as complex die d + 3: shifts 0 (core), 1, 1, 4.
  EXPECT_EQ(Processors.At(2).Position().Complex, 1u);
  EXPECT_EQ(Processors.At(2).ApicId(), 3u << 1);
  EXPECT_EQ(Processors.At(11).ApicId(), (2u + 3) << 1 | 1);
}

TEST(FoldedNumbering, OnlyTheSecondComplexMoves) {
  EXPECT_EQ(FoldedPosition({1, 0, 2, 1, 3, 1}, 4), (TopologyPosition{1, 0, 6, 0, 3, 1}));
  EXPECT_EQ(FoldedPosition({1, 0, 2, 0, 3, 1}, 4), (TopologyPosition{1, 0, 2, 0, 3, 1}));
}

struct FoldKeyCase {
  const char *Name;
  int ComplexDies;
  int Complexes;
  const char *Eax;
  const char *Ebx;
  const char *Error;
};

class FoldedComplexesKey : public ::testing::TestWithParam<FoldKeyCase> {};

TEST_P(FoldedComplexesKey, NeedsAPartThatFolds) {
  nlohmann::json Text = nlohmann::json::parse(DefaultMachineText());
  Text["topology"]["complex_dies_per_die"] = GetParam().ComplexDies;
  Text["topology"]["complexes_per_complex_die"] = GetParam().Complexes;
  Text["topology"]["folded_complexes"] = true;
  Text["cpuid"]["0x80000001"] = {{"eax", GetParam().Eax}, {"ebx", GetParam().Ebx}};
  Text.erase("socket_msrs");
  const std::string Error = GetParam().Error;
  if (Error.empty()) {
    const Machine Loaded = ParseMachine(Text.dump(), "folded.json");
    EXPECT_TRUE(Loaded.Processors.FoldedComplexes);
    return;
  }
  try {
    ParseMachine(Text.dump(), "folded.json");
    ADD_FAILURE() << "the description was accepted";
  } catch (const MachineError &Refused) {
    EXPECT_NE(std::string(Refused.what()).find("folded.json: topology.folded_complexes: " + Error), std::string::npos)
        << Refused.what();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, FoldedComplexesKey,
    ::testing::Values(FoldKeyCase{"Accepted", 6, 2, "0x00AA0F00", "0x80000000", ""},
                      FoldKeyCase{"OneComplex", 4, 1, "0x00AA0F00", "0x80000000",
                                  "folded complexes need complex dies with two complexes"},
                      FoldKeyCase{"SevenComplexDies", 7, 2, "0x00AA0F00", "0x80000000",
                                  "folded complexes allow at most 6 complex dies per die, not 7"},
                      FoldKeyCase{"OtherFamily", 4, 2, "0x00B00F00", "0x80000000",
                                  "folded complexes need a part that folds"},
                      FoldKeyCase{"OtherPackage", 4, 2, "0x00AA0F00", "0x40000000",
                                  "folded complexes need a part that folds"}),
    [](const ::testing::TestParamInfo<FoldKeyCase> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
