#include "sim/files/InputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace sim {
namespace {

std::string KindOf(mode_t Mode) {
  if (S_ISDIR(Mode)) return "a folder";
  if (S_ISFIFO(Mode)) return "a FIFO";
  if (S_ISCHR(Mode)) return "a character device";
  if (S_ISBLK(Mode)) return "a block device";
  if (S_ISSOCK(Mode)) return "a socket";
  return "not a regular file";
}

// Closes the descriptor however the read ends.
struct Descriptor {
  int Fd;
  ~Descriptor() {
    if (Fd >= 0) close(Fd);
  }
};

}  // namespace

std::string ReadInputFile(const std::filesystem::path &Path, const std::string &What, uint64_t Cap) {
  const std::string Named = Path.string() + " (" + What + ")";
  // Non-blocking, so that opening a FIFO with no writer returns at once and is then refused.
  Descriptor File{open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  if (File.Fd < 0) throw InputFileError(Named + ": cannot be read: " + std::strerror(errno));
  struct stat Status;
  if (fstat(File.Fd, &Status) != 0) throw InputFileError(Named + ": cannot be read: " + std::strerror(errno));
  if (!S_ISREG(Status.st_mode)) throw InputFileError(Named + ": is " + KindOf(Status.st_mode) + ", not a regular file");
  if (static_cast<uint64_t>(Status.st_size) > Cap) {
    throw InputFileError(Named + ": is " + std::to_string(Status.st_size) + " bytes, over the limit of " +
                         std::to_string(Cap) + " bytes");
  }
  std::string Text;
  Text.resize(static_cast<size_t>(Status.st_size));
  size_t Done = 0;
  // A file that grows while it is read is read up to the cap and one byte more, then refused.
  for (;;) {
    if (Done == Text.size()) {
      if (Text.size() > Cap) {
        throw InputFileError(Named + ": grew past the limit of " + std::to_string(Cap) + " bytes while it was read");
      }
      Text.resize(Text.size() + 4096 > Cap + 1 ? Cap + 1 : Text.size() + 4096);
      if (Done == Text.size()) break;
    }
    const ssize_t Got = read(File.Fd, Text.data() + Done, Text.size() - Done);
    if (Got < 0) {
      if (errno == EINTR) continue;
      throw InputFileError(Named + ": cannot be read: " + std::strerror(errno));
    }
    if (Got == 0) break;
    Done += static_cast<size_t>(Got);
  }
  Text.resize(Done);
  return Text;
}

}  // namespace sim
