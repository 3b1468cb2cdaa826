// Boot timelines in the Trace Event Format, the JSON that Perfetto (ui.perfetto.dev) and
// chrome://tracing open: one process per boot, one thread per track (the BSP, then each AP by its
// number), a complete event per slice with its access counts as arguments. Every boot's time
// starts at zero, so boots of a run lie one above another and compare at a glance.
#ifndef TOOLS_TRACE_EVENT_JSON_H_
#define TOOLS_TRACE_EVENT_JSON_H_

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tools/BootTrace.h"

namespace ccxsim {

nlohmann::json TraceEventJson(const std::vector<BootTrace> &Boots, const std::string &Machine);

}  // namespace ccxsim

#endif  // TOOLS_TRACE_EVENT_JSON_H_
