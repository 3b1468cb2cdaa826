// Range arithmetic and the error form the PE loader shares between checking and placing an image.
// Offsets and sizes come from the file, so every sum is done in 64 bits and every bound without
// overflow.
#ifndef SIM_IMAGE_PE_RANGE_H_
#define SIM_IMAGE_PE_RANGE_H_

#include <cstdint>
#include <string>

#include "sim/image/PeImage.h"

namespace sim {

// True when [Offset, Offset + Size) lies within [0, Limit).
inline bool Fits(uint64_t Offset, uint64_t Size, uint64_t Limit) { return Offset <= Limit && Size <= Limit - Offset; }

// Value rounded up to Alignment, a power of two; both are at most 32-bit values, so it cannot wrap.
inline uint64_t AlignUp(uint64_t Value, uint64_t Alignment) { return (Value + Alignment - 1) & ~(Alignment - 1); }

// "<source>: <field>: <problem>".
[[noreturn]] inline void FailField(const std::string &Source, const std::string &Field, const std::string &Problem) {
  throw PeImageError(Source + ": " + Field + ": " + Problem);
}

}  // namespace sim

#endif  // SIM_IMAGE_PE_RANGE_H_
