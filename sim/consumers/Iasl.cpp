#include "sim/consumers/Iasl.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>

#include "sim/HostProgram.h"

namespace sim {
namespace {

// Quotes an argument for the shell: inside single quotes only the quote itself needs care.
std::string Quoted(const std::string &Text) {
  std::string Result = "'";
  for (char Character : Text) {
    if (Character == '\'') {
      Result += "'\\''";
    } else {
      Result += Character;
    }
  }
  return Result + "'";
}

}  // namespace

std::string PathArgument(const std::filesystem::path &Path) {
  const std::string Text = Path.string();
  return Path.is_relative() && Text.starts_with("-") ? "./" + Text : Text;
}

std::optional<std::filesystem::path> FindIasl() { return FindHostTool("iasl"); }

std::optional<std::filesystem::path> FindHostTool(const std::string &Program) {
  const char *Path = std::getenv("PATH");
  std::string Directories = std::string(Path == nullptr ? "" : Path) + ":/usr/sbin:/sbin";
  size_t Start = 0;
  while (Start <= Directories.size()) {
    size_t End = Directories.find(':', Start);
    if (End == std::string::npos) End = Directories.size();
    const std::filesystem::path Candidate = std::filesystem::path(Directories.substr(Start, End - Start)) / Program;
    std::error_code Error;
    if (End > Start && std::filesystem::is_regular_file(Candidate, Error)) return Candidate;
    Start = End + 1;
  }
  return std::nullopt;
}

IaslRun RunIasl(const std::filesystem::path &Iasl, const std::vector<std::string> &Arguments,
                const std::filesystem::path &Directory) {
  return RunHostTool(Iasl, Arguments, Directory);
}

IaslRun RunHostTool(const std::filesystem::path &Tool, const std::vector<std::string> &Arguments,
                    const std::filesystem::path &Directory) {
  std::string Command = "cd " + Quoted(PathArgument(Directory)) + " && " + Quoted(PathArgument(Tool));
  for (const std::string &Argument : Arguments) Command += " " + Quoted(Argument);
  Command += " 2>&1";
  HostProgramLaunch Untrapped;
  FILE *Pipe = popen(Command.c_str(), "r");
  if (Pipe == nullptr) throw std::runtime_error("cannot start " + Tool.string());
  IaslRun Run;
  char Buffer[4096];
  size_t Read = 0;
  while ((Read = std::fread(Buffer, 1, sizeof(Buffer), Pipe)) > 0) Run.Output.append(Buffer, Read);
  const int Status = pclose(Pipe);
  Run.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
  return Run;
}

IaslRun CompileAsl(const std::filesystem::path &Iasl, const std::filesystem::path &Dir, const std::string &Name) {
  return RunIasl(Iasl, {"-p", Name, Name + ".dsl"}, Dir);
}

}  // namespace sim
