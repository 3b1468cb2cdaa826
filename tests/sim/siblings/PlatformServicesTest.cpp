// The SOC, SMU, MMIO allocator and region services of the simulated platform: the masks the SOC
// service derives from an uneven topology, the machine keys that set them, the allocator's aligned
// windows and exhausted pool, the region service's records, and injected failures.
#include <gtest/gtest.h>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/MmioRegionServices.h"
#include "sim/siblings/SmuService.h"
#include "sim/siblings/SocService.h"

namespace sim {
namespace {

Topology UnevenShape() {
  UniformTopology Counts;
  Counts.Sockets = 2;
  Counts.DiesPerSocket = 1;
  Counts.ComplexDiesPerDie = 3;
  Counts.ComplexesPerComplexDie = 2;
  Counts.CoresPerComplex = 4;
  Counts.ThreadsPerCore = 2;
  Topology Shape(Counts);
  Shape.SetCores(1, 0, 2, 1, 1);  // socket 1, complex die 2, complex 1: one core of four
  return Shape;
}

TEST(SocService, DisablesTheCoresTheTopologyLeavesOut) {
  const Topology Shape = UnevenShape();
  FaultInjector Faults;
  SocService Soc(Shape, SocSettings{}, Faults);
  QORVEX_SOC_SERVICES_PROTOCOL *Protocol = Soc.Protocol();
  UINT32 Present = 0, Disable = 0, Masks[12] = {}, Bytes = 48, Entries = 12, PerDie = 0;
  BOOLEAN Smt = FALSE;
  ASSERT_EQ(Protocol->GetDieCoreInfo(Protocol, 4, &Present, &Disable, Masks, &Bytes, &PerDie, &Smt, &Entries),
            EFI_SUCCESS);
  EXPECT_EQ(Present, 0x7u);
  EXPECT_EQ(Disable, 0u);
  EXPECT_EQ(PerDie, 8u);
  EXPECT_TRUE(Smt);
  EXPECT_EQ(Masks[0], 0u);
  EXPECT_EQ(Masks[2], 0xE0u);  // complex 1's cores 1 to 3
  EXPECT_EQ(Masks[3], 0u);
  // Die 1 of socket 0 and socket 2 do not exist.
  EXPECT_EQ(Protocol->GetDieCoreInfo(Protocol, 1, &Present, &Disable, Masks, &Bytes, &PerDie, &Smt, &Entries),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(Protocol->GetDieCoreInfo(Protocol, 8, &Present, &Disable, Masks, &Bytes, &PerDie, &Smt, &Entries),
            EFI_INVALID_PARAMETER);
  UINT16 Fid = 0;
  ASSERT_EQ(Protocol->GetMaxCoreFid(Protocol, &Fid), EFI_SUCCESS);
  EXPECT_EQ(Fid, 0xB4);
}

TEST(SocService, AnsweredQueriesFailWhenTheMachineSaysSo) {
  const Topology Shape = UnevenShape();
  FaultInjector Faults({{"soc", "GetCoreCountInfo", 1, EFI_DEVICE_ERROR}});
  SocSettings Settings;
  Settings.Smt = false;
  SocService Soc(Shape, Settings, Faults);
  QORVEX_SOC_SERVICES_PROTOCOL *Protocol = Soc.Protocol();
  UINT32 Present = 0, Disable = 0, PerDie = 0;
  BOOLEAN Smt = TRUE;
  EXPECT_EQ(Protocol->GetCoreCountInfo(Protocol, &Present, &Disable, &PerDie, &Smt), EFI_DEVICE_ERROR);
  ASSERT_EQ(Protocol->GetCoreCountInfo(Protocol, &Present, &Disable, &PerDie, &Smt), EFI_SUCCESS);
  EXPECT_EQ(Present, 0x7u);
  EXPECT_FALSE(Smt);
}

TEST(SmuService, ReadsTheMachinesRegistersAndRecordsEveryRead) {
  SmuSettings Settings;
  Settings.Registers[0x3008101C] = 0x100;
  FaultInjector Faults({{"smu", "SmuRegisterRead", 2, EFI_TIMEOUT}});
  SmuService Smu(Settings, Faults);
  QORVEX_SMU_SERVICES_PROTOCOL *Protocol = Smu.Protocol();
  UINT32 Value = 0;
  ASSERT_EQ(Protocol->SmuRegisterRead(Protocol, 0, 0x3008101C, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 0x100u);
  EXPECT_EQ(Protocol->SmuRegisterRead(Protocol, 0, 0x3008101C, &Value), EFI_TIMEOUT);
  ASSERT_EQ(Protocol->SmuRegisterRead(Protocol, 0, 0x1234, &Value), EFI_SUCCESS);
  EXPECT_EQ(Value, 0u);
  ASSERT_EQ(Smu.Calls().size(), 3u);
  EXPECT_EQ(Smu.Calls()[1].Status, EFI_TIMEOUT);
}

TEST(FabricMmioAllocator, HandsOutAlignedWindowsUntilThePoolIsSpent) {
  FaultInjector Faults({{"fabric_mmio", "AllocateMmio", 3, EFI_DEVICE_ERROR}});
  FabricMmioAllocator Allocator(0xE0080000, 0x300000, Faults);
  QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *Protocol = Allocator.Protocol();
  UINT64 Base = 0, Length = 0x100000;
  UINT8 Attributes = 0x83;
  ASSERT_EQ(Protocol->AllocateMmio(Protocol, &Base, &Length, 0xFFFFF, 0x8000, &Attributes), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xE0100000u);
  ASSERT_EQ(Protocol->AllocateMmio(Protocol, &Base, &Length, 0xFFFFF, 0x8000, &Attributes), EFI_SUCCESS);
  EXPECT_EQ(Base, 0xE0200000u);
  EXPECT_EQ(Protocol->AllocateMmio(Protocol, &Base, &Length, 0xFFFFF, 0x8000, &Attributes), EFI_DEVICE_ERROR);
  // The pool ends at 0xE0380000: a fourth aligned megabyte does not fit.
  EXPECT_EQ(Protocol->AllocateMmio(Protocol, &Base, &Length, 0xFFFFF, 0x8000, &Attributes), EFI_OUT_OF_RESOURCES);
  ASSERT_EQ(Allocator.Allocations().size(), 4u);
  EXPECT_EQ(Allocator.Allocations()[0].Target, 0x8000u);
  EXPECT_EQ(Allocator.Allocations()[0].Attributes, 0x83);
}

TEST(RegionService, KeepsTheRegisteredRegionsWithoutARecordArgument) {
  FaultInjector Faults({{"region", "RegisterRegion", 2, EFI_OUT_OF_RESOURCES}});
  RegionService Regions(Faults);
  QORVEX_REGION_SERVICES_PROTOCOL *Protocol = Regions.Protocol();
  EXPECT_EQ(Protocol->RegisterRegion(0x7EFC0000, 0x18000, 0), EFI_SUCCESS);
  EXPECT_EQ(Protocol->RegisterRegion(0x7EF00000, 0x1000, 1), EFI_OUT_OF_RESOURCES);
  UINTN Count = 0;
  ASSERT_EQ(Protocol->GetRegionCount(&Count), EFI_SUCCESS);
  EXPECT_EQ(Count, 1u);
  EFI_PHYSICAL_ADDRESS Base = 0;
  UINT64 Length = 0;
  ASSERT_EQ(Protocol->GetRegion(0, &Base, &Length), EFI_SUCCESS);
  EXPECT_EQ(Base, 0x7EFC0000u);
  EXPECT_EQ(Length, 0x18000u);
  EXPECT_EQ(Regions.Regions().size(), 2u);
}

TEST(PlatformServiceKeys, AreReadStrictly) {
  const std::string Base = R"({"name": "m", "topology": {"sockets": 1, "dies_per_socket": 1, "complex_dies_per_die": 1,
    "complexes_per_complex_die": 1, "cores_per_complex": 1, "threads_per_core": 1},
    "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]}, "msrs": {"0xC0010058": "0x000003FB00000021"}, )";
  const Machine Read = ParseMachine(
      Base + R"("soc": {"max_core_fid": "0xC8", "smt": false}, "smu": {"registers": {"0x3008101C": "0x100"}},
               "mmio_pool": {"base": "0xD0000000", "size": "0x1000000"}, "siblings": {"region": "absent"}})",
      "m.json");
  EXPECT_EQ(Read.Soc.MaxCoreFid, 0xC8);
  EXPECT_EQ(Read.Soc.Smt, false);
  EXPECT_EQ(Read.Smu.Registers.at(0x3008101C), 0x100u);
  EXPECT_EQ(Read.MmioPool.Base, 0xD0000000u);
  EXPECT_FALSE(Read.SiblingExists("region"));
  EXPECT_TRUE(Read.SiblingAtStart("soc"));
  EXPECT_THROW(ParseMachine(Base + R"("soc": {"max_fid": 1}})", "m.json"), MachineError);
  EXPECT_THROW(ParseMachine(Base + R"("smu": {"registers": {"r1": 1}}})", "m.json"), MachineError);
  EXPECT_THROW(ParseMachine(Base + R"("mmio_pool": {"base": "0xD0001000"}})", "m.json"), MachineError);
}

}  // namespace
}  // namespace sim
