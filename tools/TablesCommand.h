// ccxsim tables: decodes every table a boot wrote under --out DIR (or one such file): the standard
// ACPI tables through iasl's disassembler, the SMBIOS dump through dmidecode, and the resource
// affinity table, whose signature those tools do not know, through ccxsim's own reader.
#ifndef TOOLS_TABLES_COMMAND_H_
#define TOOLS_TABLES_COMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace ccxsim {

extern const char *const kTablesUsage;

// Runs the command on the arguments after the word "tables". Returns the exit status: 0 when every
// table was decoded, 1 when one was refused or its tool failed or is missing, 2 on a usage error or
// a path that holds no tables.
int RunTablesCommand(const std::vector<std::string> &Arguments, std::ostream &Out, std::ostream &Err);

}  // namespace ccxsim

#endif  // TOOLS_TABLES_COMMAND_H_
