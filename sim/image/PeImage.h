// Checking and placing a PE32+ EFI boot-service driver image, as a DXE core's image loader does
// before it runs one: the headers are checked against the file and against each other, then the
// headers and sections are copied into the image's memory and the base relocations applied for the
// address it will run at. Nothing here allocates the image's memory or runs it.
//
// Layout rule: a section occupies, from its VirtualAddress, the larger of its VirtualSize and its
// SizeOfRawData (the raw data is copied whole, file padding included) rounded up to
// SectionAlignment; the headers occupy SizeOfHeaders rounded up the same way. These ranges lie
// inside SizeOfImage, in section-table order, and never overlap.
#ifndef SIM_IMAGE_PE_IMAGE_H_
#define SIM_IMAGE_PE_IMAGE_H_

#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace sim {

// An image that can't be loaded: "<source>: <field>: <problem>, <value>".
class PeImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PeSection {
  std::string Name;
  uint32_t VirtualAddress = 0;
  uint32_t VirtualSize = 0;
  uint32_t RawDataOffset = 0;
  uint32_t RawDataSize = 0;
  uint32_t Characteristics = 0;
};

struct PeImageInfo {
  uint64_t PreferredBase = 0;
  uint32_t SizeOfImage = 0;
  uint32_t SizeOfHeaders = 0;
  uint32_t EntryPointRva = 0;
  uint32_t SectionAlignment = 0;
  uint32_t FileAlignment = 0;
  uint16_t Machine = 0;
  uint16_t Subsystem = 0;
  std::vector<PeSection> Sections;
  uint32_t RelocationRva = 0;  // base-relocation directory; size 0 when the image has none
  uint32_t RelocationSize = 0;
};

// Checks the headers of File (named Source in messages) and returns what a loader needs. Throws
// PeImageError naming the field and the value, e.g.
// "CcxRellDxe.efi: FileHeader.Machine: expected 0x8664 (x64), got 0x14C".
PeImageInfo ParsePeImage(std::span<const uint8_t> File, const std::string &Source);

// Checks that Info describes an image a loader can place from a file of FileSize bytes: the
// alignments, the image base, SizeOfImage, the headers', sections' and relocation directory's ranges
// and the entry point. ParsePeImage ends with it; PlacePeImage repeats it so that an Info which does
// not describe the file it is given cannot make it read or write out of bounds.
void CheckPeLayout(const PeImageInfo &Info, size_t FileSize, const std::string &Source);

// Places the image into Destination (Info.SizeOfImage writable bytes): copies the headers and each
// section's raw data, zeroes everything else, then applies the base relocations for an image that
// runs at LoadAddress. DIR64 entries add LoadAddress - PreferredBase to their 8 bytes, ABSOLUTE
// entries are padding; any other type, a malformed block or a fix-up outside the image is refused,
// as is moving an image that has no base relocations. Returns the number of DIR64 entries applied.
// Source names the image in errors.
size_t PlacePeImage(const PeImageInfo &Info, std::span<const uint8_t> File, uint8_t *Destination,
                    uint64_t LoadAddress, const std::string &Source = "image");

}  // namespace sim

#endif  // SIM_IMAGE_PE_IMAGE_H_
