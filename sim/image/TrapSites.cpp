#include "sim/image/TrapSites.h"

#include <Zydis/Zydis.h>

#include <algorithm>
#include <cstring>
#include <set>

#include "sim/image/LongModeDecoder.h"
#include "sim/image/PeFormat.h"
#include "sim/image/PeSymbols.h"

namespace sim {
namespace {

// The kind of a trapping instruction, TrapKind::Count for one that is privileged but unsupported,
// or false when the instruction runs as it is.
bool TrapKindOf(const ZydisDecodedInstruction &Instruction, TrapKind &Kind) {
  switch (Instruction.mnemonic) {
    case ZYDIS_MNEMONIC_CPUID: Kind = TrapKind::Cpuid; return true;
    case ZYDIS_MNEMONIC_RDTSC: Kind = TrapKind::TimeStamp; return true;
    case ZYDIS_MNEMONIC_RDMSR: Kind = TrapKind::MsrRead; return true;
    case ZYDIS_MNEMONIC_WRMSR: Kind = TrapKind::MsrWrite; return true;
    case ZYDIS_MNEMONIC_IN: Kind = TrapKind::PortRead; return true;
    case ZYDIS_MNEMONIC_OUT: Kind = TrapKind::PortWrite; return true;
    case ZYDIS_MNEMONIC_WBINVD: Kind = TrapKind::CacheFlush; return true;
    case ZYDIS_MNEMONIC_CLI:
    case ZYDIS_MNEMONIC_STI: Kind = TrapKind::InterruptFlag; return true;
    case ZYDIS_MNEMONIC_HLT: Kind = TrapKind::Halt; return true;
    // String port instructions and RDTSCP read what the machine answers too, but the emulator
    // does not know them: they trap and stop the image with their name.
    case ZYDIS_MNEMONIC_INSB: case ZYDIS_MNEMONIC_INSW: case ZYDIS_MNEMONIC_INSD:
    case ZYDIS_MNEMONIC_OUTSB: case ZYDIS_MNEMONIC_OUTSW: case ZYDIS_MNEMONIC_OUTSD:
    case ZYDIS_MNEMONIC_RDTSCP: case ZYDIS_MNEMONIC_RDPMC:
      Kind = TrapKind::Count;
      return true;
    default:
      break;
  }
  if ((Instruction.attributes & ZYDIS_ATTRIB_IS_PRIVILEGED) != 0) {
    Kind = TrapKind::Count;
    return true;
  }
  return false;
}

}  // namespace

std::vector<TrapSite> FindTrapSites(std::span<const uint8_t> File, const PeImageInfo &Info) {
  const std::map<uint32_t, std::string> Functions = ReadPeFunctionSymbols(File, Info);
  std::vector<TrapSite> Sites;
  std::set<uint32_t> Seen;
  for (size_t Number = 0; Number < Info.Sections.size(); Number++) {
    const PeSection &Section = Info.Sections[Number];
    if ((Section.Characteristics & pe::kSectionMemExecute) == 0) continue;
    const uint32_t Size = std::min(Section.VirtualSize, Section.RawDataSize);
    if (uint64_t(Section.RawDataOffset) + Size > File.size()) {
      throw PeImageError("Section[" + std::to_string(Number) + "] (" + Section.Name +
                         "): raw data lies outside the file");
    }
    const uint8_t *Code = File.data() + Section.RawDataOffset;
    // Where decoding starts afresh: the section's start and every function inside it.
    std::vector<uint32_t> Starts = {0};
    for (const auto &[Rva, Name] : Functions) {
      if (Rva > Section.VirtualAddress && Rva < Section.VirtualAddress + Size) {
        Starts.push_back(Rva - Section.VirtualAddress);
      }
    }
    Starts.push_back(Size);
    for (size_t Run = 0; Run + 1 < Starts.size(); Run++) {
      uint32_t Offset = Starts[Run];
      while (Offset < Starts[Run + 1]) {
        ZydisDecodedInstruction Instruction;
        if (ZYAN_FAILED(ZydisDecoderDecodeInstruction(&LongModeDecoder(), nullptr, Code + Offset, Size - Offset,
                                                      &Instruction))) {
          Offset++;  // not code (padding or data): try the next byte
          continue;
        }
        TrapKind Kind;
        const uint32_t Rva = Section.VirtualAddress + Offset;
        if (TrapKindOf(Instruction, Kind) && Seen.insert(Rva).second) {
          TrapSite Site;
          Site.Rva = Rva;
          Site.Length = Instruction.length;
          Site.Kind = Kind;
          std::memcpy(Site.Bytes, Code + Offset, Instruction.length);
          Site.Mnemonic = ZydisMnemonicGetString(Instruction.mnemonic);
          Sites.push_back(std::move(Site));
        }
        Offset += Instruction.length;
      }
    }
  }
  std::sort(Sites.begin(), Sites.end(), [](const TrapSite &Left, const TrapSite &Right) { return Left.Rva < Right.Rva; });
  return Sites;
}

const TrapSite *TrapSiteAt(const std::vector<TrapSite> &Sites, uint32_t Rva) {
  auto Found = std::lower_bound(Sites.begin(), Sites.end(), Rva,
                                [](const TrapSite &Site, uint32_t Wanted) { return Site.Rva < Wanted; });
  return Found != Sites.end() && Found->Rva == Rva ? &*Found : nullptr;
}

}  // namespace sim
