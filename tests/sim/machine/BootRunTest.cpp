// A machine over a run of boots: the down-cored flag as the down-core heap buffer, the per-boot
// variations, and the errors a malformed run gets.
#include <gtest/gtest.h>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"
#include "tests/sim/machine/MinimalMachine.h"

namespace sim {
namespace {

size_t DownCoreBuffers(const Machine &Description) {
  size_t Count = 0;
  for (const HeapHobRecord &Record : Description.HeapHobs) Count += Record.Handle == kDownCoreHeapHandle;
  return Count;
}

TEST(BootRun, DownCoredMachineHandsOverTheDownCoreBuffer) {
  const Machine DownCored = ParseMachine(Minimal(R"(, "down_cored": true)"), "m.json");
  EXPECT_TRUE(IsDownCored(DownCored));
  EXPECT_EQ(DownCoreBuffers(DownCored), 1u);
  EXPECT_FALSE(IsDownCored(ParseMachine(Minimal(R"(, "down_cored": false)"), "m.json")));
  EXPECT_FALSE(IsDownCored(ParseMachine(Minimal(""), "m.json")));
}

// Boot N takes entry N; every boot after the list takes the last entry; an entry without the field
// keeps the machine's own setting.
TEST(BootRun, EachBootTakesItsEntryAndLaterBootsTheLast) {
  const Machine Run = ParseMachine(
      Minimal(R"(, "down_cored": true, "boots": [{}, {"down_cored": false}, {"down_cored": true}, {}])"), "m.json");
  const std::vector<bool> Expected = {true, false, true, true, true, true};
  for (uint64_t Boot = 1; Boot <= Expected.size(); Boot++) {
    const Machine ThisBoot = MachineForBoot(Run, Boot);
    EXPECT_EQ(IsDownCored(ThisBoot), Expected[Boot - 1]) << "boot " << Boot;
    EXPECT_LE(DownCoreBuffers(ThisBoot), 1u);
  }
}

TEST(BootRun, DownCoreRunExampleGoesBackToAuto) {
  const Machine Run = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/down-core-run.json");
  EXPECT_TRUE(IsDownCored(MachineForBoot(Run, 1)));
  EXPECT_FALSE(IsDownCored(MachineForBoot(Run, 2)));
  EXPECT_FALSE(IsDownCored(MachineForBoot(Run, 3)));
}

struct BadRun {
  std::string Extra;
  const char *Expected;
};

class MalformedRun : public ::testing::TestWithParam<BadRun> {};

TEST_P(MalformedRun, IsRefusedWithTheFieldPath) {
  try {
    ParseMachine(Minimal(GetParam().Extra), "bad.json");
    FAIL() << "accepted " << GetParam().Extra;
  } catch (const MachineError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Expected), std::string::npos) << Error.what();
  }
}

INSTANTIATE_TEST_SUITE_P(Errors, MalformedRun,
                         ::testing::Values(BadRun{R"(, "boots": {"down_cored": true})", "bad.json: boots: expected"},
                                           BadRun{R"(, "boots": [{"downcored": true}])", "boots[0].downcored"},
                                           BadRun{R"(, "boots": [{"down_cored": 1}])", "boots[0].down_cored"},
                                           BadRun{R"(, "down_cored": "yes")", "bad.json: down_cored"}));

}  // namespace
}  // namespace sim
