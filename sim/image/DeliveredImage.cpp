#include "sim/image/DeliveredImage.h"
#include "sim/image/PeFormat.h"
#include "sim/image/PeSymbols.h"
#include "sim/image/DebuggerHook.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/HexText.h"
#include "sim/files/InputFile.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/platform/Platform.h"
#include "sim/uefi/MemoryTypes.h"

namespace sim {
namespace {

constexpr uint64_t kLowestImageAddress = 0x100000;

std::vector<uint8_t> ReadFile(const std::filesystem::path &File) {
  const std::string Text = ReadInputFile(File, "driver image", kImageInputCap);
  return std::vector<uint8_t>(Text.begin(), Text.end());
}

}  // namespace

uint64_t LowestFreePages(const PhysicalMemory &Memory, uint64_t Pages) {
  for (const MemoryRange &Range : Memory.Map()) {
    if (Range.type != EfiConventionalMemory) continue;
    const uint64_t End = Range.base + (Range.pages << EFI_PAGE_SHIFT);
    const uint64_t Base = std::max(Range.base, kLowestImageAddress);
    if (Base < End && (End - Base) >> EFI_PAGE_SHIFT >= Pages) return Base;
  }
  throw std::runtime_error("no free simulated DRAM above 1 MB holds the image's " + std::to_string(Pages) + " pages");
}

DeliveredImage::DeliveredImage(const std::filesystem::path &File)
    : Name_(File.filename().string()),
      Bytes_(ReadFile(File)),
      Info_(ParsePeImage(Bytes_, Name_)),
      Functions_(ReadPeFunctionSymbols(Bytes_, Info_)),
      Symbols_(FindPeSymbolFile(File, Info_, Bytes_)) {
  // Every base relocation block is checked now, by a placement at the preferred base into scratch
  // memory: a malformed one is refused as the file's fault before any boot starts.
  std::vector<uint8_t> Scratch(Info_.SizeOfImage);
  PlacePeImage(Info_, Bytes_, Scratch.data(), Info_.PreferredBase, Name_);
}

std::string DeliveredImage::SymbolAt(uint64_t Address) const {
  if (Base_ == 0 || Address < Base_ || Address - Base_ >= Info_.SizeOfImage) return "";
  auto Found = Functions_.find(static_cast<uint32_t>(Address - Base_));
  return Found == Functions_.end() ? "" : Found->second;
}

std::string DeliveredImage::FunctionNear(uint64_t Address) const {
  if (Base_ == 0 || Address < Base_ || Address - Base_ >= Info_.SizeOfImage) return "";
  const auto Rva = static_cast<uint32_t>(Address - Base_);
  // Only code lies in a function: an address in the headers or in data is named by none.
  const bool InCode = std::any_of(Info_.Sections.begin(), Info_.Sections.end(), [Rva](const PeSection &Section) {
    return (Section.Characteristics & pe::kSectionMemExecute) != 0 && Rva >= Section.VirtualAddress &&
           Rva - Section.VirtualAddress < Section.VirtualSize;
  });
  if (!InCode) return "";
  auto After = Functions_.upper_bound(Rva);
  if (After == Functions_.begin()) return "";
  const auto &[Start, Name] = *std::prev(After);
  return Rva == Start ? Name : Name + "+" + Hex(Rva - Start);
}

DeliveredImage::~DeliveredImage() {
  // A boot that never reached Unload leaves no record pointing at this image's strings.
  if (Session_) WithdrawImageFromDebugger();
}

EFI_IMAGE_ENTRY_POINT DeliveredImage::Load(Platform &Machine, EFI_LOADED_IMAGE_PROTOCOL &LoadedImage) {
  std::string Why;
  if (!ImageTrapsSupported(Why)) throw std::runtime_error(Why);
  // Every thread that runs as a simulated processor may run image code: the BSP thread, the AP
  // workers and the callers of the installed services after the boot.
  SetProcessorBindingObserver(&TrapPrivilegedInstructionsOnThisThread);
  TrapPrivilegedInstructionsOnThisThread();

  PhysicalMemory &Memory = Machine.Core().Memory();
  const uint64_t Pages = (uint64_t(Info_.SizeOfImage) + EFI_PAGE_SIZE - 1) >> EFI_PAGE_SHIFT;
  uint64_t Base = LowestFreePages(Memory, Pages);
  if (EFI_ERROR(Memory.AllocatePages(AllocateAddress, EfiBootServicesCode, Pages, Base))) {
    throw std::runtime_error("cannot allocate the image's " + std::to_string(Pages) + " pages at " + Hex(Base));
  }
  PlacePeImage(Info_, Bytes_, reinterpret_cast<uint8_t *>(Base), Base);
  if (mprotect(reinterpret_cast<void *>(Base), Pages << EFI_PAGE_SHIFT, PROT_READ | PROT_WRITE | PROT_EXEC) != 0) {
    throw std::runtime_error("cannot make the image at " + Hex(Base) + " executable: " + std::strerror(errno));
  }
  Base_ = Base;
  Session_ = std::make_unique<ImageTrapSession>(
      Base, Base + Info_.SizeOfImage, Machine.Devices().Mmio().ClaimedRanges(), [&Machine](const std::string &Problem) {
        Machine.EndBoot({BootEnd::SimulatorError, 0, "delivered image: " + Problem});
      },
      [this](uint64_t Address) { return FunctionNear(Address); });
  // A debugger sets its breakpoints in the image now that its bytes are in place.
  AnnounceImageToDebugger(Symbols_, Name_, Base, Base + (Info_.Sections.empty() ? 0 : Info_.Sections[0].VirtualAddress));
  LoadedImage.ImageBase = reinterpret_cast<VOID *>(Base);
  LoadedImage.ImageSize = Info_.SizeOfImage;
  return reinterpret_cast<EFI_IMAGE_ENTRY_POINT>(Base + Info_.EntryPointRva);
}

void DeliveredImage::Unload(Platform &, BootRecord &Record) {
  if (!Session_) return;
  WithdrawImageFromDebugger();
  Record.ImageBase = Base_;
  const auto Counts = Session_->Counts();
  for (size_t Kind = 0; Kind < kTrapKindCount; Kind++) {
    if (Counts[Kind] != 0) Record.Traps.emplace_back(TrapKindName(static_cast<TrapKind>(Kind)), Counts[Kind]);
  }
  Session_.reset();
  // The pages go back to being plain memory when the platform gives its DRAM back.
  mprotect(reinterpret_cast<void *>(Base_), (uint64_t(Info_.SizeOfImage) + EFI_PAGE_SIZE - 1) & ~uint64_t(EFI_PAGE_SIZE - 1),
           PROT_READ | PROT_WRITE);
}

}  // namespace sim
