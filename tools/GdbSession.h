// ccxsim boot --gdb: the same boot run again under gdb, set up by tools/gdb-image-session.py
// (installed beside the ccxsim binary) so that the delivered image's functions, source lines and
// backtraces are there and its trapped instructions pass unnoticed.
#ifndef TOOLS_GDB_SESSION_H_
#define TOOLS_GDB_SESSION_H_

#include <ostream>
#include <string>
#include <vector>

namespace ccxsim {

// The name of the gdb script, installed beside ccxsim by the build.
inline constexpr const char *kGdbScriptName = "gdb-image-session.py";

// Replaces this process with gdb -q -x <ccxsim's directory>/gdb-image-session.py --args <ccxsim> boot
// BootArguments... Returns only when it cannot, with 2 and the reason written to Errors.
int ExecBootUnderGdb(const std::vector<std::string> &BootArguments, std::ostream &Errors);

}  // namespace ccxsim

#endif  // TOOLS_GDB_SESSION_H_
