// The delivered driver image as the platform loads it for a boot: the PE32+ file is read and
// checked once, and every boot places a fresh copy in EfiBootServicesCode pages of simulated DRAM,
// applies its relocations and runs it natively with the instructions it may not execute trapped.
#ifndef SIM_IMAGE_DELIVERED_IMAGE_H_
#define SIM_IMAGE_DELIVERED_IMAGE_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/image/PeDebugFile.h"
#include "sim/image/PeImage.h"
#include "sim/image/TrapHandler.h"
#include "sim/platform/DriverLoader.h"

namespace sim {

class DeliveredImage : public DriverLoader {
 public:
  // Reads and checks File. Throws PeImageError for a file that is not a loadable driver image and
  // std::runtime_error for one that cannot be read.
  explicit DeliveredImage(const std::filesystem::path &File);
  ~DeliveredImage() override;

  std::string Name() const override { return Name_; }
  EFI_IMAGE_ENTRY_POINT Load(Platform &Machine, EFI_LOADED_IMAGE_PROTOCOL &LoadedImage) override;
  void Unload(Platform &Machine, BootRecord &Record) override;
  std::string SymbolAt(uint64_t Address) const override;
  // "F+0x1C": the image function at or nearest below Address of the loaded image, or "".
  std::string FunctionNear(uint64_t Address) const;

  const PeImageInfo &Info() const { return Info_; }
  const std::vector<uint8_t> &Bytes() const { return Bytes_; }

 private:
  std::string Name_;
  std::vector<uint8_t> Bytes_;
  PeImageInfo Info_;
  std::map<uint32_t, std::string> Functions_;  // by RVA
  PeSymbolFile Symbols_;                       // what a debugger reads for the image
  uint64_t Base_ = 0;
  std::unique_ptr<ImageTrapSession> Session_;
};

// The lowest free DRAM at or above 1 MB that holds Pages pages. The allocator hands out memory from
// the top, so an image placed there moves no address the driver or the other components get.
uint64_t LowestFreePages(const PhysicalMemory &Memory, uint64_t Pages);

}  // namespace sim

#endif  // SIM_IMAGE_DELIVERED_IMAGE_H_
