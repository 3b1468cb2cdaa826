// ccxsim diff: compares two report.json files field by field, for telling two boots apart and for
// a platform's regression checks against a report kept as the reference.
#ifndef TOOLS_DIFFCOMMAND_H_
#define TOOLS_DIFFCOMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace ccxsim {

extern const char *const kDiffUsage;

// Runs the command on the arguments after the word "diff", printing the differences and a summary
// to Out and what went wrong to Err. Returns the exit status: 0 when the reports agree, 1 when
// they differ, 2 on a usage error or a file that cannot be read or is not JSON.
int RunDiffCommand(const std::vector<std::string> &Arguments, std::ostream &Out, std::ostream &Err);

}  // namespace ccxsim

#endif  // TOOLS_DIFFCOMMAND_H_
