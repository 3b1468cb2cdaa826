// Keeps two runs apart that would share a file or folder (a variable store, an output folder):
// each takes an exclusive lock on a lock file beside it, without waiting, and writes its process
// ID there, so that the run refused can name the one that holds it. The kernel lets go of the lock
// however the holder ends (SIGKILL included); a lock file left behind by a killed run is simply
// taken by the next.
#ifndef SIM_FILES_LOCK_FILE_H_
#define SIM_FILES_LOCK_FILE_H_

#include <filesystem>
#include <stdexcept>
#include <string>

namespace sim {

// The lock is held by another process, or the lock file cannot be made; the message names what
// is locked, the lock file and the holder's process ID or the reason.
class LockFileError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class LockFile {
 public:
  // Takes the lock at Path for What (e.g. "variable store 'vars.txt'"); throws LockFileError.
  LockFile(const std::filesystem::path &Path, const std::string &What);
  // Removes the lock file, then lets go of the lock.
  ~LockFile();
  LockFile(const LockFile &) = delete;
  LockFile &operator=(const LockFile &) = delete;

 private:
  std::filesystem::path Path_;
  int Fd_ = -1;
};

}  // namespace sim

#endif  // SIM_FILES_LOCK_FILE_H_
