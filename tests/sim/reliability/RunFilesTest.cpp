// The files a run keeps for itself: the lock that keeps a second run off a store or output folder,
// and the temporary folders a signal must not leave behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "sim/files/LockFile.h"
#include "sim/files/TemporaryPaths.h"

namespace sim {
namespace {

class RunFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Directory_ = std::filesystem::temp_directory_path() /
                 ("ccx-run-files-" + std::to_string(getpid()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(Directory_);
    std::filesystem::create_directories(Directory_);
  }
  void TearDown() override { std::filesystem::remove_all(Directory_); }

  std::filesystem::path Directory_;
};

std::string Refusal(const std::filesystem::path &Path) {
  try {
    LockFile Second(Path, "variable store 'vars'");
  } catch (const LockFileError &Error) {
    return Error.what();
  }
  return {};
}

TEST_F(RunFilesTest, ASecondLockIsRefusedNamingTheHolder) {
  const std::filesystem::path Path = Directory_ / "vars.lock";
  {
    LockFile First(Path, "variable store 'vars'");
    EXPECT_EQ(Refusal(Path), "variable store 'vars' is in use by another run: process " + std::to_string(getpid()) +
                                 " holds its lock file '" + Path.string() + "'");
  }
  // Let go: the lock file is gone and the next run takes the lock.
  EXPECT_FALSE(std::filesystem::exists(Path));
  EXPECT_EQ(Refusal(Path), "");
}

TEST_F(RunFilesTest, ALockHeldByAnotherProcessIsRefusedEvenIfItsFileIsLeftOver) {
  const std::filesystem::path Path = Directory_ / "out.lock";
  // A lock file a killed run left behind, its process ID still in it, is taken by the next run.
  std::ofstream(Path) << "999999\n";
  { LockFile Taken(Path, "output folder 'out'"); }
  std::ofstream(Path) << "4242\n";
  int Ready[2];
  ASSERT_EQ(pipe(Ready), 0);
  const pid_t Holder = fork();
  if (Holder == 0) {
    LockFile Held(Path, "output folder 'out'");
    (void)!write(Ready[1], "x", 1);
    pause();
    _exit(0);
  }
  char Byte;
  ASSERT_EQ(read(Ready[0], &Byte, 1), 1);
  EXPECT_NE(Refusal(Path).find("in use by another run: process " + std::to_string(Holder) + " holds"),
            std::string::npos)
      << Refusal(Path);
  kill(Holder, SIGKILL);
  waitpid(Holder, nullptr, 0);
  close(Ready[0]);
  close(Ready[1]);
  // Killed, the holder let go of the lock although its lock file stays.
  EXPECT_EQ(Refusal(Path), "");
}

TEST_F(RunFilesTest, ASymlinkPlantedAtTheLockFileIsNotFollowed) {
  const std::filesystem::path Victim = Directory_ / "victim";
  std::ofstream(Victim) << "keep me\n";
  std::filesystem::create_symlink(Victim, Directory_ / "vars.lock");
  EXPECT_NE(Refusal(Directory_ / "vars.lock").find("cannot create its lock file"), std::string::npos);
  std::ifstream In(Victim);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(In)), std::istreambuf_iterator<char>()), "keep me\n");
}

// A run ended by a signal while its boot is stuck removes its temporary folders, then dies of that
// signal as it would have without them.
TEST_F(RunFilesTest, ASignalRemovesTheScratchFoldersAndStillEndsTheProcess) {
  for (int Signal : {SIGTERM, SIGINT, SIGHUP}) {
    int Ready[2];
    ASSERT_EQ(pipe(Ready), 0);
    const pid_t Child = fork();
    if (Child == 0) {
      setenv("TMPDIR", Directory_.c_str(), 1);
      ScratchFolder Scratch("ccxsim");
      std::filesystem::create_directories(Scratch.Path() / "disk" / "deeper");
      std::ofstream(Scratch.Path() / "disk" / "deeper" / "file") << "data";
      std::ofstream(Scratch.Path() / "variables.store") << "data";
      const std::string Name = Scratch.Path().string();
      (void)!write(Ready[1], Name.data(), Name.size());
      close(Ready[1]);
      for (;;) pause();  // stuck
    }
    close(Ready[1]);
    std::string Name;
    char Buffer[256];
    for (ssize_t Got; (Got = read(Ready[0], Buffer, sizeof(Buffer))) > 0;) Name.append(Buffer, Got);
    close(Ready[0]);
    ASSERT_TRUE(std::filesystem::is_directory(Name)) << Name;
    kill(Child, Signal);
    int Status = 0;
    ASSERT_EQ(waitpid(Child, &Status, 0), Child);
    EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == Signal) << "status " << Status;
    EXPECT_FALSE(std::filesystem::exists(Name)) << strsignal(Signal) << " left " << Name;
  }
}

}  // namespace
}  // namespace sim
