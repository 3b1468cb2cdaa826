// The BSP thread kept between boots: a boot that returned leaves its thread for the next boot, a
// boot that ended from inside (a reset, a halt, a fault of the image) leaves it parked and the next
// boot gets another. A boot that ends on another thread, or runs past its limit, is abandoned.
#include <gtest/gtest.h>

#include <chrono>
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

TEST_F(KeptBspThreadTest, SimulatorErrorFromInsideReturnsWithoutWaitingForTheParkedThread) {
  // A fault of image code on the BSP ends the boot from inside as a simulator error; the thread
  // never becomes idle again, so waiting for it would hang.
  BootControl Control;
  const BootEnd End = Control.Run([&] { Control.EndFromInside({BootEnd::SimulatorError, 0, "invalid instruction"}); });
  EXPECT_EQ(End.How, BootEnd::SimulatorError);
  EXPECT_EQ(End.Detail, "invalid instruction");
  EXPECT_FALSE(Control.Abandoned());
}

TEST_F(KeptBspThreadTest, EndOnAnotherThreadOrPastTheLimitAbandonsTheBoot) {
  BootControl Control;
  BootEnd End = Control.Run([&] {
    // An AP parks for good; the BSP would wait for it for ever.
    std::thread Ap([&] { Control.EndFromInside({BootEnd::SimulatorError, 0, "fault on an AP"}); });
    Ap.detach();
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  });
  EXPECT_EQ(End.Detail, "fault on an AP");
  EXPECT_TRUE(Control.Abandoned());

  BootControl Limited;
  End = Limited.Run([] { for (;;) std::this_thread::sleep_for(std::chrono::hours(1)); }, std::chrono::seconds(1));
  EXPECT_EQ(End.How, BootEnd::SimulatorError);
  EXPECT_NE(End.Detail.find("did not end within 1 s"), std::string::npos) << End.Detail;
  EXPECT_TRUE(Limited.Abandoned());
  // A boot that ends within its limit is not abandoned.
  EXPECT_EQ(Limited.Run([] {}, std::chrono::seconds(60)).How, BootEnd::Returned);
  EXPECT_FALSE(Limited.Abandoned());
}

}  // namespace
}  // namespace sim
