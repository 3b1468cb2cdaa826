// The report's access section: phases with their estimate and largest shares, the totals of the
// boot and of the service calls kept apart, and times in readable units.
#include "tools/AccessReport.h"

#include <gtest/gtest.h>

#include <sstream>

namespace ccxsim {
namespace {

using sim::CountedAccess;

TEST(AccessReportTest, DurationsReadInTheirUnit) {
  const std::vector<std::pair<double, std::string>> Cases = {
      {0, "0 ns"},        {42, "42 ns"},         {1600, "1.6 us"},       {310000, "310 us"},
      {2.41e7, "24.1 ms"}, {1.5e9, "1500 ms"},
  };
  for (const auto &[Nanoseconds, Text] : Cases) EXPECT_EQ(DurationText(Nanoseconds), Text) << Nanoseconds;
}

TEST(AccessReportTest, ShowsEachPhaseWithItsLargestSharesAndKeepsServiceCallsApart) {
  sim::CostModel Model;
  Model.Source = "test.json";
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::MsrRead)] = 100;
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::Cpuid)] = 50;
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::BytesFilled)] = 0.1;

  sim::BootRecord Boot;
  sim::AccessPhase Entry{"entry", {}};
  Entry.Counts.Bsp[static_cast<size_t>(CountedAccess::MsrRead)] = 10;
  Entry.Counts.Ap[static_cast<size_t>(CountedAccess::MsrRead)] = 4;
  Entry.Counts.Bsp[static_cast<size_t>(CountedAccess::BytesFilled)] = 3000000;
  Entry.Counts.Bsp[static_cast<size_t>(CountedAccess::Cpuid)] = 4;
  sim::AccessPhase Service{kServicePhasePrefix + "SRAT entries", {}};
  Service.Counts.Bsp[static_cast<size_t>(CountedAccess::Cpuid)] = 20;
  Boot.Accesses = {Entry, {"ready_to_lock", {}}, {"after_boot", {}}, Service};

  std::ostringstream Out;
  PrintAccessReport(Out, Boot, Model);
  EXPECT_EQ(Out.str(),
            "\nhardware accesses and estimated time on hardware (latencies: test.json):\n"
            "  entry: 302 us, of which bytes filled 300 us, MSR reads 1.4 us\n"
            "    MSR reads 10 + 4 on APs, CPUID 4, bytes filled 3000000\n"
            "  ready_to_lock: 0 ns\n"
            "    no hardware accesses\n"
            "  service: SRAT entries: 1.0 us, of which CPUID 1.0 us\n"
            "    CPUID 20\n"
            "  total of the boot (every phase but the service calls): 302 us\n"
            "  total of the service calls: 1.0 us\n");
}

TEST(AccessReportTest, TotalsAddThePhasesOwnEstimates) {
  // One phase starts 100 APs at once, the other one AP at a time: summed counts would divide the
  // second phase's AP work by the first one's overlap.
  sim::CostModel Model;
  Model.Source = "test.json";
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::ApStart)] = 1000;
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::CacheFlush)] = 100000;
  sim::AccessPhase Parallel{kServicePhasePrefix + "PCCT", {}};
  Parallel.Counts.Bsp[static_cast<size_t>(CountedAccess::ApStart)] = 1;
  Parallel.Counts.Ap[static_cast<size_t>(CountedAccess::ApProcedure)] = 100;
  Parallel.Counts.Ap[static_cast<size_t>(CountedAccess::CacheFlush)] = 100;
  sim::AccessPhase OneByOne{kServicePhasePrefix + "SMBIOS", {}};
  OneByOne.Counts.Bsp[static_cast<size_t>(CountedAccess::ApStart)] = 10;
  OneByOne.Counts.Ap[static_cast<size_t>(CountedAccess::ApProcedure)] = 10;
  sim::BootRecord Boot;
  Boot.Accesses = {Parallel, OneByOne};
  std::ostringstream Out;
  PrintAccessReport(Out, Boot, Model);
  // 1 us + 100 ms / 100 for the first, 10 us for the second.
  EXPECT_NE(Out.str().find("  total of the service calls: 111 us\n"), std::string::npos) << Out.str();
}

TEST(AccessReportTest, JsonCarriesBothSidesAndTheEstimate) {
  sim::CostModel Model;
  Model.Source = "test.json";
  Model.Nanoseconds[static_cast<size_t>(CountedAccess::MsrWrite)] = 300;
  sim::BootRecord Boot;
  sim::AccessPhase Entry{"entry", {}};
  Entry.Counts.Bsp[static_cast<size_t>(CountedAccess::MsrWrite)] = 1;
  Entry.Counts.Ap[static_cast<size_t>(CountedAccess::MsrWrite)] = 2;
  Boot.Accesses = {Entry};
  const nlohmann::json Json = AccessReportJson(Boot, Model);
  EXPECT_EQ(Json["latencies"], "test.json");
  ASSERT_EQ(Json["phases"].size(), 1u);
  EXPECT_EQ(Json["phases"][0]["on_bsp"]["msr_write"], 1);
  EXPECT_EQ(Json["phases"][0]["on_aps"]["msr_write"], 2);
  EXPECT_EQ(Json["phases"][0]["service_call"], false);
  EXPECT_DOUBLE_EQ(Json["phases"][0]["estimate_ns"].get<double>(), 900.0);
}

}  // namespace
}  // namespace ccxsim
