// The variable store file survives a process killed while it is being written. A child process
// makes one change to a store attached to the file and is killed with SIGKILL at a chosen point:
// the file-size limit stops its write after exactly k bytes (the SIGXFSZ that follows is turned
// into SIGKILL), for every k up to the whole new file, and once more right after the change
// returned. Every time, the file must read back as it was before the change or as it is after
// it, never anything else, and a store must attach to it again.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <functional>
#include <string>
#include <vector>

#include "sim/uefi/VariableStore.h"
#include "sim/uefi/VariableStoreFile.h"

namespace sim {
namespace {

constexpr uint32_t kNonVolatile = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS |
                                  EFI_VARIABLE_RUNTIME_ACCESS;
const EFI_GUID kVendor = {0x3C1E2F94, 0x5A07, 0x4B8E, {0x91, 0x2D, 0x6E, 0x0A, 0x44, 0x17, 0xC3, 0x58}};

std::vector<uint8_t> Bytes(size_t Count, uint8_t First) {
  std::vector<uint8_t> Data(Count);
  for (size_t Index = 0; Index < Count; Index++) Data[Index] = static_cast<uint8_t>(First + 7 * Index);
  return Data;
}

// The store before every change: a few variables, one with a name outside printable ASCII.
VariableMap StoreBefore() {
  VariableMap Map;
  Map[{u"DownCoreStatus", kVendor}] = {kNonVolatile, {0x01}};
  Map[{u"Setup", kVendor}] = {kNonVolatile, Bytes(48, 0x10)};
  Map[{u"Boot\u00e9Order", kVendor}] = {kNonVolatile, Bytes(6, 0x80)};
  return Map;
}

struct StoreChange {
  const char *Name;
  std::function<EFI_STATUS(VariableStore &)> Apply;
};

void PrintTo(const StoreChange &Change, std::ostream *Out) { *Out << Change.Name; }

bool SameStore(const VariableMap &Left, const VariableMap &Right) {
  return std::equal(Left.begin(), Left.end(), Right.begin(), Right.end(), [](const auto &A, const auto &B) {
    return A.first.name == B.first.name && std::memcmp(&A.first.guid, &B.first.guid, sizeof(EFI_GUID)) == 0 &&
           A.second.attributes == B.second.attributes && A.second.data == B.second.data;
  });
}

void KillSelf(int) { raise(SIGKILL); }

class StoreKilledWhileWriting : public ::testing::TestWithParam<StoreChange> {
 protected:
  void SetUp() override {
    Directory_ = std::filesystem::temp_directory_path() /
                 ("ccx-durability-" + std::to_string(getpid()) + "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(Directory_);
    std::filesystem::create_directories(Directory_);
    File_ = Directory_ / "variables.txt";
  }
  void TearDown() override { std::filesystem::remove_all(Directory_); }

  // Runs the change in a child that the file-size limit kills after Limit bytes (none: killed
  // once the change returned). Returns whether the child died of SIGKILL.
  bool RunKilledChild(std::optional<rlim_t> Limit) {
    const pid_t Child = fork();
    if (Child == 0) {
      signal(SIGXFSZ, KillSelf);
      if (Limit) {
        const rlimit Size = {*Limit, *Limit};
        setrlimit(RLIMIT_FSIZE, &Size);
      }
      VariableStore Store([](const std::string &) {});
      Store.AttachFile(File_);
      GetParam().Apply(Store);
      raise(SIGKILL);
      _exit(0);
    }
    int Status = 0;
    return Child > 0 && waitpid(Child, &Status, 0) == Child && WIFSIGNALED(Status) && WTERMSIG(Status) == SIGKILL;
  }

  std::filesystem::path Directory_;
  std::filesystem::path File_;
};

TEST_P(StoreKilledWhileWriting, ReadsBackAsBeforeOrAfter) {
  // What the change makes of the store when nothing interrupts it.
  WriteVariableStoreFile(File_, StoreBefore());
  VariableMap After;
  {
    VariableStore Store([](const std::string &) {});
    Store.AttachFile(File_);
    ASSERT_EQ(GetParam().Apply(Store), EFI_SUCCESS);
    After = ReadVariableStoreFile(File_);
  }
  ASSERT_FALSE(SameStore(After, StoreBefore())) << "the change must change the file";
  const uint64_t NewFileSize = std::filesystem::file_size(File_);
  // The old file, kept to put back before every kill (copying it needs no flush to disk).
  const std::filesystem::path Original = Directory_ / "before.txt";
  WriteVariableStoreFile(Original, StoreBefore());

  size_t Points = 0, ReadBefore = 0, ReadAfter = 0;
  std::vector<std::optional<rlim_t>> Limits;
  for (rlim_t Bytes = 0; Bytes <= NewFileSize; Bytes++) Limits.push_back(Bytes);
  Limits.push_back(std::nullopt);
  for (const std::optional<rlim_t> &Limit : Limits) {
    // Every kill starts from the old file; a temporary file a kill left behind stays, as it would.
    std::filesystem::copy_file(Original, File_, std::filesystem::copy_options::overwrite_existing);
    ASSERT_TRUE(RunKilledChild(Limit)) << "the child was not killed at " << (Limit ? *Limit : NewFileSize);
    Points++;
    VariableMap Found;
    ASSERT_NO_THROW(Found = ReadVariableStoreFile(File_)) << "kill point " << Points;
    if (SameStore(Found, StoreBefore())) {
      ReadBefore++;
    } else if (SameStore(Found, After)) {
      ReadAfter++;
    } else {
      ADD_FAILURE() << "kill point " << Points << ": the file holds neither the old nor the new store";
    }
    VariableStore Again([](const std::string &) {});
    EXPECT_NO_THROW(Again.AttachFile(File_));
  }
  std::printf("%s: %zu kill points, %zu read back as before, %zu as after\n", GetParam().Name, Points, ReadBefore,
              ReadAfter);
  // Both sides of the change were hit: kills inside the write and one after the change.
  EXPECT_GT(ReadBefore, 0u);
  EXPECT_GT(ReadAfter, 0u);
  EXPECT_GE(Points, 100u);
}

// A write that finds no room (the file-size limit stands in for a full disk, its signal ignored so
// that write() fails with EFBIG) leaves the file as it was and no temporary beside it; the change
// is undone, its caller told EFI_DEVICE_ERROR, and the store remembers why.
TEST_P(StoreKilledWhileWriting, AWriteThatFindsNoRoomLeavesTheStoreWhole) {
  WriteVariableStoreFile(File_, StoreBefore());
  VariableStore Store([](const std::string &) {});
  Store.AttachFile(File_);
  rlimit Before;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &Before), 0);
  const rlimit Small = {16, Before.rlim_max};
  const sighandler_t Previous = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &Small), 0);
  const EFI_STATUS Status = GetParam().Apply(Store);
  setrlimit(RLIMIT_FSIZE, &Before);
  signal(SIGXFSZ, Previous);
  EXPECT_EQ(Status, EFI_DEVICE_ERROR);
  ASSERT_TRUE(Store.WriteFailure());
  EXPECT_NE(Store.WriteFailure()->find("variables.txt' cannot be written: cannot write '"), std::string::npos)
      << *Store.WriteFailure();
  EXPECT_NE(Store.WriteFailure()->find(std::strerror(EFBIG)), std::string::npos) << *Store.WriteFailure();
  EXPECT_TRUE(SameStore(ReadVariableStoreFile(File_), StoreBefore()));
  EXPECT_TRUE(SameStore(Store.All(), StoreBefore()));
  std::vector<std::string> Names;
  for (const auto &Entry : std::filesystem::directory_iterator(Directory_)) Names.push_back(Entry.path().filename());
  EXPECT_EQ(Names, std::vector<std::string>{"variables.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    EachChange, StoreKilledWhileWriting,
    ::testing::Values(
        StoreChange{"NewVariable",
                    [](VariableStore &Store) {
                      return Store.Set(u"PlatformLang", kVendor, kNonVolatile, Bytes(40, 0x41));
                    }},
        StoreChange{"ChangedValue",
                    [](VariableStore &Store) {
                      const std::vector<uint8_t> Value = {0x00};
                      return Store.Set(u"DownCoreStatus", kVendor, kNonVolatile, Value);
                    }},
        StoreChange{"DeletedVariable",
                    [](VariableStore &Store) { return Store.Set(u"Setup", kVendor, 0, {}); }},
        StoreChange{"AppendedData",
                    [](VariableStore &Store) {
                      return Store.Set(u"Boot\u00e9Order", kVendor, kNonVolatile | EFI_VARIABLE_APPEND_WRITE,
                                       Bytes(24, 0x30));
                    }}),
    [](const ::testing::TestParamInfo<StoreChange> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
