// Fuzzes the PE32+ loader with arbitrary files. A file is either placed or refused with a
// PeImageError naming the field; any other exception, a crash or a sanitizer report is a defect.
// An image that loads is placed twice: at its preferred base, where it must be exactly its headers
// and its sections' raw data over zeros, and at a load address taken from the input's last eight
// bytes, where it must have the same fix-ups and differ only in the eight bytes each one covers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "sim/image/PeFormat.h"
#include "sim/image/PeImage.h"

namespace {

// Larger images are only parsed: placing one takes the same paths, just more memory and time.
constexpr uint32_t kMostPlaced = 1u << 20;

uint64_t LoadAddressOf(const uint8_t *Data, size_t Size) {
  uint64_t Address = 0;
  if (Size >= sizeof(Address)) std::memcpy(&Address, Data + Size - sizeof(Address), sizeof(Address));
  return Address;
}

// The image as the loader must leave it at its preferred base, built here from the description alone.
std::vector<uint8_t> Composed(const sim::PeImageInfo &Info, const uint8_t *File) {
  std::vector<uint8_t> Image(Info.SizeOfImage, 0);
  std::copy_n(File, Info.SizeOfHeaders, Image.begin());
  for (const sim::PeSection &Section : Info.Sections) {
    if (Section.RawDataSize != 0) {
      std::copy_n(File + Section.RawDataOffset, Section.RawDataSize, Image.begin() + Section.VirtualAddress);
    }
  }
  return Image;
}

// Marks the bytes the DIR64 entries of a directory the loader accepted cover; returns their count.
// Every one must lie inside the image.
size_t MarkFixUps(const sim::PeImageInfo &Info, const std::vector<uint8_t> &Image, std::vector<bool> &Covered) {
  size_t Count = 0;
  for (size_t Offset = 0; Offset < Info.RelocationSize;) {
    sim::pe::BaseRelocationBlock Block;
    std::memcpy(&Block, Image.data() + Info.RelocationRva + Offset, sizeof(Block));
    for (size_t Entry = sizeof(Block); Entry < Block.SizeOfBlock; Entry += sizeof(uint16_t)) {
      uint16_t Value;
      std::memcpy(&Value, Image.data() + Info.RelocationRva + Offset + Entry, sizeof(Value));
      if (Value >> sim::pe::kRelocationTypeShift != sim::pe::kRelocationDir64) continue;
      const uint64_t Target = uint64_t{Block.VirtualAddress} + (Value & sim::pe::kRelocationOffsetMask);
      if (Target + sizeof(uint64_t) > Info.SizeOfImage) std::abort();  // accepted a fix-up outside the image
      for (size_t Byte = 0; Byte < sizeof(uint64_t); Byte++) Covered[Target + Byte] = true;
      Count++;
    }
    Offset += Block.SizeOfBlock;
  }
  return Count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  const std::vector<uint8_t> File(Data, Data + Size);  // exactly Size bytes, so any overread is reported
  sim::PeImageInfo Info;
  try {
    Info = sim::ParsePeImage(File, "fuzz input");
  } catch (const sim::PeImageError &) {
    return 0;
  }
  if (Info.SizeOfImage > kMostPlaced) return 0;

  std::vector<uint8_t> AtBase(Info.SizeOfImage, 0xA5);
  size_t Applied = 0;
  try {
    Applied = sim::PlacePeImage(Info, File, AtBase.data(), Info.PreferredBase);
  } catch (const sim::PeImageError &) {
    return 0;  // a malformed relocation directory
  }
  if (AtBase != Composed(Info, File.data())) std::abort();

  std::vector<bool> Covered(Info.SizeOfImage, false);
  if (MarkFixUps(Info, AtBase, Covered) != Applied) std::abort();
  const uint64_t LoadAddress = LoadAddressOf(Data, Size);
  std::vector<uint8_t> Moved(Info.SizeOfImage, 0x5A);
  try {
    if (sim::PlacePeImage(Info, File, Moved.data(), LoadAddress) != Applied) std::abort();
  } catch (const sim::PeImageError &) {
    // Only moving an image without relocations may fail once its placement at the base succeeded.
    if (Info.RelocationSize != 0 || LoadAddress == Info.PreferredBase) std::abort();
    return 0;
  }
  if (Info.RelocationSize == 0 && LoadAddress != Info.PreferredBase) std::abort();
  for (size_t Byte = 0; Byte < Moved.size(); Byte++) {
    if (Moved[Byte] != AtBase[Byte] && !Covered[Byte]) std::abort();
  }
  return 0;
}
