// The ACPI tool chain's compiler and disassembler, iasl, run as a separate program: found on the
// PATH when it is installed, given its arguments, and its output kept for whoever checks it.
#ifndef SIM_CONSUMERS_IASL_H_
#define SIM_CONSUMERS_IASL_H_

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace sim {

struct IaslRun {
  int ExitCode = -1;
  // Standard output and standard error together, as iasl printed them.
  std::string Output;
};

// The path of iasl on the PATH, if it is there.
std::optional<std::filesystem::path> FindIasl();
// The path of Program on the PATH or, for the system tools that live there (dmidecode), in
// /usr/sbin or /sbin.
std::optional<std::filesystem::path> FindHostTool(const std::string &Program);
// Path written so that no program (nor the shell's cd) takes it for an option: a relative path
// that starts with '-' gets "./" in front. Every path handed to a host tool goes through it.
std::string PathArgument(const std::filesystem::path &Path);
// Runs iasl with Arguments in Directory; throws std::runtime_error when it cannot be started.
IaslRun RunIasl(const std::filesystem::path &Iasl, const std::vector<std::string> &Arguments,
                const std::filesystem::path &Directory);
// The same for any other host tool (dmidecode).
IaslRun RunHostTool(const std::filesystem::path &Tool, const std::vector<std::string> &Arguments,
                    const std::filesystem::path &Directory);
// Compiles Dir/Name.dsl to Dir/Name.aml.
IaslRun CompileAsl(const std::filesystem::path &Iasl, const std::filesystem::path &Dir, const std::string &Name);

}  // namespace sim

#endif  // SIM_CONSUMERS_IASL_H_
