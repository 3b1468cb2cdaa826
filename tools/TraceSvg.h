// Boot timelines drawn as one self-contained SVG: a time axis in estimated microseconds, one row per
// track, the phases as bars on the BSP's row with the slices nested in them drawn below, and the
// APs' procedures on rows of their own (one row per complex when the machine has more than
// kMostApRows processors). Boots of a run are panels one below the other on the same scale.
#ifndef TOOLS_TRACE_SVG_H_
#define TOOLS_TRACE_SVG_H_

#include <cstddef>
#include <string>
#include <vector>

#include "tools/BootTrace.h"

namespace ccxsim {

// Up to this many processors every AP has a row; above it the APs of a complex share one.
inline constexpr size_t kMostApRows = 32;

std::string TraceSvg(const std::vector<BootTrace> &Boots, const std::string &Machine);

}  // namespace ccxsim

#endif  // TOOLS_TRACE_SVG_H_
