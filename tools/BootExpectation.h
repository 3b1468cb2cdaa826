// What a boot was expected to show against what it showed, and the exit status of a run of boots
// that a CI can trust: 0 only when every boot showed exactly what its machine expects and no
// answer of the driver differed from the machine.
#ifndef TOOLS_BOOT_EXPECTATION_H_
#define TOOLS_BOOT_EXPECTATION_H_

#include <cstdint>
#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"

namespace ccxsim {

// The exit statuses of ccxsim boot, from the least to the most serious failure.
inline constexpr int kExitAsExpected = 0;
inline constexpr int kExitAnswersDiffer = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitNotAsExpected = 3;
inline constexpr int kExitDidNotRun = 4;

// One field of the expectation that the boot did not show.
struct UnmetExpectation {
  std::string Field;
  std::string Expected;
  std::string Shown;
  // The boot was expected to run to its end and did not.
  bool DidNotEnd = false;
};

// The fields of Expect (defaults filled in) that Boot did not show, in the order of the fields.
std::vector<UnmetExpectation> CheckExpectation(const sim::BootExpectation &Expect, const sim::BootRecord &Boot);
void PrintExpectation(std::ostream &Out, const std::vector<UnmetExpectation> &Unmet);
nlohmann::json ExpectationJson(const std::vector<UnmetExpectation> &Unmet);

// Whether a boot's printed report holds an ERROR line: whichever section printed it, the driver
// answered or left something the machine does not call for.
bool ShowsErrors(const std::string &Report);

// The verdict of a run: each boot's outcome in turn, then its exit status and the reason for it.
class RunVerdict {
 public:
  void CouldNotRun(uint64_t Boot, const std::string &Error);
  void Checked(uint64_t Boot, const std::vector<UnmetExpectation> &Unmet, bool AnswersDiffer);
  // The variable store could not be written during the boot (Error says which file and why).
  void LostVariables(uint64_t Boot, const std::string &Error);

  int ExitStatus() const { return Status_; }
  // One line: which boot, which field, expected against shown; empty when the run passed.
  const std::string &Why() const { return Why_; }

 private:
  // Keeps the first reason of the most serious kind.
  void Note(int Status, const std::string &Why);

  int Status_ = kExitAsExpected;
  std::string Why_;
};

}  // namespace ccxsim

#endif  // TOOLS_BOOT_EXPECTATION_H_
