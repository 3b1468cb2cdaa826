// The one way the simulator and its tools print a number in hexadecimal: "0x" and upper-case
// digits, padded with zeros to Digits when given.
#ifndef SIM_HEX_TEXT_H_
#define SIM_HEX_TEXT_H_

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

inline std::string Hex(uint64_t Value, int Digits = 0) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "0x%0*llX", Digits, static_cast<unsigned long long>(Value));
  return Text;
}

}  // namespace sim

#endif  // SIM_HEX_TEXT_H_
