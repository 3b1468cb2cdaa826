// The function symbols of a PE32+ image's COFF symbol table, by the address they start at, so
// that the report can name the image's notify functions as it names the host build's.
#ifndef SIM_IMAGE_PE_SYMBOLS_H_
#define SIM_IMAGE_PE_SYMBOLS_H_

#include <cstdint>
#include <map>
#include <span>
#include <string>

#include "sim/image/PeImage.h"

namespace sim {

// Function symbols (type 0x20) defined in a section, by RVA. A stripped image, or a table that
// does not lie inside the file, gives an empty map: names are a convenience, never a refusal.
std::map<uint32_t, std::string> ReadPeFunctionSymbols(std::span<const uint8_t> File, const PeImageInfo &Info);

}  // namespace sim

#endif  // SIM_IMAGE_PE_SYMBOLS_H_
