#include "sim/image/PeDebugFile.h"

#include <algorithm>
#include <vector>

#include "sim/HexText.h"
#include "sim/files/InputFile.h"

namespace sim {
namespace {

std::string SectionLabel(size_t Index, const PeSection &Section) {
  return "section " + std::to_string(Index) + " (" + Section.Name + ")";
}

std::span<const uint8_t> RawData(std::span<const uint8_t> File, const PeSection &Section) {
  return File.subspan(Section.RawDataOffset, Section.RawDataSize);
}

}  // namespace

std::string PeDebugFileMismatch(const PeImageInfo &Image, std::span<const uint8_t> ImageBytes, const PeImageInfo &Debug,
                                std::span<const uint8_t> DebugBytes) {
  if (Debug.PreferredBase != Image.PreferredBase) {
    return "its ImageBase is " + Hex(Debug.PreferredBase) + ", the image's " + Hex(Image.PreferredBase);
  }
  if (Debug.EntryPointRva != Image.EntryPointRva) {
    return "its entry point is at " + Hex(Debug.EntryPointRva) + ", the image's at " + Hex(Image.EntryPointRva);
  }
  // The debug file has the image's sections first, then its DWARF.
  if (Debug.Sections.size() < Image.Sections.size()) {
    return "it has " + std::to_string(Debug.Sections.size()) + " sections, the image " +
           std::to_string(Image.Sections.size());
  }
  for (size_t Index = 0; Index < Image.Sections.size(); Index++) {
    const PeSection &Ours = Image.Sections[Index];
    const PeSection &Theirs = Debug.Sections[Index];
    if (Theirs.Name != Ours.Name || Theirs.VirtualAddress != Ours.VirtualAddress ||
        Theirs.VirtualSize != Ours.VirtualSize) {
      return SectionLabel(Index, Ours) + ": it has " + Theirs.Name + " at " + Hex(Theirs.VirtualAddress) + " (" +
             Hex(Theirs.VirtualSize) + " bytes), the image " + Ours.Name + " at " + Hex(Ours.VirtualAddress) + " (" +
             Hex(Ours.VirtualSize) + " bytes)";
    }
    // ParsePeImage has checked that each section's raw data lies inside its file.
    const std::span<const uint8_t> Mine = RawData(ImageBytes, Ours);
    const std::span<const uint8_t> Other = RawData(DebugBytes, Theirs);
    if (!std::equal(Mine.begin(), Mine.end(), Other.begin(), Other.end())) {
      return SectionLabel(Index, Ours) + ": its bytes differ";
    }
  }
  return "";
}

PeSymbolFile FindPeSymbolFile(const std::filesystem::path &ImageFile, const PeImageInfo &Image,
                              std::span<const uint8_t> ImageBytes) {
  // Absolute, so that the debugger finds it whatever its working directory.
  std::error_code Ignored;
  std::filesystem::path DebugFile = std::filesystem::absolute(ImageFile, Ignored);
  DebugFile += ".debug";
  const std::string DebugName = DebugFile.filename().string();
  PeSymbolFile Result{std::filesystem::absolute(ImageFile, Ignored), Image.PreferredBase, ""};
  std::error_code Missing;
  if (!std::filesystem::exists(DebugFile, Missing)) {
    Result.Note = "no " + DebugName + " beside the image";
    return Result;
  }
  std::vector<uint8_t> Bytes;
  try {
    const std::string Text = ReadInputFile(DebugFile, "the image's debug file", kImageInputCap);
    Bytes.assign(Text.begin(), Text.end());
  } catch (const InputFileError &Error) {
    Result.Note = Error.what();
    return Result;
  }
  try {
    const PeImageInfo Debug = ParsePeImage(Bytes, DebugName);
    const std::string Mismatch = PeDebugFileMismatch(Image, ImageBytes, Debug, Bytes);
    if (!Mismatch.empty()) {
      Result.Note = DebugName + " is not the image's debug file: " + Mismatch;
      return Result;
    }
    return {DebugFile, Debug.PreferredBase, ""};
  } catch (const PeImageError &Error) {
    Result.Note = std::string(Error.what());
    return Result;
  }
}

}  // namespace sim
