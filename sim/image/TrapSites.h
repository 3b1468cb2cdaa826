// The instructions of the delivered image that real firmware must make trap so the simulated
// machine can answer them: found by decoding the image's code with Zydis, never by searching for
// byte patterns. Decoding starts at each executable section and again at every function symbol,
// so padding or data between functions cannot shift the decoding of the function after it.
#ifndef SIM_IMAGE_TRAP_SITES_H_
#define SIM_IMAGE_TRAP_SITES_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/image/InstructionEmulator.h"
#include "sim/image/PeImage.h"

namespace sim {

struct TrapSite {
  uint32_t Rva = 0;
  uint8_t Length = 0;
  // What the emulator does with it; TrapKind::Count for a privileged instruction it does not
  // support (trapping it still stops the image there with a clear error instead of letting it
  // reach the real processor).
  TrapKind Kind = TrapKind::Count;
  uint8_t Bytes[15] = {};
  std::string Mnemonic;
};

// The sites in the image's executable sections, in address order. Throws PeImageError when a
// section's raw data does not lie inside File.
std::vector<TrapSite> FindTrapSites(std::span<const uint8_t> File, const PeImageInfo &Info);

// The site at Rva, or null.
const TrapSite *TrapSiteAt(const std::vector<TrapSite> &Sites, uint32_t Rva);

}  // namespace sim

#endif  // SIM_IMAGE_TRAP_SITES_H_
