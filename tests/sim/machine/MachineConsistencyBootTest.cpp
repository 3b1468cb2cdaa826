// The SRAT warning says what a boot then shows: on a 384-thread machine in xAPIC mode the SRAT
// builder gets entries for exactly the processors the warning leaves in, and with the value the
// warning names the warning is gone and every processor gets its x2APIC entry.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "driver/ImageDescriptor.h"
#include "sim/consumers/SratBuilder.h"
#include "sim/machine/MachineConsistency.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

struct BootedSrat {
  SratReport Srat;
  std::set<uint32_t> ApicIds;
};

BootedSrat BootAndBuildSrat(const Machine &Description) {
  BootedSrat Result;
  BootOptions Options;
  Options.AfterBoot = [&Result](Platform &Machine) {
    for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
      Result.ApicIds.insert(Machine.Processors().At(Index).ApicId());
    }
    Result.Srat = BuildSrat(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  return Result;
}

Machine WideMachine(unsigned ApicMode) {
  return ParseMachine(R"({"extends": "default", "name": "wide", "topology": {"sockets": 2, "complex_dies_per_die": 12},
                          "pcd": {"PcdCcxApicMode": )" + std::to_string(ApicMode) + "}}",
                      "wide.json");
}

bool WarnsAboutTheSrat(const Machine &Description) {
  for (const MachineWarning &Warning : ConsistencyWarnings(Description)) {
    if (Warning.Remedy.find("pcd.PcdCcxApicMode to 2") != std::string::npos) return true;
  }
  return false;
}

TEST(SratWarning, XapicModeLeavesOutTheProcessorsTheWarningCounts) {
  const Machine Xapic = WideMachine(1);
  ASSERT_TRUE(WarnsAboutTheSrat(Xapic));
  const BootedSrat Booted = BootAndBuildSrat(Xapic);
  ASSERT_EQ(Booted.ApicIds.size(), 384u);
  EXPECT_TRUE(Booted.Srat.Errors.empty()) << Booted.Srat.Errors.front();
  ASSERT_EQ(Booted.Srat.Processors.size(), 192u);
  for (const SratProcessorEntry &Entry : Booted.Srat.Processors) EXPECT_LT(Entry.ApicId, 255u);
}

TEST(SratWarning, TheNamedValueGivesEveryProcessorAnEntry) {
  const Machine X2apic = WideMachine(2);
  EXPECT_FALSE(WarnsAboutTheSrat(X2apic));
  const BootedSrat Booted = BootAndBuildSrat(X2apic);
  EXPECT_TRUE(Booted.Srat.Errors.empty()) << Booted.Srat.Errors.front();
  std::set<uint32_t> Described;
  for (const SratProcessorEntry &Entry : Booted.Srat.Processors) Described.insert(Entry.ApicId);
  EXPECT_EQ(Booted.Srat.Processors.size(), 384u);
  EXPECT_EQ(Described, Booted.ApicIds);
}

}  // namespace
}  // namespace sim
