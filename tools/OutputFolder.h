// The folder ccxsim boot --out DIR writes, kept from misleading anyone who reads it: one run at a
// time (a lock, DIR/.ccxsim.lock), nothing of a previous run left beside the new run's files (they
// are removed before the first new one is written, report.json first), every file replaced whole,
// and report.json written last, so that a folder holding one was written by a run that ended.
#ifndef TOOLS_OUTPUT_FOLDER_H_
#define TOOLS_OUTPUT_FOLDER_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sim {
class LockFile;
}

namespace ccxsim {

// The files a run writes under DIR, relative to it.
inline constexpr const char *kReportFile = "report.json";
inline constexpr const char *kPcctFile = "acpi/PCCT.dat";
inline constexpr const char *kHestFile = "acpi/HEST.dat";
inline constexpr const char *kSmbiosFile = "smbios.bin";
inline constexpr const char *kSratFile = "acpi/SRAT.dat";
inline constexpr const char *kQratFile = "acpi/QRAT.dat";
// The _CPC SSDT's source, acpi/SSDT-CPC.dsl, which iasl compiles to acpi/SSDT-CPC.aml beside it.
inline constexpr const char *kCpcFolder = "acpi";
inline constexpr const char *kCpcName = "SSDT-CPC";
// What each debug channel received in boot N: boot-N-uart-3f8.raw and the like.
inline constexpr const char *kChannelFiles[] = {"uart-3f8.raw", "legacy-serial-2f8.raw", "port-capture-80.raw"};
std::string ChannelFile(uint64_t Boot, const char *Channel);

// A file or folder of the output that cannot be made, replaced or removed; the message names it.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class OutputFolder {
 public:
  // Makes Dir when it does not exist, refuses anything else than a folder, takes the lock
  // (refused while another run holds it, naming that run's process) and removes what a previous
  // run wrote there. Throws OutputError or sim::LockFileError.
  explicit OutputFolder(const std::filesystem::path &Dir);
  ~OutputFolder();
  const std::filesystem::path &Path() const { return Dir_; }

 private:
  std::filesystem::path Dir_;
  std::unique_ptr<sim::LockFile> Lock_;
};

// Writes Bytes as the file Path whole (sim::ReplaceFile), making its folder first; throws
// OutputError naming the file and the reason.
void WriteOutputFile(const std::filesystem::path &Path, std::string_view Bytes);
// The same for a table's bytes; an empty table is not written.
void WriteOutputTable(const std::filesystem::path &Path, const std::vector<uint8_t> &Bytes);

}  // namespace ccxsim

#endif  // TOOLS_OUTPUT_FOLDER_H_
