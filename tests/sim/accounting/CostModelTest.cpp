// The estimate's arithmetic and the strict reading of the latency file.
#include "sim/platform/CostModel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/machine/JsonFields.h"

namespace sim {
namespace {

CostModel ModelOf(std::initializer_list<std::pair<CountedAccess, double>> Latencies) {
  CostModel Model;
  for (const auto &[Kind, Nanoseconds] : Latencies) Model.Nanoseconds[static_cast<size_t>(Kind)] = Nanoseconds;
  return Model;
}

struct EstimateCase {
  const char *Name;
  AccessCounts Counts;
  double Expected;
};

AccessCounts Counts(std::initializer_list<std::tuple<CountedAccess, bool, uint64_t>> Entries) {
  AccessCounts Result;
  for (const auto &[Kind, OnAp, Amount] : Entries) (OnAp ? Result.Ap : Result.Bsp)[static_cast<size_t>(Kind)] = Amount;
  return Result;
}

// MSR read 100 ns, MSR write 300 ns, AP start 20 us, AP procedure 500 ns, a filled byte 0.1 ns.
const CostModel kModel = ModelOf({{CountedAccess::MsrRead, 100},
                                  {CountedAccess::MsrWrite, 300},
                                  {CountedAccess::ApStart, 20000},
                                  {CountedAccess::ApProcedure, 500},
                                  {CountedAccess::BytesFilled, 0.1}});

const std::vector<EstimateCase> kEstimates = {
    {"BspWorkAddsUp", Counts({{CountedAccess::MsrRead, false, 10}, {CountedAccess::MsrWrite, false, 2}}), 1600},
    {"BytesAreChargedPerByte", Counts({{CountedAccess::BytesFilled, false, 3 * 1024 * 1024}}), 314572.8},
    // One start over 127 APs, each reading 2 MSRs: the start, plus one AP's share.
    {"ParallelApWorkCountsOnce",
     Counts({{CountedAccess::ApStart, false, 1}, {CountedAccess::ApProcedure, true, 127}, {CountedAccess::MsrRead, true, 254}}),
     20000 + 500 + 200},
    // Two starts of one AP each (StartupThisAP in a loop) run one after the other.
    {"OneApAtATimeAddsUp",
     Counts({{CountedAccess::ApStart, false, 2}, {CountedAccess::ApProcedure, true, 2}, {CountedAccess::MsrRead, true, 6}}),
     40000 + 1000 + 600},
    // AP-side counts without a start (a procedure that was still running) are not divided.
    {"ApWorkWithoutStartIsNotDivided", Counts({{CountedAccess::MsrWrite, true, 3}}), 900},
    {"KindsWithoutLatencyCostNothing", Counts({{CountedAccess::Cpuid, false, 1000}}), 0},
};

class EstimateTest : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(EstimateTest, GivesTheExpectedNanoseconds) {
  const PhaseEstimate Estimate = EstimatePhase(kModel, {"phase", GetParam().Counts});
  EXPECT_DOUBLE_EQ(Estimate.Total, GetParam().Expected);
  double Sum = 0;
  for (double Share : Estimate.ByKind) Sum += Share;
  EXPECT_DOUBLE_EQ(Sum, Estimate.Total);
}

INSTANTIATE_TEST_SUITE_P(Phases, EstimateTest, ::testing::ValuesIn(kEstimates),
                         [](const auto &Info) { return std::string(Info.param.Name); });

// A complete file with one entry replaced by Replacement (or removed when it is empty).
std::string ModelText(const std::string &Kind, const std::string &Replacement) {
  std::string Text = "{\"latencies\": {";
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    const std::string Key = CountedAccessKey(CountedAccess(Index));
    const std::string Entry = Key == Kind ? Replacement : "\"" + Key + "\": {\"ns\": 1, \"why\": \"a guess\"}";
    if (Entry.empty()) continue;
    Text += (Text.back() == '{' ? "" : ", ") + Entry;
  }
  return Text + "}}";
}

TEST(CostModelTest, ReadsEveryKind) {
  const CostModel Model = ParseCostModel(ModelText("msr_write", "\"msr_write\": {\"ns\": 0.25}"), "test");
  EXPECT_DOUBLE_EQ(Model.Of(CountedAccess::MsrWrite), 0.25);
  EXPECT_DOUBLE_EQ(Model.Of(CountedAccess::BytesCopied), 1);
  EXPECT_EQ(Model.Source, "test");
}

class BadModelTest : public ::testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(BadModelTest, IsRefusedNamingTheField) {
  const auto &[Text, Message] = GetParam();
  try {
    ParseCostModel(Text, "costs.json");
    FAIL() << "accepted " << Text;
  } catch (const MachineError &Error) {
    EXPECT_EQ(std::string(Error.what()), Message);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Files, BadModelTest,
    ::testing::Values(
        std::make_pair(ModelText("cache_flush", ""), "costs.json: latencies: missing field \"cache_flush\""),
        std::make_pair(ModelText("cpuid", "\"cpuid\": {\"ns\": -1}"),
                       "costs.json: latencies.cpuid.ns: a latency is a finite number of at least 0"),
        std::make_pair(ModelText("cpuid", "\"cpuid\": {\"ns\": \"fast\"}"),
                       "costs.json: latencies.cpuid.ns: expected a number of nanoseconds, got \"fast\""),
        std::make_pair(ModelText("cpuid", "\"cpuid\": {\"ns\": 1}, \"rdrand\": {\"ns\": 1}"),
                       "costs.json: latencies.rdrand: unknown kind of access \"rdrand\""),
        // Read by the same strict reader as a machine description: the second value would win silently.
        std::make_pair(ModelText("cpuid", "\"cpuid\": {\"ns\": 1, \"ns\": 2}"),
                       "costs.json: latencies.cpuid: the key \"ns\" appears twice in this object")));

TEST(CostModelTest, AFileThatIsNoRegularFileIsRefusedAtOnce) {
  try {
    LoadCostModelFile("/dev/zero");
    FAIL() << "read /dev/zero";
  } catch (const MachineError &Error) {
    EXPECT_STREQ(Error.what(), "/dev/zero (cost model): is a character device, not a regular file");
  }
}

TEST(CostModelTest, ShippedLatenciesGiveEveryKindATime) {
  const CostModel &Model = DefaultCostModel();
  EXPECT_EQ(Model.Source, "built-in");
  for (size_t Index = 0; Index < kCountedAccessKinds; Index++) {
    EXPECT_GT(Model.Nanoseconds[Index], 0) << CountedAccessKey(CountedAccess(Index));
  }
}

}  // namespace
}  // namespace sim
