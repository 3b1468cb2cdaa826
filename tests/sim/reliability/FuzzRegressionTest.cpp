// Defects the fuzz targets found, kept as ordinary tests so that every build checks them, not only
// the fuzzing build (whose corpus holds the same inputs).
#include <gtest/gtest.h>

#include <string>

#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

// A number beyond the range of any JSON number used to escape the loader as a library exception
// and end ccxsim; it is malformed input like any other.
TEST(MachineLoaderRegression, NumberTooLargeForJsonIsRefusedAsMalformed) {
  for (const std::string Text : {R"({"name": "overflow", "topology": {"sockets": 1e4000}})",
                                 R"({"name": "overflow", "topology": {"sockets": -1e4000}})"}) {
    try {
      ParseMachine(Text, "overflow.json");
      ADD_FAILURE() << "loaded " << Text;
    } catch (const MachineError &Error) {
      EXPECT_NE(std::string(Error.what()).find("overflow.json: not valid JSON"), std::string::npos) << Error.what();
    }
  }
}

}  // namespace
}  // namespace sim
