// The POST-code ports: progress codes, fatal-stop display and the port-capture debug channel all
// write here, so the values that give each write its meaning are defined once for the driver and
// for the simulated capture card.
#ifndef ARCH_POST_CODE_H_
#define ARCH_POST_CODE_H_

#include <cstdint>

namespace PostCode {

// The display port that shows test points, fatal-stop codes and captured debug text.
constexpr uint16_t Port = 0x80;
// The port a fatal stop marks with FatalStopMarker before it shows its code on Port.
constexpr uint16_t FatalStopPort = 0xE0;
constexpr uint16_t FatalStopMarker = 0xDEAD;

// A test point shows its code with the top nibble 0xB, so that a display tells progress codes
// apart from captured text and fatal-stop codes. The code 0xAA55 is shown doubled instead.
constexpr uint32_t TestPointPrefix = 0xB0000000;
constexpr uint32_t TestPointDoubledCode = 0xAA55;
constexpr uint32_t TestPointDoubledPrefix = 0xAA550000;

constexpr uint32_t TestPointValue(uint32_t Code) {
  return Code == TestPointDoubledCode ? (Code | TestPointDoubledPrefix) : (Code | TestPointPrefix);
}

// The port-capture channel frames each message with these 32-bit writes (the ASCII bytes "RTS_"
// and "DNE_" in memory order) and sends the text in between as single bytes.
constexpr uint32_t CaptureStartMarker = 0x5F535452;
constexpr uint32_t CaptureEndMarker = 0x5F454E44;

}  // namespace PostCode

#endif  // ARCH_POST_CODE_H_
