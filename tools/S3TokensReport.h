// The report's sections on the configuration tokens (the store before and after the boot), the
// SMU messages of the custom P-state, every processor's P-state 0, and the S3 save table's
// hand-off as the SMM side saw it.
#ifndef TOOLS_S3_TOKENS_REPORT_H_
#define TOOLS_S3_TOKENS_REPORT_H_

#include <nlohmann/json.hpp>
#include <ostream>

#include "sim/platform/BootRunner.h"

namespace ccxsim {

void PrintS3Tokens(std::ostream &Out, const sim::BootRecord &Boot);
nlohmann::json S3TokensJson(const sim::BootRecord &Boot);

}  // namespace ccxsim

#endif  // TOOLS_S3_TOKENS_REPORT_H_
