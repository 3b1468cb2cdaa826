#include "tools/GdbSession.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace ccxsim {

int ExecBootUnderGdb(const std::vector<std::string> &BootArguments, std::ostream &Errors) {
  std::error_code Error;
  const std::filesystem::path Self = std::filesystem::read_symlink("/proc/self/exe", Error);
  if (Error) {
    Errors << "ccxsim: --gdb: cannot find the ccxsim binary (/proc/self/exe): " << Error.message() << "\n";
    return 2;
  }
  const std::filesystem::path Script = Self.parent_path() / kGdbScriptName;
  if (!std::filesystem::is_regular_file(Script)) {
    Errors << "ccxsim: --gdb: " << Script.string() << " does not exist: the build puts it beside ccxsim\n";
    return 2;
  }
  std::vector<std::string> Words = {"gdb", "-q", "-x", Script.string(), "--args", Self.string(), "boot"};
  Words.insert(Words.end(), BootArguments.begin(), BootArguments.end());
  std::vector<char *> Argv;
  for (std::string &Word : Words) Argv.push_back(Word.data());
  Argv.push_back(nullptr);
  execvp("gdb", Argv.data());
  Errors << "ccxsim: --gdb: cannot run gdb: " << std::strerror(errno)
         << (errno == ENOENT ? " (install it: apt-get install gdb)" : "") << "\n";
  return 2;
}

}  // namespace ccxsim
