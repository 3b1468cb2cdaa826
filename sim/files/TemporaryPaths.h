// Temporary files and folders a run makes, removed however the run ends: by their owner when it
// is done with them, and by a handler of SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE and SIGABRT
// when a signal ends the run first (the boot may be stuck, so the handler removes them itself,
// with system calls only, then lets the signal end the process as it would have). SIGKILL cannot
// be caught: a run killed by it leaves them behind.
#ifndef SIM_FILES_TEMPORARY_PATHS_H_
#define SIM_FILES_TEMPORARY_PATHS_H_

#include <filesystem>
#include <string>

namespace sim {

// Removes every registered path now, with system calls only: for a process about to end at once
// (a signal, or the image having overwritten the simulator's memory), whose owners will not.
void RemoveRegisteredPathsNow();

// Registers Path (a file, or a folder with everything in it) for removal by the signal handler
// for as long as it lives; the handlers are installed with the first registration. Registering
// more paths than the handler has room for leaves the extra ones to their owners alone.
class RemovedOnSignal {
 public:
  explicit RemovedOnSignal(const std::filesystem::path &Path);
  ~RemovedOnSignal();
  RemovedOnSignal(const RemovedOnSignal &) = delete;
  RemovedOnSignal &operator=(const RemovedOnSignal &) = delete;

 private:
  int Slot_ = -1;
};

// A folder of its own under the system's temporary folder ($TMPDIR or /tmp), named
// Prefix-XXXXXX, removed with everything in it when the object goes or a signal ends the run.
class ScratchFolder {
 public:
  // Throws std::runtime_error when the folder cannot be made.
  explicit ScratchFolder(const std::string &Prefix);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;
  const std::filesystem::path &Path() const { return Path_; }

 private:
  std::filesystem::path Path_;
  RemovedOnSignal Registration_;
};

}  // namespace sim

#endif  // SIM_FILES_TEMPORARY_PATHS_H_
