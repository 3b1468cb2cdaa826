// The BSP thread kept between boots: a boot that returned leaves its thread for the next boot, a
// boot that ended from inside (a reset, a halt) leaves it parked and the next boot gets another.
#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>

#include "sim/platform/BootControl.h"

namespace sim {
namespace {

class KeptBspThreadTest : public ::testing::Test {
 protected:
  void SetUp() override { BootControl::KeepBspThreadsForReuse(true); }
  void TearDown() override { BootControl::KeepBspThreadsForReuse(false); }
};

std::thread::id BootAndTellThread(BootControl &Control, BootEnd &End) {
  std::thread::id Ran;
  End = Control.Run([&] { Ran = std::this_thread::get_id(); });
  return Ran;
}

TEST_F(KeptBspThreadTest, ReturnedBootLeavesItsThreadForTheNext) {
  BootControl Control;
  BootEnd End;
  const std::thread::id First = BootAndTellThread(Control, End);
  EXPECT_EQ(End.How, BootEnd::Returned);
  EXPECT_NE(First, std::this_thread::get_id());
  EXPECT_EQ(BootAndTellThread(Control, End), First);
  EXPECT_EQ(End.How, BootEnd::Returned);

  // A failure of the simulator ends the boot but not the thread.
  End = Control.Run([] { throw std::runtime_error("machine fault"); });
  EXPECT_EQ(End.How, BootEnd::SimulatorError);
  EXPECT_EQ(End.Detail, "machine fault");
  EXPECT_EQ(BootAndTellThread(Control, End), First);
}

TEST_F(KeptBspThreadTest, BootEndedFromInsideParksItsThreadAndTheNextBootRuns) {
  BootControl Control;
  BootEnd End;
  const std::thread::id First = BootAndTellThread(Control, End);
  std::thread::id Parked;
  End = Control.Run([&] {
    Parked = std::this_thread::get_id();
    Control.EndFromInside({BootEnd::Reset, 2, "cold reset"});
  });
  EXPECT_EQ(End.How, BootEnd::Reset);
  EXPECT_EQ(End.Code, 2u);
  EXPECT_EQ(Parked, First);
  // The parked thread never comes back: the next boot runs, on another thread, and returns.
  const std::thread::id Next = BootAndTellThread(Control, End);
  EXPECT_EQ(End.How, BootEnd::Returned);
  EXPECT_NE(Next, Parked);
}

}  // namespace
}  // namespace sim
