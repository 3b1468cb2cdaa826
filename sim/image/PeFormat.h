// The PE/COFF records a loader of PE32+ images reads, laid out as the PE/COFF format defines them
// (little-endian, naturally aligned, so a record is copied out of the file with memcpy): the DOS
// header, the COFF file header, the PE32+ optional header and its data directories, section
// headers and base-relocation blocks. Field names are the format's own.
#ifndef SIM_IMAGE_PE_FORMAT_H_
#define SIM_IMAGE_PE_FORMAT_H_

#include <bit>
#include <cstddef>
#include <cstdint>

namespace sim::pe {

static_assert(std::endian::native == std::endian::little, "PE records are read in host byte order");

struct DosHeader {
  uint16_t e_magic;
  uint8_t Unused[58];
  uint32_t e_lfanew;  // file offset of the PE signature
};

struct FileHeader {
  uint16_t Machine;
  uint16_t NumberOfSections;
  uint32_t TimeDateStamp;
  uint32_t PointerToSymbolTable;
  uint32_t NumberOfSymbols;
  uint16_t SizeOfOptionalHeader;
  uint16_t Characteristics;
};

// The fixed part of the PE32+ optional header; NumberOfRvaAndSizes data directories follow it.
struct OptionalHeader64 {
  uint16_t Magic;
  uint8_t MajorLinkerVersion;
  uint8_t MinorLinkerVersion;
  uint32_t SizeOfCode;
  uint32_t SizeOfInitializedData;
  uint32_t SizeOfUninitializedData;
  uint32_t AddressOfEntryPoint;
  uint32_t BaseOfCode;
  uint64_t ImageBase;
  uint32_t SectionAlignment;
  uint32_t FileAlignment;
  uint16_t MajorOperatingSystemVersion;
  uint16_t MinorOperatingSystemVersion;
  uint16_t MajorImageVersion;
  uint16_t MinorImageVersion;
  uint16_t MajorSubsystemVersion;
  uint16_t MinorSubsystemVersion;
  uint32_t Win32VersionValue;
  uint32_t SizeOfImage;
  uint32_t SizeOfHeaders;
  uint32_t CheckSum;
  uint16_t Subsystem;
  uint16_t DllCharacteristics;
  uint64_t SizeOfStackReserve;
  uint64_t SizeOfStackCommit;
  uint64_t SizeOfHeapReserve;
  uint64_t SizeOfHeapCommit;
  uint32_t LoaderFlags;
  uint32_t NumberOfRvaAndSizes;
};

struct DataDirectory {
  uint32_t VirtualAddress;
  uint32_t Size;
};

struct SectionHeader {
  char Name[8];  // NUL-padded, not terminated when all eight are used
  uint32_t VirtualSize;
  uint32_t VirtualAddress;
  uint32_t SizeOfRawData;
  uint32_t PointerToRawData;
  uint32_t PointerToRelocations;
  uint32_t PointerToLinenumbers;
  uint16_t NumberOfRelocations;
  uint16_t NumberOfLinenumbers;
  uint32_t Characteristics;
};

// Each block fixes up one 4 KiB page; (SizeOfBlock - 8) / 2 16-bit entries follow it, each a type in
// the top four bits and the offset within the page in the low twelve.
struct BaseRelocationBlock {
  uint32_t VirtualAddress;
  uint32_t SizeOfBlock;
};

static_assert(sizeof(DosHeader) == 64 && offsetof(DosHeader, e_lfanew) == 0x3C);
static_assert(sizeof(FileHeader) == 20 && offsetof(FileHeader, SizeOfOptionalHeader) == 16);
static_assert(sizeof(OptionalHeader64) == 112 && offsetof(OptionalHeader64, ImageBase) == 24 &&
              offsetof(OptionalHeader64, SizeOfImage) == 56 && offsetof(OptionalHeader64, Subsystem) == 68 &&
              offsetof(OptionalHeader64, NumberOfRvaAndSizes) == 108);
static_assert(sizeof(DataDirectory) == 8);
static_assert(sizeof(SectionHeader) == 40 && offsetof(SectionHeader, Characteristics) == 36);
static_assert(sizeof(BaseRelocationBlock) == 8);

inline constexpr uint16_t kDosMagic = 0x5A4D;           // "MZ"
inline constexpr uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
inline constexpr size_t kPeSignatureSize = 4;
inline constexpr uint16_t kMachineX64 = 0x8664;
inline constexpr uint16_t kPe32PlusMagic = 0x20B;
inline constexpr uint16_t kSubsystemEfiBootServiceDriver = 11;
inline constexpr uint32_t kMaxDataDirectories = 16;
inline constexpr uint32_t kDirectoryImport = 1;
inline constexpr uint32_t kDirectoryBaseRelocation = 5;
inline constexpr uint32_t kSectionMemExecute = 0x20000000;
inline constexpr uint16_t kRelocationAbsolute = 0;
inline constexpr uint16_t kRelocationDir64 = 10;
inline constexpr unsigned kRelocationTypeShift = 12;
inline constexpr uint16_t kRelocationOffsetMask = 0x0FFF;

}  // namespace sim::pe

#endif  // SIM_IMAGE_PE_FORMAT_H_
