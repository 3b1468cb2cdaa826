// The debugger's copy of an image: the same link with its DWARF kept, built beside the delivered
// image as <image>.debug (see firmware/CMakeLists.txt). gdb reads the image's functions, source
// lines and unwind rules from it; it is only of use while it describes the very bytes that run.
#ifndef SIM_IMAGE_PE_DEBUG_FILE_H_
#define SIM_IMAGE_PE_DEBUG_FILE_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "sim/image/PeImage.h"

namespace sim {

// The file a debugger reads the image's symbols from.
struct PeSymbolFile {
  std::filesystem::path File;  // <image>.debug when it matches the image, else the image itself
  uint64_t LinkedBase = 0;     // the ImageBase File's addresses are linked for
  std::string Note;            // why the image itself is used (its COFF symbols: names, no lines)
};

// Empty when Debug describes the image (the same preferred base and entry point, and every section
// of the image at the same address with the same size and bytes); otherwise what differs, e.g.
// "section 1 (.text): its bytes differ".
std::string PeDebugFileMismatch(const PeImageInfo &Image, std::span<const uint8_t> ImageBytes, const PeImageInfo &Debug,
                                std::span<const uint8_t> DebugBytes);

// Chooses the symbol file for the image read from ImageFile: ImageFile + ".debug" when it exists,
// reads and matches the image, else ImageFile with a note saying why. Never throws for a bad or
// missing debug file: symbols are a convenience, never a reason to refuse a boot.
PeSymbolFile FindPeSymbolFile(const std::filesystem::path &ImageFile, const PeImageInfo &Image,
                              std::span<const uint8_t> ImageBytes);

}  // namespace sim

#endif  // SIM_IMAGE_PE_DEBUG_FILE_H_
