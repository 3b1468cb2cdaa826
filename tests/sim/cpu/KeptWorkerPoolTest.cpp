// Worker pools kept between machines: the same threads serve the next machine while keeping is on,
// they are stopped when it is turned off, and a forked child never waits for its parent's threads.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <latch>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "sim/cpu/WorkerPool.h"

namespace sim {
namespace {

size_t HostThreadsOfThisProcess() {
  size_t Count = 0;
  for (const auto &Entry : std::filesystem::directory_iterator("/proc/self/task")) {
    static_cast<void>(Entry);
    Count++;
  }
  return Count;
}

// The host threads of a pool: one job per worker, each waiting until all have started, so that
// every worker runs one.
std::set<std::thread::id> ThreadsOf(WorkerPool &Pool) {
  std::mutex Lock;
  std::set<std::thread::id> Seen;
  std::latch AllStarted(static_cast<std::ptrdiff_t>(Pool.Size()));
  std::vector<WorkerPool::Job> Work(Pool.Size(), [&] {
    {
      std::lock_guard Guard(Lock);
      Seen.insert(std::this_thread::get_id());
    }
    AllStarted.arrive_and_wait();
  });
  Pool.Run(std::move(Work));
  return Seen;
}

class KeptWorkerPoolTest : public ::testing::Test {
 protected:
  void SetUp() override { WorkerPool::KeepForReuse(true); }
  void TearDown() override { WorkerPool::KeepForReuse(false); }
};

TEST_F(KeptWorkerPoolTest, NextMachineRunsOnTheThreadsGivenBack) {
  std::unique_ptr<WorkerPool> First = WorkerPool::Take(3);
  const std::set<std::thread::id> FirstThreads = ThreadsOf(*First);
  ASSERT_EQ(FirstThreads.size(), 3u);
  WorkerPool::GiveBack(std::move(First));

  // A pool of another size is not that one.
  std::unique_ptr<WorkerPool> Other = WorkerPool::Take(2);
  EXPECT_EQ(Other->Size(), 2u);
  std::unique_ptr<WorkerPool> Again = WorkerPool::Take(3);
  ASSERT_EQ(Again->Size(), 3u);
  EXPECT_EQ(ThreadsOf(*Again), FirstThreads);
  WorkerPool::GiveBack(std::move(Again));
  WorkerPool::GiveBack(std::move(Other));
}

TEST_F(KeptWorkerPoolTest, TurningKeepingOffStopsTheKeptThreads) {
  // A sanitizer may start a helper thread of its own with the process's first thread; let it.
  WorkerPool::Take(1).reset();
  const size_t Before = HostThreadsOfThisProcess();
  WorkerPool::GiveBack(WorkerPool::Take(3));
  EXPECT_EQ(HostThreadsOfThisProcess(), Before + 3);
  WorkerPool::KeepForReuse(false);
  EXPECT_EQ(HostThreadsOfThisProcess(), Before);
  // Given back while keeping is off: stopped at once.
  WorkerPool::GiveBack(WorkerPool::Take(2));
  EXPECT_EQ(HostThreadsOfThisProcess(), Before);
}

TEST_F(KeptWorkerPoolTest, ForkedChildGetsThreadsOfItsOwn) {
#if defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the thread sanitizer ends a child that starts threads after a multi-threaded fork";
#endif
  WorkerPool::GiveBack(WorkerPool::Take(3));
  const pid_t Child = fork();
  ASSERT_GE(Child, 0);
  if (Child == 0) {
    // Taking the parent's kept pool would wait forever for threads the child does not have.
    alarm(20);
    std::unique_ptr<WorkerPool> Pool = WorkerPool::Take(3);
    std::atomic<int> Ran{0};
    Pool->Run(std::vector<WorkerPool::Job>(8, [&] { Ran++; }));
    _exit(Ran == 8 ? 0 : 1);
  }
  int Status = 0;
  ASSERT_EQ(waitpid(Child, &Status, 0), Child);
  ASSERT_TRUE(WIFEXITED(Status)) << "the child was ended by signal " << WTERMSIG(Status);
  EXPECT_EQ(WEXITSTATUS(Status), 0);
}

}  // namespace
}  // namespace sim
