// Warnings from the description alone: a machine whose processors' APIC IDs pass 254 while its
// APIC mode stays xAPIC is told that the SRAT will leave processors out and which item and value
// change that; a machine larger than the resource affinity table's sibling maps, and I/O power
// states without a port, are told too; the default machine hears nothing.
#include "sim/machine/MachineConsistency.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace sim
