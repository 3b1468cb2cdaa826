#include "sim/files/TemporaryPaths.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "sim/RawSyscall.h"

namespace sim {
namespace {

// The handler may run at any moment, on any thread, so what it reads lives in fixed storage: a
// slot is claimed (Filling), its path copied, and only then marked Ready; it is Free again before
// its path may change.
enum SlotState : int { Free, Filling, Ready };
constexpr int kSlots = 16;
struct Slot {
  std::atomic<int> State{Free};
  char Path[4096];
};
Slot gSlots[kSlots];

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGABRT};
// A scratch folder is a few levels deep at most; deeper entries are left alone rather than risk
// the stack of whichever thread the signal arrived on.
constexpr int kMaxDepth = 8;
// Removing entries while a folder is read may hide others from the read: it is read again until
// nothing is left, a few times at most.
constexpr int kPasses = 4;

struct LinuxDirent64 {
  ino64_t Inode;
  off64_t Next;
  unsigned short Length;
  unsigned char Type;
  char Name[];
};

// Removes Name under the folder Parent with everything in it, with system calls only, made without
// the C library (errno is thread-local, and a process ending after the delivered image overwrote
// its memory may have none left).
void RemoveTree(int Parent, const char *Name, int Depth) {
  const long Unlinked = RawSyscall(SYS_unlinkat, Parent, reinterpret_cast<long>(Name), 0);
  if (Unlinked == 0 || (Unlinked != -EISDIR && Unlinked != -EPERM)) return;
  const long Folder =
      RawSyscall(SYS_openat, Parent, reinterpret_cast<long>(Name), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (Folder < 0) return;
  if (Depth < kMaxDepth) {
    alignas(8) char Buffer[512];
    for (int Pass = 0; Pass < kPasses; Pass++) {
      bool Found = false;
      RawSyscall(SYS_lseek, Folder, 0, SEEK_SET);
      long Count;
      while ((Count = RawSyscall(SYS_getdents64, Folder, reinterpret_cast<long>(Buffer), sizeof(Buffer))) > 0) {
        for (long Offset = 0; Offset < Count;) {
          const auto *Entry = reinterpret_cast<const LinuxDirent64 *>(Buffer + Offset);
          Offset += Entry->Length;
          if (std::strcmp(Entry->Name, ".") == 0 || std::strcmp(Entry->Name, "..") == 0) continue;
          Found = true;
          RemoveTree(static_cast<int>(Folder), Entry->Name, Depth + 1);
        }
      }
      if (!Found) break;
    }
  }
  RawSyscall(SYS_close, Folder);
  RawSyscall(SYS_unlinkat, Parent, reinterpret_cast<long>(Name), AT_REMOVEDIR);
}

void OnSignal(int Signal) {
  RemoveRegisteredPathsNow();
  // The action was reset to the default on entry (SA_RESETHAND); the signal, blocked while the
  // handler runs, ends the process as soon as it returns.
  raise(Signal);
}

void InstallHandlers() {
  for (int Signal : kSignals) {
    struct sigaction Current;
    // A signal the run was started with ignored (nohup, a background job) stays ignored.
    if (sigaction(Signal, nullptr, &Current) != 0 || Current.sa_handler != SIG_DFL) continue;
    struct sigaction Action;
    std::memset(&Action, 0, sizeof(Action));
    Action.sa_handler = OnSignal;
    sigfillset(&Action.sa_mask);
    Action.sa_flags = SA_RESETHAND;
    sigaction(Signal, &Action, nullptr);
  }
}

}  // namespace

void RemoveRegisteredPathsNow() {
  for (Slot &Each : gSlots) {
    if (Each.State.load() == Ready) RemoveTree(AT_FDCWD, Each.Path, 0);
  }
}

RemovedOnSignal::RemovedOnSignal(const std::filesystem::path &Path) {
  static std::once_flag Installed;
  std::call_once(Installed, InstallHandlers);
  std::error_code Error;
  const std::string Absolute = std::filesystem::absolute(Path, Error).string();
  if (Error || Absolute.size() >= sizeof(Slot::Path)) return;
  for (int Index = 0; Index < kSlots; Index++) {
    int Expected = Free;
    if (!gSlots[Index].State.compare_exchange_strong(Expected, Filling)) continue;
    std::memcpy(gSlots[Index].Path, Absolute.c_str(), Absolute.size() + 1);
    gSlots[Index].State.store(Ready);
    Slot_ = Index;
    return;
  }
}

RemovedOnSignal::~RemovedOnSignal() {
  if (Slot_ >= 0) gSlots[Slot_].State.store(Free);
}

namespace {

std::filesystem::path MakeScratchFolder(const std::string &Prefix) {
  std::string Template = (std::filesystem::temp_directory_path() / (Prefix + "-XXXXXX")).string();
  if (mkdtemp(Template.data()) == nullptr) {
    throw std::runtime_error("cannot create a temporary folder " + Template + ": " + std::strerror(errno));
  }
  return Template;
}

}  // namespace

ScratchFolder::ScratchFolder(const std::string &Prefix) : Path_(MakeScratchFolder(Prefix)), Registration_(Path_) {}

ScratchFolder::~ScratchFolder() {
  std::error_code Ignored;
  std::filesystem::remove_all(Path_, Ignored);
}

}  // namespace sim
