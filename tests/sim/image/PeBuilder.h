// Writes small PE32+ driver images for the loader's tests: a good image by default, every header
// field a public member a test can break before taking the bytes.
#ifndef TESTS_SIM_IMAGE_PE_BUILDER_H_
#define TESTS_SIM_IMAGE_PE_BUILDER_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "sim/image/PeFormat.h"

namespace sim {

inline uint16_t RelocationEntry(uint16_t Type, uint16_t Offset) {
  return static_cast<uint16_t>(Type << pe::kRelocationTypeShift | Offset);
}

// One base-relocation block as its bytes: page RVA, SizeOfBlock (given, or computed when 0) and entries.
inline std::vector<uint8_t> RelocationBlock(uint32_t PageRva, const std::vector<uint16_t> &Entries,
                                            uint32_t SizeOfBlock = 0) {
  const pe::BaseRelocationBlock Header{
      PageRva, SizeOfBlock ? SizeOfBlock : static_cast<uint32_t>(sizeof(pe::BaseRelocationBlock) + 2 * Entries.size())};
  std::vector<uint8_t> Bytes(sizeof(Header) + 2 * Entries.size());
  std::memcpy(Bytes.data(), &Header, sizeof(Header));
  std::memcpy(Bytes.data() + sizeof(Header), Entries.data(), 2 * Entries.size());
  return Bytes;
}

inline void PutU64(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value) {
  std::memcpy(Bytes.data() + Offset, &Value, sizeof(Value));
}

struct PeBuilder {
  struct Section {
    pe::SectionHeader Header{};
    std::vector<uint8_t> Data;  // written at PointerToRawData, clipped to the file
  };

  static constexpr uint64_t kBase = 0x10000000;
  static constexpr uint32_t kLfanew = 0x80;
  // Where the good image keeps what the tests look at.
  static constexpr uint32_t kText = 0x1000, kData = 0x2000, kReloc = 0x4000;
  static constexpr uint32_t kEntry = kText + 0x10;
  static constexpr uint32_t kTextPointer = kText + 0x100;  // DIR64 fix-ups at these three
  static constexpr uint32_t kDataPointer = kData + 0x10;
  static constexpr uint32_t kTailPointer = kData + 0x18;
  static constexpr uint32_t kAbsoluteTarget = kData + 0x20;  // named by an ABSOLUTE entry only
  static constexpr size_t kDir64Count = 3;

  pe::DosHeader Dos{};
  uint32_t Signature = pe::kPeSignature;
  pe::FileHeader Coff{};
  pe::OptionalHeader64 Optional{};
  std::vector<pe::DataDirectory> Directories = std::vector<pe::DataDirectory>(pe::kMaxDataDirectories);
  std::vector<Section> Sections;
  size_t FileSize = 0xA00;

  // Three sections as a linker lays them out: .text (code, the entry point), .data (raw data shorter
  // than its virtual size) and .reloc; SizeOfImage 0x5000.
  PeBuilder() {
    Dos.e_magic = pe::kDosMagic;
    Dos.e_lfanew = kLfanew;
    Coff.Machine = pe::kMachineX64;
    Coff.NumberOfSections = 3;
    Coff.SizeOfOptionalHeader = sizeof(pe::OptionalHeader64) + pe::kMaxDataDirectories * sizeof(pe::DataDirectory);
    Optional.Magic = pe::kPe32PlusMagic;
    Optional.AddressOfEntryPoint = kEntry;
    Optional.ImageBase = kBase;
    Optional.SectionAlignment = 0x1000;
    Optional.FileAlignment = 0x200;
    Optional.SizeOfImage = 0x5000;
    Optional.SizeOfHeaders = 0x400;
    Optional.Subsystem = pe::kSubsystemEfiBootServiceDriver;
    Optional.NumberOfRvaAndSizes = pe::kMaxDataDirectories;
    AddSection(".text", kText, 0x180, 0x400, 0x60000020);
    AddSection(".data", kData, 0x1800, 0x600, 0xC0000040);
    AddSection(".reloc", kReloc, 0, 0x800, 0x42000040);
    for (size_t Index = 0; Index < 0x200; Index++) {
      Sections[0].Data[Index] = static_cast<uint8_t>(0x90 + Index);
      Sections[1].Data[Index] = static_cast<uint8_t>(0x11 * Index + 3);
    }
    PutU64(Sections[0].Data, kTextPointer - kText, kBase + kData);
    PutU64(Sections[1].Data, kDataPointer - kData, kBase + kEntry);
    PutU64(Sections[1].Data, kTailPointer - kData, kBase + kData + 0x1000);  // into .data's zeroed tail
    PutU64(Sections[1].Data, kAbsoluteTarget - kData, 0x0123456789ABCDEF);
    std::vector<uint8_t> Relocations = RelocationBlock(
        kText, {RelocationEntry(pe::kRelocationDir64, kTextPointer - kText), RelocationEntry(pe::kRelocationAbsolute, 0)});
    const std::vector<uint8_t> DataBlock =
        RelocationBlock(kData, {RelocationEntry(pe::kRelocationDir64, kDataPointer - kData),
                                RelocationEntry(pe::kRelocationAbsolute, kAbsoluteTarget - kData),
                                RelocationEntry(pe::kRelocationDir64, kTailPointer - kData),
                                RelocationEntry(pe::kRelocationAbsolute, 0)});
    Relocations.insert(Relocations.end(), DataBlock.begin(), DataBlock.end());
    SetRelocations(Relocations);
  }

  void AddSection(const char *Name, uint32_t Rva, uint32_t VirtualSize, uint32_t RawOffset, uint32_t Characteristics) {
    Section Added;
    std::strncpy(Added.Header.Name, Name, sizeof(Added.Header.Name));
    Added.Header.VirtualAddress = Rva;
    Added.Header.VirtualSize = VirtualSize;
    Added.Header.PointerToRawData = RawOffset;
    Added.Header.SizeOfRawData = 0x200;
    Added.Header.Characteristics = Characteristics;
    Added.Data.assign(0x200, 0);
    Sections.push_back(Added);
  }

  // Makes Directory the contents of .reloc (at most 0x200 bytes) and the base-relocation directory.
  void SetRelocations(const std::vector<uint8_t> &Directory) {
    Section &Reloc = Sections[2];
    std::fill(Reloc.Data.begin(), Reloc.Data.end(), 0);
    std::copy(Directory.begin(), Directory.end(), Reloc.Data.begin());
    Reloc.Header.VirtualSize = static_cast<uint32_t>(Directory.size());
    Directories[pe::kDirectoryBaseRelocation] = {kReloc, static_cast<uint32_t>(Directory.size())};
  }

  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> File(FileSize, 0);
    const auto Put = [&File](uint64_t Offset, const void *Data, size_t Size) {
      if (Offset < File.size()) std::memcpy(File.data() + Offset, Data, std::min<uint64_t>(Size, File.size() - Offset));
    };
    Put(0, &Dos, sizeof(Dos));
    Put(kLfanew, &Signature, sizeof(Signature));
    Put(kLfanew + 4, &Coff, sizeof(Coff));
    Put(kLfanew + 24, &Optional, sizeof(Optional));
    Put(kLfanew + 24 + sizeof(Optional), Directories.data(), Directories.size() * sizeof(pe::DataDirectory));
    const uint64_t Table = kLfanew + 24 + Coff.SizeOfOptionalHeader;
    for (size_t Index = 0; Index < Sections.size(); Index++) {
      Put(Table + Index * sizeof(pe::SectionHeader), &Sections[Index].Header, sizeof(pe::SectionHeader));
      Put(Sections[Index].Header.PointerToRawData, Sections[Index].Data.data(), Sections[Index].Data.size());
    }
    return File;
  }
};

}  // namespace sim

#endif  // TESTS_SIM_IMAGE_PE_BUILDER_H_
