// The PE32+ loader: what it reads from a good image, how it places and relocates it, and the field
// each malformed image is refused for.
#include "sim/image/PeImage.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "tests/sim/image/PeBuilder.h"

namespace sim {
namespace {

uint64_t U64At(const std::vector<uint8_t> &Bytes, size_t Offset) {
  uint64_t Value;
  std::memcpy(&Value, Bytes.data() + Offset, sizeof(Value));
  return Value;
}

std::string RefusalOf(const std::vector<uint8_t> &File) {
  try {
    ParsePeImage(File, "t.efi");
  } catch (const PeImageError &Error) {
    return Error.what();
  }
  return "accepted";
}

TEST(PeImage, GoodImageIsDescribedAsItsHeadersSay) {
  const PeImageInfo Info = ParsePeImage(PeBuilder().Bytes(), "t.efi");
  EXPECT_EQ(Info.PreferredBase, PeBuilder::kBase);
  EXPECT_EQ(Info.SizeOfImage, 0x5000u);
  EXPECT_EQ(Info.SizeOfHeaders, 0x400u);
  EXPECT_EQ(Info.EntryPointRva, PeBuilder::kEntry);
  EXPECT_EQ(Info.SectionAlignment, 0x1000u);
  EXPECT_EQ(Info.FileAlignment, 0x200u);
  EXPECT_EQ(Info.Machine, 0x8664);
  EXPECT_EQ(Info.Subsystem, 11);
  ASSERT_EQ(Info.Sections.size(), 3u);
  EXPECT_EQ(Info.Sections[1].Name, ".data");
  EXPECT_EQ(Info.Sections[1].VirtualAddress, 0x2000u);
  EXPECT_EQ(Info.Sections[1].VirtualSize, 0x1800u);
  EXPECT_EQ(Info.Sections[1].RawDataOffset, 0x600u);
  EXPECT_EQ(Info.Sections[1].RawDataSize, 0x200u);
  EXPECT_EQ(Info.Sections[0].Characteristics, 0x60000020u);
  EXPECT_EQ(Info.RelocationRva, PeBuilder::kReloc);
  EXPECT_EQ(Info.RelocationSize, 28u);
}

// The placed image is exactly the headers and the sections' raw data over zeros, with the DIR64
// fix-ups moved by the load delta, up or down; the ABSOLUTE entries change nothing.
TEST(PeImage, PlacingCopiesZeroesAndRelocatesForAnyDelta) {
  const PeBuilder Builder;
  const std::vector<uint8_t> File = Builder.Bytes();
  const PeImageInfo Info = ParsePeImage(File, "t.efi");
  for (const uint64_t LoadAddress : {PeBuilder::kBase, PeBuilder::kBase + 0x7FFF0000, PeBuilder::kBase - 0x10000}) {
    const uint64_t Delta = LoadAddress - PeBuilder::kBase;
    std::vector<uint8_t> Expected(Info.SizeOfImage, 0);
    std::copy_n(File.begin(), Info.SizeOfHeaders, Expected.begin());
    for (const PeBuilder::Section &Section : Builder.Sections) {
      std::copy(Section.Data.begin(), Section.Data.end(), Expected.begin() + Section.Header.VirtualAddress);
    }
    for (const uint32_t Fixed : {PeBuilder::kTextPointer, PeBuilder::kDataPointer, PeBuilder::kTailPointer}) {
      PutU64(Expected, Fixed, U64At(Expected, Fixed) + Delta);
    }
    std::vector<uint8_t> Placed(Info.SizeOfImage, 0xCC);
    EXPECT_EQ(PlacePeImage(Info, File, Placed.data(), LoadAddress), PeBuilder::kDir64Count);
    EXPECT_EQ(Placed, Expected) << "loaded at " << std::hex << LoadAddress;
    EXPECT_EQ(U64At(Placed, PeBuilder::kDataPointer), LoadAddress + PeBuilder::kEntry);
    EXPECT_EQ(U64At(Placed, PeBuilder::kAbsoluteTarget), 0x0123456789ABCDEFu);
    EXPECT_EQ(Placed[PeBuilder::kData + 0x1000], 0);  // .data's tail past its raw data
  }
}

TEST(PeImage, AcceptedLayoutVariants) {
  const std::vector<std::pair<const char *, std::function<void(PeBuilder &)>>> Variants = {
      {"file alignment of a whole page", [](PeBuilder &B) { B.Optional.FileAlignment = 0x1000; }},
      {"small equal alignments (0x200)",
       [](PeBuilder &B) { B.Optional.SectionAlignment = B.Optional.FileAlignment = 0x200; }},
      {"small equal alignments (0x20)",
       [](PeBuilder &B) { B.Optional.SectionAlignment = B.Optional.FileAlignment = 0x20; }},
      {"six data directories",
       [](PeBuilder &B) {
         B.Optional.NumberOfRvaAndSizes = 6;
         B.Directories.resize(6);
         B.Coff.SizeOfOptionalHeader = sizeof(pe::OptionalHeader64) + 6 * sizeof(pe::DataDirectory);
       }},
      {"a larger optional header than its directories need", [](PeBuilder &B) { B.Optional.NumberOfRvaAndSizes = 8; }},
  };
  for (const auto &[Name, Change] : Variants) {
    PeBuilder Builder;
    Change(Builder);
    EXPECT_EQ(RefusalOf(Builder.Bytes()), "accepted") << Name;
  }
}

struct BadHeader {
  const char *Name;
  std::function<void(PeBuilder &)> Break;
  const char *Expected;
};

void PrintTo(const BadHeader &Case, std::ostream *Out) { *Out << Case.Name; }

class MalformedHeader : public ::testing::TestWithParam<BadHeader> {};

TEST_P(MalformedHeader, IsRefusedNamingTheField) {
  PeBuilder Builder;
  GetParam().Break(Builder);
  const std::string Message = RefusalOf(Builder.Bytes());
  EXPECT_NE(Message.find(GetParam().Expected), std::string::npos) << Message;
}

PeBuilder::Section &Data(PeBuilder &B) { return B.Sections[1]; }

INSTANTIATE_TEST_SUITE_P(
    Fields, MalformedHeader,
    ::testing::Values(
        BadHeader{"DosMagic", [](PeBuilder &B) { B.Dos.e_magic = 0x4D5A; },
                  "t.efi: DosHeader.e_magic: expected 0x5A4D (\"MZ\"), got 0x4D5A"},
        BadHeader{"LfanewPastTheFile", [](PeBuilder &B) { B.Dos.e_lfanew = 0xFFFFFFF0; },
                  "t.efi: DosHeader.e_lfanew: the PE signature and headers there run past the end of the file 0xA00, "
                  "got 0xFFFFFFF0"},
        BadHeader{"Signature", [](PeBuilder &B) { B.Signature = 0x454E; },
                  "t.efi: Signature: expected 0x4550 (\"PE\\0\\0\"), got 0x454E"},
        BadHeader{"Machine", [](PeBuilder &B) { B.Coff.Machine = 0x14C; },
                  "t.efi: FileHeader.Machine: expected 0x8664 (x64), got 0x14C"},
        BadHeader{"Pe32Magic", [](PeBuilder &B) { B.Optional.Magic = 0x10B; },
                  "t.efi: OptionalHeader.Magic: expected 0x20B (PE32+), got 0x10B"},
        BadHeader{"TooManyDirectories", [](PeBuilder &B) { B.Optional.NumberOfRvaAndSizes = 17; },
                  "OptionalHeader.NumberOfRvaAndSizes: expected at most 16, got 0x11"},
        BadHeader{"OptionalHeaderTooSmall", [](PeBuilder &B) { B.Coff.SizeOfOptionalHeader = 0xE8; },
                  "FileHeader.SizeOfOptionalHeader: expected at least 0xF0 (PE32+ with 16 data directories), got 0xE8"},
        BadHeader{"Subsystem", [](PeBuilder &B) { B.Optional.Subsystem = 10; },
                  "OptionalHeader.Subsystem: expected 11 (EFI boot service driver), got 0xA"},
        BadHeader{"NoSections", [](PeBuilder &B) { B.Coff.NumberOfSections = 0; },
                  "FileHeader.NumberOfSections: expected at least one section, got 0x0"},
        BadHeader{"SectionTablePastTheFile", [](PeBuilder &B) { B.Coff.NumberOfSections = 0xFFFF; },
                  "FileHeader.NumberOfSections: the section table at 0x188 runs past the end of the file 0xA00"},
        BadHeader{"ImportTable", [](PeBuilder &B) { B.Directories[1] = {0x2000, 0x28}; },
                  "OptionalHeader.DataDirectory[1] (imports): has an import table"},
        BadHeader{"HeadersShortOfTheSectionTable", [](PeBuilder &B) { B.Optional.SizeOfHeaders = 0x1F0; },
                  "OptionalHeader.SizeOfHeaders: expected at least 0x200 (the end of the section table), got 0x1F0"},
        BadHeader{"HeadersPastTheFile", [](PeBuilder &B) { B.Optional.SizeOfHeaders = 0x1000; },
                  "OptionalHeader.SizeOfHeaders: expected at most the file size 0xA00"},
        BadHeader{"SectionAlignmentNotAPowerOfTwo", [](PeBuilder &B) { B.Optional.SectionAlignment = 0x1800; },
                  "OptionalHeader.SectionAlignment: expected a power of two, got 0x1800"},
        BadHeader{"FileAlignmentTooSmall", [](PeBuilder &B) { B.Optional.FileAlignment = 0x100; },
                  "OptionalHeader.FileAlignment: expected from 0x200 to 0x1000, got 0x100"},
        BadHeader{"FileAlignmentAboveSectionAlignment", [](PeBuilder &B) { B.Optional.FileAlignment = 0x2000; },
                  "OptionalHeader.FileAlignment: expected from 0x200 to 0x1000, got 0x2000"},
        BadHeader{"SmallAlignmentsDiffer",
                  [](PeBuilder &B) {
                    B.Optional.SectionAlignment = 0x800;
                    B.Optional.FileAlignment = 0x200;
                  },
                  "OptionalHeader.FileAlignment: expected the SectionAlignment 0x800"},
        BadHeader{"ImageBaseUnaligned", [](PeBuilder &B) { B.Optional.ImageBase = 0x10001000; },
                  "OptionalHeader.ImageBase: expected a multiple of 0x10000, got 0x10001000"},
        BadHeader{"EmptyImage", [](PeBuilder &B) { B.Optional.SizeOfImage = 0; }, "OptionalHeader.SizeOfImage"},
        BadHeader{"ImageSizeUnaligned", [](PeBuilder &B) { B.Optional.SizeOfImage = 0x4800; },
                  "OptionalHeader.SizeOfImage: expected a non-zero multiple of the SectionAlignment 0x1000 up to "
                  "0x4000000, got 0x4800"},
        BadHeader{"ImageTooLarge", [](PeBuilder &B) { B.Optional.SizeOfImage = 0x4001000; },
                  "OptionalHeader.SizeOfImage"},
        BadHeader{"RawDataPastTheFile", [](PeBuilder &B) { Data(B).Header.PointerToRawData = 0x900; },
                  "Sections[1] (.data).SizeOfRawData: raw data at 0x900 runs past the end of the file 0xA00, got 0x200"},
        BadHeader{"RawDataOffsetThatWraps", [](PeBuilder &B) { Data(B).Header.PointerToRawData = 0xFFFFFF00; },
                  "Sections[1] (.data).SizeOfRawData"},
        BadHeader{"SectionUnaligned", [](PeBuilder &B) { Data(B).Header.VirtualAddress = 0x2200; },
                  "Sections[1] (.data).VirtualAddress: expected a multiple of the SectionAlignment 0x1000, got 0x2200"},
        BadHeader{"SectionOverHeaders", [](PeBuilder &B) { B.Sections[0].Header.VirtualAddress = 0; },
                  "Sections[0] (.text).VirtualAddress: expected at least 0x1000 (the end of the headers), got 0x0"},
        BadHeader{"SectionsOverlap", [](PeBuilder &B) { Data(B).Header.VirtualAddress = 0x1000; },
                  "Sections[1] (.data).VirtualAddress: expected at least 0x2000 (the end of section .text), got 0x1000"},
        BadHeader{"SectionPastTheImage", [](PeBuilder &B) { Data(B).Header.VirtualSize = 0x3001; },
                  "Sections[1] (.data).VirtualSize: the section's 0x4000 bytes at 0x2000 run past the SizeOfImage "
                  "0x5000, got 0x3001"},
        BadHeader{"EntryInData", [](PeBuilder &B) { B.Optional.AddressOfEntryPoint = 0x2010; },
                  "OptionalHeader.AddressOfEntryPoint: expected inside an executable section, but .data is not "
                  "executable, got 0x2010"},
        BadHeader{"EntryPastTextContents", [](PeBuilder &B) { B.Optional.AddressOfEntryPoint = 0x1200; },
                  "OptionalHeader.AddressOfEntryPoint: expected inside an executable section, got 0x1200"},
        BadHeader{"RelocationsInHeaders", [](PeBuilder &B) { B.Directories[5].VirtualAddress = 0x100; },
                  "OptionalHeader.DataDirectory[5] (base relocations): expected inside one section, got 0x1C bytes "
                  "at 0x100"},
        BadHeader{"RelocationsPastTheImage", [](PeBuilder &B) { B.Directories[5] = {0x4F00, 0x200}; },
                  "OptionalHeader.DataDirectory[5] (base relocations)"}),
    [](const ::testing::TestParamInfo<BadHeader> &Info) { return std::string(Info.param.Name); });

// Every prefix of a good image is refused, never read past: each copy is allocated at its own
// length so that the address sanitizer sees any read beyond it.
TEST(PeImage, TruncatedFileIsRefusedAtEveryLength) {
  const std::vector<uint8_t> File = PeBuilder().Bytes();
  for (size_t Length = 0; Length < File.size(); Length++) {
    const std::vector<uint8_t> Prefix(File.begin(), File.begin() + Length);
    EXPECT_THROW(ParsePeImage(Prefix, "t.efi"), PeImageError) << "length " << Length;
  }
  EXPECT_NE(RefusalOf({File.begin(), File.begin() + 10}).find("t.efi: DosHeader: needs 0x40 bytes at offset 0x0, the "
                                                             "file has 0xA"),
            std::string::npos);
  EXPECT_NE(RefusalOf({File.begin(), File.begin() + 0x100}).find("DosHeader.e_lfanew"), std::string::npos);
  EXPECT_NE(RefusalOf({File.begin(), File.begin() + 0x1F0}).find("FileHeader.NumberOfSections"), std::string::npos);
  EXPECT_NE(RefusalOf({File.begin(), File.begin() + 0x9FF}).find("Sections[2] (.reloc).SizeOfRawData"),
            std::string::npos);
}

struct BadRelocation {
  const char *Name;
  std::vector<uint8_t> Directory;
  const char *Expected;
};

void PrintTo(const BadRelocation &Case, std::ostream *Out) { *Out << Case.Name; }

class MalformedRelocation : public ::testing::TestWithParam<BadRelocation> {};

TEST_P(MalformedRelocation, IsRefusedWhenPlaced) {
  PeBuilder Builder;
  Builder.SetRelocations(GetParam().Directory);
  const std::vector<uint8_t> File = Builder.Bytes();
  const PeImageInfo Info = ParsePeImage(File, "t.efi");
  std::vector<uint8_t> Placed(Info.SizeOfImage);
  try {
    PlacePeImage(Info, File, Placed.data(), PeBuilder::kBase + 0x100000);
    FAIL() << "placed";
  } catch (const PeImageError &Error) {
    EXPECT_NE(std::string(Error.what()).find(GetParam().Expected), std::string::npos) << Error.what();
  }
}

std::vector<uint8_t> Joined(std::vector<uint8_t> First, const std::vector<uint8_t> &Second) {
  First.insert(First.end(), Second.begin(), Second.end());
  return First;
}

const std::vector<uint8_t> kGoodBlock = RelocationBlock(0x1000, {RelocationEntry(pe::kRelocationDir64, 0x100)});

INSTANTIATE_TEST_SUITE_P(
    Blocks, MalformedRelocation,
    ::testing::Values(
        BadRelocation{"HighLowType", Joined(kGoodBlock, RelocationBlock(0x2000, {RelocationEntry(10, 0x10),
                                                                                 RelocationEntry(3, 0x18)})),
                      "image: base relocation block 1 (page RVA 0x2000) entry 1: type: expected 10 (DIR64) or 0 "
                      "(ABSOLUTE), got 3"},
        BadRelocation{"FixUpAcrossTheImageEnd", RelocationBlock(0x4000, {RelocationEntry(10, 0xFFC)}),
                      "block 0 (page RVA 0x4000) entry 0: the DIR64 fix-up at 0x4FFC runs past the SizeOfImage 0x5000"},
        BadRelocation{"PageFarPastTheImage", RelocationBlock(0xFFFFF000, {RelocationEntry(10, 0xFFF)}),
                      "the DIR64 fix-up at 0xFFFFFFFF runs past the SizeOfImage 0x5000"},
        BadRelocation{"BlockShorterThanItsHeader", RelocationBlock(0x1000, {RelocationEntry(10, 0)}, 4),
                      "block 0 (page RVA 0x1000).SizeOfBlock: expected an even size from 0x8 to 0xA (the rest of the "
                      "directory), got 0x4"},
        BadRelocation{"BlockPastTheDirectory", Joined(kGoodBlock, RelocationBlock(0x2000, {0}, 0x100)),
                      "block 1 (page RVA 0x2000).SizeOfBlock: expected an even size from 0x8 to 0xA (the rest of the "
                      "directory), got 0x100"},
        BadRelocation{"OddBlockSize", RelocationBlock(0x1000, {RelocationEntry(10, 0), 0}, 11), ".SizeOfBlock"},
        BadRelocation{"ZeroedDirectory", std::vector<uint8_t>(16, 0), "block 0 (page RVA 0x0).SizeOfBlock"},
        BadRelocation{"TrailingBytes", Joined(kGoodBlock, {0, 0, 0, 0}),
                      "base relocation block 1 at directory offset 0xA: needs 8 bytes, the directory has 0x4 left"}),
    [](const ::testing::TestParamInfo<BadRelocation> &Info) { return std::string(Info.param.Name); });

// A fix-up that lands in the relocation directory itself changes the placed image, not the blocks
// still to be read.
TEST(PeImage, FixUpInsideTheDirectoryDoesNotChangeLaterBlocks) {
  PeBuilder Builder;
  // Block 0 patches the 8 bytes holding block 1's header; read from the placed image, block 1 would
  // then have a page RVA of 0x100000 + 0x2000 and its fix-up would be refused.
  Builder.SetRelocations(Joined(RelocationBlock(PeBuilder::kReloc, {RelocationEntry(10, 0xC), 0}),
                                RelocationBlock(0x2000, {RelocationEntry(10, 0x10), 0})));
  const std::vector<uint8_t> File = Builder.Bytes();
  const PeImageInfo Info = ParsePeImage(File, "t.efi");
  std::vector<uint8_t> Placed(Info.SizeOfImage);
  EXPECT_EQ(PlacePeImage(Info, File, Placed.data(), PeBuilder::kBase + 0x100000), 2u);
  EXPECT_EQ(U64At(Placed, PeBuilder::kDataPointer), PeBuilder::kBase + 0x100000 + PeBuilder::kEntry);
  EXPECT_EQ(U64At(Placed, PeBuilder::kReloc + 0xC), U64At(File, 0x800 + 0xC) + 0x100000);
}

TEST(PeImage, ImageWithoutRelocationsRunsOnlyAtItsBase) {
  PeBuilder Builder;
  Builder.Directories[pe::kDirectoryBaseRelocation] = {};
  const std::vector<uint8_t> File = Builder.Bytes();
  const PeImageInfo Info = ParsePeImage(File, "t.efi");
  std::vector<uint8_t> Placed(Info.SizeOfImage);
  EXPECT_EQ(PlacePeImage(Info, File, Placed.data(), PeBuilder::kBase), 0u);
  EXPECT_EQ(U64At(Placed, PeBuilder::kDataPointer), PeBuilder::kBase + PeBuilder::kEntry);
  try {
    PlacePeImage(Info, File, Placed.data(), PeBuilder::kBase + 0x10000);
    FAIL() << "moved without relocations";
  } catch (const PeImageError &Error) {
    EXPECT_STREQ(Error.what(),
                 "image: OptionalHeader.DataDirectory[5] (base relocations): none, so the image runs only at its "
                 "preferred base 0x10000000, not at 0x10010000");
  }
}

// Placing checks the description it is handed against the file, so a description of another,
// larger file cannot make it read past this one.
TEST(PeImage, PlacingRefusesADescriptionOfAnotherFile) {
  const std::vector<uint8_t> File = PeBuilder().Bytes();
  const PeImageInfo Info = ParsePeImage(File, "t.efi");
  const std::vector<uint8_t> Shorter(File.begin(), File.begin() + 0x900);
  std::vector<uint8_t> Placed(Info.SizeOfImage);
  EXPECT_THROW(PlacePeImage(Info, Shorter, Placed.data(), PeBuilder::kBase), PeImageError);
}

TEST(PeImage, DeliveredFirmwareImageLoads) {
  const std::filesystem::path Path = CCX_PE_FIRMWARE_IMAGE;
  if (!std::filesystem::exists(Path)) GTEST_SKIP() << Path << " is not built (target ccx_firmware_image)";
  std::ifstream Stream(Path, std::ios::binary);
  const std::vector<uint8_t> File{std::istreambuf_iterator<char>(Stream), {}};
  const PeImageInfo Info = ParsePeImage(File, Path.filename().string());
  EXPECT_EQ(Info.Subsystem, 11);
  EXPECT_NE(Info.RelocationSize, 0u);
  const auto Text = std::find_if(Info.Sections.begin(), Info.Sections.end(),
                                 [](const PeSection &Section) { return Section.Name == ".text"; });
  ASSERT_NE(Text, Info.Sections.end());
  EXPECT_GE(Info.EntryPointRva, Text->VirtualAddress);
  EXPECT_LT(Info.EntryPointRva, Text->VirtualAddress + Text->VirtualSize);

  std::vector<uint8_t> AtBase(Info.SizeOfImage), Moved(Info.SizeOfImage);
  const size_t Applied = PlacePeImage(Info, File, AtBase.data(), Info.PreferredBase);
  EXPECT_GE(Applied, 1u);
  EXPECT_EQ(PlacePeImage(Info, File, Moved.data(), Info.PreferredBase + 0x100000000), Applied);
  // Each fix-up adds 1 to the fifth byte of a pointer near the base, so that is all that differs.
  size_t Differing = 0;
  for (size_t Offset = 0; Offset < AtBase.size(); Offset++) Differing += AtBase[Offset] != Moved[Offset];
  EXPECT_EQ(Differing, Applied);
}

}  // namespace
}  // namespace sim
