// Placing a checked image into its memory: headers and sections copied, the rest zeroed, and the
// base relocations applied for the address it runs at.
#include <cstring>
#include <vector>

#include "sim/HexText.h"
#include "sim/image/PeFormat.h"
#include "sim/image/PeImage.h"
#include "sim/image/PeRange.h"

namespace sim {
namespace {

std::string BlockName(unsigned Block, const pe::BaseRelocationBlock &Header) {
  return "base relocation block " + std::to_string(Block) + " (page RVA " + Hex(Header.VirtualAddress) + ")";
}

// Applies one block's entries; Entries points at its (SizeOfBlock - 8) / 2 entries.
size_t ApplyBlock(const PeImageInfo &Info, unsigned Block, const pe::BaseRelocationBlock &Header,
                  const uint8_t *Entries, uint8_t *Image, uint64_t Delta, const std::string &Source) {
  size_t Applied = 0;
  const size_t Count = (Header.SizeOfBlock - sizeof(Header)) / sizeof(uint16_t);
  for (size_t Index = 0; Index < Count; Index++) {
    uint16_t Entry;
    std::memcpy(&Entry, Entries + Index * sizeof(Entry), sizeof(Entry));
    const uint16_t Type = Entry >> pe::kRelocationTypeShift;
    const std::string Field = BlockName(Block, Header) + " entry " + std::to_string(Index);
    if (Type == pe::kRelocationAbsolute) continue;
    if (Type != pe::kRelocationDir64) {
      FailField(Source, Field, "type: expected 10 (DIR64) or 0 (ABSOLUTE), got " + std::to_string(Type));
    }
    const uint64_t Target = uint64_t{Header.VirtualAddress} + (Entry & pe::kRelocationOffsetMask);
    if (!Fits(Target, sizeof(uint64_t), Info.SizeOfImage)) {
      FailField(Source, Field,
                "the DIR64 fix-up at " + Hex(Target) + " runs past the SizeOfImage " + Hex(Info.SizeOfImage));
    }
    uint64_t Value;
    std::memcpy(&Value, Image + Target, sizeof(Value));
    Value += Delta;
    std::memcpy(Image + Target, &Value, sizeof(Value));
    Applied++;
  }
  return Applied;
}

size_t ApplyBaseRelocations(const PeImageInfo &Info, uint8_t *Image, uint64_t LoadAddress, const std::string &Source) {
  const uint64_t Delta = LoadAddress - Info.PreferredBase;
  if (Info.RelocationSize == 0) {
    if (Delta != 0) {
      FailField(Source, "OptionalHeader.DataDirectory[5] (base relocations)",
                "none, so the image runs only at its preferred base " + Hex(Info.PreferredBase) + ", not at " +
                    Hex(LoadAddress));
    }
    return 0;
  }
  // The directory is read from a copy: a fix-up that lands in it must not change the blocks still
  // to be read.
  const std::vector<uint8_t> Directory(Image + Info.RelocationRva, Image + Info.RelocationRva + Info.RelocationSize);
  size_t Applied = 0;
  unsigned Block = 0;
  for (size_t Offset = 0; Offset < Directory.size(); Block++) {
    const size_t Left = Directory.size() - Offset;
    pe::BaseRelocationBlock Header;
    if (Left < sizeof(Header)) {
      FailField(Source, "base relocation block " + std::to_string(Block) + " at directory offset " + Hex(Offset),
                "needs 8 bytes, the directory has " + Hex(Left) + " left");
    }
    std::memcpy(&Header, Directory.data() + Offset, sizeof(Header));
    if (Header.SizeOfBlock < sizeof(Header) || Header.SizeOfBlock > Left || Header.SizeOfBlock % sizeof(uint16_t) != 0) {
      FailField(Source, BlockName(Block, Header) + ".SizeOfBlock",
                "expected an even size from 0x8 to " + Hex(Left) + " (the rest of the directory), got " +
                    Hex(Header.SizeOfBlock));
    }
    Applied += ApplyBlock(Info, Block, Header, Directory.data() + Offset + sizeof(Header), Image, Delta, Source);
    Offset += Header.SizeOfBlock;
  }
  return Applied;
}

}  // namespace

size_t PlacePeImage(const PeImageInfo &Info, std::span<const uint8_t> File, uint8_t *Destination,
                    uint64_t LoadAddress, const std::string &Source) {
  CheckPeLayout(Info, File.size(), Source);
  std::memset(Destination, 0, Info.SizeOfImage);
  if (Info.SizeOfHeaders != 0) std::memcpy(Destination, File.data(), Info.SizeOfHeaders);
  for (const PeSection &Section : Info.Sections) {
    if (Section.RawDataSize != 0) {
      std::memcpy(Destination + Section.VirtualAddress, File.data() + Section.RawDataOffset, Section.RawDataSize);
    }
  }
  return ApplyBaseRelocations(Info, Destination, LoadAddress, Source);
}

}  // namespace sim
