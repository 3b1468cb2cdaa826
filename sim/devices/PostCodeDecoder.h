// Reads a POST-code trace the way a person at a capture card would: test points, fatal stops
// (0xDEAD on port 0xE0 followed by the 32-bit code on port 0x80) and the text of the port-capture
// debug channel, each with its position in the trace so that their order can be checked.
#ifndef SIM_DEVICES_POST_CODE_DECODER_H_
#define SIM_DEVICES_POST_CODE_DECODER_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/devices/PostCodePorts.h"

namespace sim {

struct TestPointShown {
  uint32_t Value;
  unsigned Width;
  size_t Position;
};

struct FatalStopShown {
  uint32_t Code;
  size_t Position;
};

struct CapturedMessage {
  std::string Text;
  // False when the trace ended before the end marker.
  bool Complete;
  size_t Position;
};

struct DecodedPostCodes {
  std::vector<TestPointShown> TestPoints;
  std::vector<FatalStopShown> FatalStops;
  std::vector<CapturedMessage> Messages;
  // Positions of writes that fit none of the above, such as a stray value on port 0xE0 or a
  // fatal-stop marker that no code followed.
  std::vector<size_t> Unrecognized;
};

DecodedPostCodes DecodePostCodes(const std::vector<PostCodeWrite> &Trace);

// The code a test point was raised with, from the full 32-bit value it showed; nothing for a
// value that no test point shows.
std::optional<uint32_t> TestPointCode(uint32_t Value);

}  // namespace sim

#endif  // SIM_DEVICES_POST_CODE_DECODER_H_
