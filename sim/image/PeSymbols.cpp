#include "sim/image/PeSymbols.h"

#include <cstring>

#include "sim/image/PeFormat.h"

namespace sim {
namespace {

constexpr size_t kSymbolSize = 18;
constexpr uint16_t kFunctionType = 0x20;

template <typename Record>
bool ReadAt(std::span<const uint8_t> File, uint64_t Offset, Record &Out) {
  if (Offset > File.size() || File.size() - Offset < sizeof(Record)) return false;
  std::memcpy(&Out, File.data() + Offset, sizeof(Record));
  return true;
}

}  // namespace

std::map<uint32_t, std::string> ReadPeFunctionSymbols(std::span<const uint8_t> File, const PeImageInfo &Info) {
  std::map<uint32_t, std::string> Functions;
  pe::DosHeader Dos;
  pe::FileHeader Header;
  if (!ReadAt(File, 0, Dos) || !ReadAt(File, uint64_t(Dos.e_lfanew) + 4, Header)) return Functions;
  const uint64_t Table = Header.PointerToSymbolTable;
  const uint64_t Strings = Table + uint64_t(Header.NumberOfSymbols) * kSymbolSize;
  uint32_t StringsSize = 0;
  if (Table == 0 || !ReadAt(File, Strings, StringsSize) || Strings + StringsSize > File.size()) return Functions;
  for (uint64_t Index = 0; Index < Header.NumberOfSymbols; Index++) {
    const uint8_t *Symbol = File.data() + Table + Index * kSymbolSize;
    uint32_t Value;
    int16_t Section;
    uint16_t Type;
    std::memcpy(&Value, Symbol + 8, 4);
    std::memcpy(&Section, Symbol + 12, 2);
    std::memcpy(&Type, Symbol + 14, 2);
    const uint8_t AuxCount = Symbol[17];
    if (Type == kFunctionType && Section >= 1 && size_t(Section) <= Info.Sections.size()) {
      std::string Name;
      uint32_t Zero, Offset;
      std::memcpy(&Zero, Symbol, 4);
      std::memcpy(&Offset, Symbol + 4, 4);
      if (Zero != 0) {
        Name.assign(reinterpret_cast<const char *>(Symbol), strnlen(reinterpret_cast<const char *>(Symbol), 8));
      } else if (Offset >= 4 && Offset < StringsSize) {
        const char *Start = reinterpret_cast<const char *>(File.data() + Strings + Offset);
        Name.assign(Start, strnlen(Start, StringsSize - Offset));
      }
      // A section-relative value, as the linker writes it for an image.
      if (!Name.empty()) Functions.emplace(Info.Sections[Section - 1].VirtualAddress + Value, Name);
    }
    Index += AuxCount;
  }
  return Functions;
}

}  // namespace sim
