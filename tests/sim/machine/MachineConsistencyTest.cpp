// Warnings from the description alone: a machine whose processors' APIC IDs pass 254 while its
// APIC mode stays xAPIC is told that the SRAT will leave processors out and which item and value
// change that; a machine larger than the resource affinity table's sibling maps, and I/O power
// states without a port, are told too; the default machine hears nothing. And the cross-field
// refusals of the address map.
#include "sim/machine/MachineConsistency.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/machine/JsonFields.h"

namespace sim {
namespace {

// Two sockets of 12 complex dies of 8 cores with 2 threads: 384 threads, socket 1 numbered from 0x100.
Machine WideMachine(const std::string &Pcd) {
  return ParseMachine(R"({"extends": "default", "name": "wide", "topology": {"sockets": 2, "complex_dies_per_die": 12},
                          "pcd": {)" + Pcd + "}}",
                      "wide.json");
}

TEST(ConsistencyWarnings, XapicModeWithApicIdsAbove254NamesTheItemAndTheValueThatFixesIt) {
  const std::vector<std::string> Lines = ConsistencyWarningLines(WideMachine(R"("PcdCcxApicMode": 1)"));
  ASSERT_EQ(Lines.size(), 2u);
  EXPECT_EQ(Lines[0],
            "WARNING: 192 of 384 processors have APIC IDs of 255 or above (0x100 to 0x1BF) and PcdCcxApicMode 1 "
            "leaves the driver in xAPIC mode, so the SRAT will describe only 192 of the 384 processors; set "
            "pcd.PcdCcxApicMode to 2 (x2APIC) to describe all 384");
  EXPECT_EQ(Lines[1],
            "WARNING: 384 processors, but the sibling map of a cache or TLB entry of the resource affinity table holds "
            "256 positions, so the entries of processors 256 to 383 (in walk order) will mark no sibling; no "
            "configuration item changes it; a topology of at most 256 threads does");
}

TEST(ConsistencyWarnings, IoPowerStatesWithoutAPortAreReportedDisabled) {
  const Machine NoPort = ParseMachine(
      R"({"extends": "default", "name": "m", "pcd": {"PcdCcxIoPowerStateMode": 1}})", "power.json");
  const std::vector<std::string> Lines = ConsistencyWarningLines(NoPort);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Lines[0],
            "WARNING: PcdCcxIoPowerStateMode 1 asks for I/O power states, but PcdCcxIoPowerStateBaseAddress, unset "
            "(0), gives them no port, so the power-state record will say disabled; set "
            "pcd.PcdCcxIoPowerStateBaseAddress to the I/O base of the power-state registers (not 0)");
  const Machine WithPort = ParseMachine(
      R"({"extends": "default", "name": "m", "pcd": {"PcdCcxIoPowerStateMode": 1, "PcdCcxIoPowerStateBaseAddress": "0x410"}})",
      "power.json");
  EXPECT_TRUE(ConsistencyWarnings(WithPort).empty());
}

TEST(ConsistencyWarnings, TheDefaultMachineHasNone) { EXPECT_TRUE(ConsistencyWarnings(DefaultMachine()).empty()); }

// Ranges of the address map that cannot be are refused as the file is read, at the field that
// gives them and naming the other range, where they would otherwise boot into wrong registers or
// stop the boot.
struct MapCase {
  const char *Why;
  const char *Members;   // over the default machine
  const char *Expected;  // the whole message
};

class AddressMap : public ::testing::TestWithParam<MapCase> {};

TEST_P(AddressMap, IsRefusedAtTheFieldThatGivesTheRange) {
  try {
    ParseMachine(std::string(R"({"extends": "default", )") + GetParam().Members + "}", "map.json");
    FAIL() << "accepted: " << GetParam().Why;
  } catch (const MachineError &Error) {
    EXPECT_STREQ(Error.what(), GetParam().Expected) << GetParam().Why;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ranges, AddressMap,
    ::testing::Values(
        MapCase{"SMRAM past the 48-bit width", R"("smram": [{"base": "0x1000000000000", "size": "0x400000"}])",
                "map.json: smram[0]: the range (0x1000000000000-0x10000003FFFFF) ends above the processor's "
                "physical address space of 48 bits (built-in default machine: cpuid.0x80000008 EAX bits 7:0)"},
        MapCase{"a narrower width leaves the configuration window out",
                R"("cpuid": {"0x80000008": {"eax": "0x3028"}})",
                "built-in default machine: msrs.0xC0010058: the PCI configuration window (0x3FB00000000-0x3FB0FFFFFFF) "
                "ends above the processor's physical address space of 40 bits (map.json and built-in default "
                "machine: cpuid.0x80000008 EAX bits 7:0)"},
        MapCase{"SMRAM regions over each other",
                R"("smram": [{"base": "0x7F000000", "size": "0x400000"}, {"base": "0x7F200000", "size": "0x400000"}])",
                "map.json: smram[1]: the range (0x7F200000-0x7F5FFFFF) overlaps smram[0] (0x7F000000-0x7F3FFFFF)"},
        MapCase{"SMRAM inside DRAM", R"("smram": [{"base": "0x40000000", "size": "0x400000"}])",
                "map.json: smram[0]: the range (0x40000000-0x403FFFFF) overlaps memory.dram[0] (0x100000-0x7EFFFFFF)"},
        MapCase{"a configuration window over the coprocessor", R"("msrs": {"0xC0010058": "0x00000000F0000021"})",
                "map.json: msrs.0xC0010058: the PCI configuration window (0xF0000000-0xFFFFFFFF) overlaps the "
                "coprocessor's MMIO block (0xFEB00000-0xFEBFFFFF)"},
        MapCase{"a configuration base the BSP has of its own, unaligned",
                R"("processors": [{"index": 0, "msrs": {"0xC0010058": "0x000003FB08000021"}}])",
                "map.json: processors[0].msrs.0xC0010058: the PCI configuration window starts at 0x3FB08000000, which "
                "is not 256 MB aligned (bits 27:20 of MSR 0xC0010058 are 0)"},
        MapCase{"the MMIO pool over DRAM", R"("mmio_pool": {"base": "0x40000000"})",
                "map.json: mmio_pool.base: the fabric MMIO pool (0x40000000-0x4FFFFFFF) overlaps memory.dram[0] "
                "(0x100000-0x7EFFFFFF)"}));

TEST(AddressMapOf, AbsentCoprocessorAndAdjacentRangesAreNoOverlap) {
  // The default's SMRAM starts where its DRAM ends; an absent coprocessor claims no block.
  const Machine M = ParseMachine(R"({"extends": "default", "coprocessor": {"present": false},
                                    "mmio_pool": {"base": "0xFEB00000", "size": "0x100000"}})",
                                 "map.json");
  EXPECT_EQ(M.MmioPool.Base, 0xFEB00000u);
}

}  // namespace
}  // namespace sim
