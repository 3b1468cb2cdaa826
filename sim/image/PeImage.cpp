#include "sim/image/PeImage.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "sim/HexText.h"
#include "sim/image/PeFormat.h"
#include "sim/image/PeRange.h"

namespace sim {
namespace {

// Bounds a driver image must keep: no boot-service driver needs more than 64 MiB of image, and
// DXE loads images at 64 KiB-aligned bases.
constexpr uint64_t kMaxSizeOfImage = 64ull << 20;
constexpr uint64_t kImageBaseAlignment = 64 * 1024;
constexpr uint32_t kMinFileAlignment = 512;
constexpr uint32_t kMaxFileAlignment = 64 * 1024;
// Below the page size, the format requires FileAlignment to equal SectionAlignment (mingw's
// small-alignment images do so: the file is then laid out as the image is).
constexpr uint32_t kPageSize = 4096;

std::string Got(uint64_t Value) { return ", got " + Hex(Value); }

void Expect(bool Holds, const std::string &Source, const std::string &Field, const std::string &Expected,
            uint64_t Value) {
  if (!Holds) FailField(Source, Field, "expected " + Expected + Got(Value));
}

template <typename Record>
Record ReadRecord(std::span<const uint8_t> File, uint64_t Offset, const std::string &Source, const char *Name) {
  if (!Fits(Offset, sizeof(Record), File.size())) {
    FailField(Source, Name,
              "needs " + Hex(sizeof(Record)) + " bytes at offset " + Hex(Offset) + ", the file has " + Hex(File.size()));
  }
  Record Value;
  std::memcpy(&Value, File.data() + Offset, sizeof(Record));
  return Value;
}

// A section's name for messages: up to eight characters, anything unprintable shown as '?'.
std::string SectionName(const pe::SectionHeader &Header) {
  std::string Name(Header.Name, strnlen(Header.Name, sizeof(Header.Name)));
  for (char &Character : Name) {
    if (Character < 0x20 || Character > 0x7E) Character = '?';
  }
  return Name;
}

std::string SectionField(size_t Index, const PeSection &Section, const char *Field) {
  return "Sections[" + std::to_string(Index) + "] (" + Section.Name + ")." + Field;
}

// The bytes the section's contents span from its VirtualAddress, and the range it reserves.
uint64_t ContentSize(const PeSection &Section) { return std::max(Section.VirtualSize, Section.RawDataSize); }
uint64_t ReservedSize(const PeSection &Section, uint32_t SectionAlignment) {
  return AlignUp(ContentSize(Section), SectionAlignment);
}

const PeSection *SectionHolding(const PeImageInfo &Info, uint64_t Rva, uint64_t Size) {
  for (const PeSection &Section : Info.Sections) {
    if (Rva >= Section.VirtualAddress && Fits(Rva - Section.VirtualAddress, Size, ContentSize(Section))) {
      return &Section;
    }
  }
  return nullptr;
}

void CheckAlignments(const PeImageInfo &Info, const std::string &Source) {
  const uint32_t Section = Info.SectionAlignment, File = Info.FileAlignment;
  Expect(std::has_single_bit(Section), Source, "OptionalHeader.SectionAlignment", "a power of two", Section);
  Expect(std::has_single_bit(File), Source, "OptionalHeader.FileAlignment", "a power of two", File);
  if (Section < kPageSize) {
    Expect(File == Section, Source, "OptionalHeader.FileAlignment",
           "the SectionAlignment " + Hex(Section) + " (it is below the page size)", File);
  } else {
    Expect(File >= kMinFileAlignment && File <= std::min(kMaxFileAlignment, Section), Source,
           "OptionalHeader.FileAlignment",
           "from " + Hex(kMinFileAlignment) + " to " + Hex(std::min(kMaxFileAlignment, Section)), File);
  }
}

void CheckImageSize(const PeImageInfo &Info, size_t FileSize, const std::string &Source) {
  Expect(Info.PreferredBase % kImageBaseAlignment == 0, Source, "OptionalHeader.ImageBase",
         "a multiple of " + Hex(kImageBaseAlignment), Info.PreferredBase);
  Expect(Info.SizeOfImage != 0 && Info.SizeOfImage <= kMaxSizeOfImage && Info.SizeOfImage % Info.SectionAlignment == 0,
         Source, "OptionalHeader.SizeOfImage",
         "a non-zero multiple of the SectionAlignment " + Hex(Info.SectionAlignment) + " up to " +
             Hex(kMaxSizeOfImage),
         Info.SizeOfImage);
  Expect(Info.SizeOfHeaders <= FileSize && Info.SizeOfHeaders <= Info.SizeOfImage, Source,
         "OptionalHeader.SizeOfHeaders",
         "at most the file size " + Hex(FileSize) + " and the SizeOfImage " + Hex(Info.SizeOfImage),
         Info.SizeOfHeaders);
}

// Sections follow the headers and each other in the table's order without overlapping, inside the
// image; their raw data lies inside the file.
void CheckSections(const PeImageInfo &Info, size_t FileSize, const std::string &Source) {
  uint64_t Free = AlignUp(Info.SizeOfHeaders, Info.SectionAlignment);
  std::string Previous = "the headers";
  for (size_t Index = 0; Index < Info.Sections.size(); Index++) {
    const PeSection &Section = Info.Sections[Index];
    if (Section.RawDataSize != 0 && !Fits(Section.RawDataOffset, Section.RawDataSize, FileSize)) {
      FailField(Source, SectionField(Index, Section, "SizeOfRawData"),
                "raw data at " + Hex(Section.RawDataOffset) + " runs past the end of the file " + Hex(FileSize) +
                    Got(Section.RawDataSize));
    }
    Expect(Section.VirtualAddress % Info.SectionAlignment == 0, Source, SectionField(Index, Section, "VirtualAddress"),
           "a multiple of the SectionAlignment " + Hex(Info.SectionAlignment), Section.VirtualAddress);
    Expect(Section.VirtualAddress >= Free, Source, SectionField(Index, Section, "VirtualAddress"),
           "at least " + Hex(Free) + " (the end of " + Previous + ")", Section.VirtualAddress);
    const uint64_t Reserved = ReservedSize(Section, Info.SectionAlignment);
    if (!Fits(Section.VirtualAddress, Reserved, Info.SizeOfImage)) {
      FailField(Source, SectionField(Index, Section, "VirtualSize"),
                "the section's " + Hex(Reserved) + " bytes at " + Hex(Section.VirtualAddress) +
                    " run past the SizeOfImage " + Hex(Info.SizeOfImage) + Got(Section.VirtualSize));
    }
    Free = Section.VirtualAddress + Reserved;
    Previous = "section " + Section.Name;
  }
}

void CheckEntryPoint(const PeImageInfo &Info, const std::string &Source) {
  const PeSection *Holder = SectionHolding(Info, Info.EntryPointRva, 1);
  if (Holder == nullptr || (Holder->Characteristics & pe::kSectionMemExecute) == 0) {
    FailField(Source, "OptionalHeader.AddressOfEntryPoint",
              std::string("expected inside an executable section") +
                  (Holder ? ", but " + Holder->Name + " is not executable" : "") + Got(Info.EntryPointRva));
  }
}

void CheckRelocationDirectory(const PeImageInfo &Info, const std::string &Source) {
  if (Info.RelocationSize == 0) return;
  if (SectionHolding(Info, Info.RelocationRva, Info.RelocationSize) == nullptr) {
    FailField(Source, "OptionalHeader.DataDirectory[5] (base relocations)",
              "expected inside one section, got " + Hex(Info.RelocationSize) + " bytes at " + Hex(Info.RelocationRva));
  }
}

pe::DataDirectory Directory(const std::vector<pe::DataDirectory> &Directories, uint32_t Index) {
  return Index < Directories.size() ? Directories[Index] : pe::DataDirectory{};
}

PeSection ToSection(const pe::SectionHeader &Header) {
  return PeSection{SectionName(Header), Header.VirtualAddress, Header.VirtualSize, Header.PointerToRawData,
                   Header.SizeOfRawData, Header.Characteristics};
}

}  // namespace

void CheckPeLayout(const PeImageInfo &Info, size_t FileSize, const std::string &Source) {
  CheckAlignments(Info, Source);
  CheckImageSize(Info, FileSize, Source);
  CheckSections(Info, FileSize, Source);
  CheckEntryPoint(Info, Source);
  CheckRelocationDirectory(Info, Source);
}

PeImageInfo ParsePeImage(std::span<const uint8_t> File, const std::string &Source) {
  const auto Dos = ReadRecord<pe::DosHeader>(File, 0, Source, "DosHeader");
  Expect(Dos.e_magic == pe::kDosMagic, Source, "DosHeader.e_magic", "0x5A4D (\"MZ\")", Dos.e_magic);
  const uint64_t Signature = Dos.e_lfanew;
  const uint64_t FileHeaderAt = Signature + pe::kPeSignatureSize;
  const uint64_t OptionalAt = FileHeaderAt + sizeof(pe::FileHeader);
  if (!Fits(Signature, OptionalAt - Signature + sizeof(pe::OptionalHeader64), File.size())) {
    FailField(Source, "DosHeader.e_lfanew",
              "the PE signature and headers there run past the end of the file " + Hex(File.size()) +
                  Got(Dos.e_lfanew));
  }
  const auto PeSignature = ReadRecord<uint32_t>(File, Signature, Source, "Signature");
  Expect(PeSignature == pe::kPeSignature, Source, "Signature", "0x4550 (\"PE\\0\\0\")", PeSignature);
  const auto Coff = ReadRecord<pe::FileHeader>(File, FileHeaderAt, Source, "FileHeader");
  Expect(Coff.Machine == pe::kMachineX64, Source, "FileHeader.Machine", "0x8664 (x64)", Coff.Machine);
  const auto Optional = ReadRecord<pe::OptionalHeader64>(File, OptionalAt, Source, "OptionalHeader");
  Expect(Optional.Magic == pe::kPe32PlusMagic, Source, "OptionalHeader.Magic", "0x20B (PE32+)", Optional.Magic);
  Expect(Optional.NumberOfRvaAndSizes <= pe::kMaxDataDirectories, Source, "OptionalHeader.NumberOfRvaAndSizes",
         "at most 16", Optional.NumberOfRvaAndSizes);
  const uint64_t OptionalSize =
      sizeof(pe::OptionalHeader64) + uint64_t{Optional.NumberOfRvaAndSizes} * sizeof(pe::DataDirectory);
  Expect(Coff.SizeOfOptionalHeader >= OptionalSize, Source, "FileHeader.SizeOfOptionalHeader",
         "at least " + Hex(OptionalSize) + " (PE32+ with " + std::to_string(Optional.NumberOfRvaAndSizes) +
             " data directories)",
         Coff.SizeOfOptionalHeader);
  Expect(Optional.Subsystem == pe::kSubsystemEfiBootServiceDriver, Source, "OptionalHeader.Subsystem",
         "11 (EFI boot service driver)", Optional.Subsystem);

  const uint64_t TableAt = OptionalAt + Coff.SizeOfOptionalHeader;
  const uint64_t TableEnd = TableAt + uint64_t{Coff.NumberOfSections} * sizeof(pe::SectionHeader);
  Expect(Coff.NumberOfSections != 0, Source, "FileHeader.NumberOfSections", "at least one section", 0);
  if (TableEnd > File.size()) {
    FailField(Source, "FileHeader.NumberOfSections",
              "the section table at " + Hex(TableAt) + " runs past the end of the file " + Hex(File.size()) +
                  Got(Coff.NumberOfSections));
  }

  std::vector<pe::DataDirectory> Directories;
  for (uint32_t Index = 0; Index < Optional.NumberOfRvaAndSizes; Index++) {
    Directories.push_back(ReadRecord<pe::DataDirectory>(
        File, OptionalAt + sizeof(pe::OptionalHeader64) + Index * sizeof(pe::DataDirectory), Source, "DataDirectory"));
  }
  const pe::DataDirectory Imports = Directory(Directories, pe::kDirectoryImport);
  if (Imports.Size != 0) {
    FailField(Source, "OptionalHeader.DataDirectory[1] (imports)",
              "has an import table (a driver calls only what it is handed), size " + Hex(Imports.Size));
  }
  Expect(Optional.SizeOfHeaders >= TableEnd, Source, "OptionalHeader.SizeOfHeaders",
         "at least " + Hex(TableEnd) + " (the end of the section table)", Optional.SizeOfHeaders);

  PeImageInfo Info;
  Info.PreferredBase = Optional.ImageBase;
  Info.SizeOfImage = Optional.SizeOfImage;
  Info.SizeOfHeaders = Optional.SizeOfHeaders;
  Info.EntryPointRva = Optional.AddressOfEntryPoint;
  Info.SectionAlignment = Optional.SectionAlignment;
  Info.FileAlignment = Optional.FileAlignment;
  Info.Machine = Coff.Machine;
  Info.Subsystem = Optional.Subsystem;
  for (uint32_t Index = 0; Index < Coff.NumberOfSections; Index++) {
    Info.Sections.push_back(
        ToSection(ReadRecord<pe::SectionHeader>(File, TableAt + Index * sizeof(pe::SectionHeader), Source, "Sections")));
  }
  const pe::DataDirectory Relocations = Directory(Directories, pe::kDirectoryBaseRelocation);
  Info.RelocationRva = Relocations.Size != 0 ? Relocations.VirtualAddress : 0;
  Info.RelocationSize = Relocations.Size;
  CheckPeLayout(Info, File.size(), Source);
  return Info;
}

}  // namespace sim
