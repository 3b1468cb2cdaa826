// The fuzz targets keep host threads and host memory from one execution to the next. An input's
// outcome (the digest of what its execution observed) must not depend on what ran before it: each
// corpus input gives the same digest on a platform made from nothing, in a kept run of the corpus
// in order, and in a kept run in the reverse order. CCX_FUZZ_REPLAY_ALL=1 replays whole corpora;
// by default a spread of each keeps the test short.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fuzz/Outcome.h"
#include "sim/platform/BootRunner.h"

extern "C" int FuzzNvTableOneInput(const uint8_t *Data, size_t Size);
extern "C" int FuzzHobListOneInput(const uint8_t *Data, size_t Size);
extern "C" int FuzzTokenStoreOneInput(const uint8_t *Data, size_t Size);
extern "C" int FuzzS3TableOneInput(const uint8_t *Data, size_t Size);
extern "C" int FuzzWholeBootOneInput(const uint8_t *Data, size_t Size);

namespace {

struct ReplayedTarget {
  const char *Name;
  int (*Execute)(const uint8_t *, size_t);
  size_t Spread;  // how many corpus inputs the default run replays
};

const ReplayedTarget kTargets[] = {
    {"nv_table", FuzzNvTableOneInput, 16},     {"hob_list", FuzzHobListOneInput, 16},
    {"token_store", FuzzTokenStoreOneInput, 16}, {"s3_table", FuzzS3TableOneInput, 16},
    {"whole_boot", FuzzWholeBootOneInput, 8},
};

struct CorpusInput {
  std::string Name;
  std::vector<uint8_t> Bytes;
};

// The corpus in file-name order, or an even spread of Most inputs of it.
std::vector<CorpusInput> ReadCorpus(const std::string &Target, size_t Most) {
  std::vector<std::filesystem::path> Files;
  for (const auto &Entry : std::filesystem::directory_iterator(std::string(CCX_FUZZ_CORPUS_DIR) + "/" + Target)) {
    if (Entry.is_regular_file()) Files.push_back(Entry.path());
  }
  std::sort(Files.begin(), Files.end());
  const bool All = std::getenv("CCX_FUZZ_REPLAY_ALL") != nullptr;
  const size_t Step = All || Files.size() <= Most ? 1 : Files.size() / Most;
  std::vector<CorpusInput> Inputs;
  for (size_t Index = 0; Index < Files.size(); Index += Step) {
    std::ifstream In(Files[Index], std::ios::binary);
    Inputs.push_back({Files[Index].filename().string(),
                      std::vector<uint8_t>(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>())});
  }
  return Inputs;
}

uint64_t Outcome(const ReplayedTarget &Target, const CorpusInput &Input) {
  fuzz::TakeOutcome();
  Target.Execute(Input.Bytes.data(), Input.Bytes.size());
  return fuzz::TakeOutcome();
}

class CorpusReplay : public testing::TestWithParam<ReplayedTarget> {
 protected:
  void TearDown() override { sim::KeepHostResourcesBetweenBoots(false); }
};

TEST_P(CorpusReplay, OutcomeIsTheSameInAnyOrderAndOnAFreshPlatform) {
  const ReplayedTarget &Target = GetParam();
  const std::vector<CorpusInput> Inputs = ReadCorpus(Target.Name, Target.Spread);
  ASSERT_FALSE(Inputs.empty()) << "no corpus for " << Target.Name;

  // Nothing kept: every execution maps its memory and starts its threads anew.
  sim::KeepHostResourcesBetweenBoots(false);
  std::vector<uint64_t> Fresh;
  for (const CorpusInput &Input : Inputs) Fresh.push_back(Outcome(Target, Input));

  sim::KeepHostResourcesBetweenBoots(true);
  std::vector<uint64_t> Forward;
  for (const CorpusInput &Input : Inputs) Forward.push_back(Outcome(Target, Input));
  std::vector<uint64_t> Backward(Inputs.size());
  for (size_t Index = Inputs.size(); Index-- > 0;) Backward[Index] = Outcome(Target, Inputs[Index]);

  for (size_t Index = 0; Index < Inputs.size(); Index++) {
    EXPECT_TRUE(Forward[Index] == Fresh[Index] && Backward[Index] == Fresh[Index])
        << Target.Name << " input " << Inputs[Index].Name << ": a kept run (in corpus order "
        << (Forward[Index] == Fresh[Index] ? "agrees" : "differs") << ", in reverse "
        << (Backward[Index] == Fresh[Index] ? "agrees" : "differs") << ") against a fresh platform";
  }
  // A digest that observed nothing would agree everywhere; the inputs of a corpus reach different
  // ends (many malformed lists are refused alike, so not every input has an outcome of its own).
  const size_t Distinct = std::set<uint64_t>(Fresh.begin(), Fresh.end()).size();
  EXPECT_GE(Distinct, 3u) << Target.Name << ": the corpus gives only " << Distinct << " different outcomes";
}

INSTANTIATE_TEST_SUITE_P(Targets, CorpusReplay, testing::ValuesIn(kTargets),
                         [](const testing::TestParamInfo<ReplayedTarget> &Info) {
                           std::string Name = Info.param.Name;
                           Name.erase(std::remove(Name.begin(), Name.end(), '_'), Name.end());
                           return Name;
                         });

}  // namespace
