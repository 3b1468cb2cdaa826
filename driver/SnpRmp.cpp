#include "driver/SnpRmp.h"

#include "arch/Cpuid.h"
#include "arch/Memory.h"
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "interfaces/PcdAccess.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalRmpProbe = 0x30910832;
constexpr UINT32 kFatalRmpReserve = 0x30910855;

constexpr UINT64 kEntrySize = 8;
constexpr UINT64 kVmplEntrySize = 16;
constexpr UINT8 kModeSizeFromConfiguration = 2;
// Covering less than 16 MB is never asked of the table.
constexpr UINT64 kMinimumCover = 0x1000000;
constexpr unsigned kMegabyteShift = 20;
constexpr UINT64 kCoveredPageSize = 0x1000;
// The 16 KB area in front of the entries, plus what rounds the total up to the next megabyte.
constexpr UINT64 kRmpHeaderAndRoundUp = 0x103FFF;
constexpr UINT64 kMegabyte = 0x100000;
constexpr UINT64 kMegabyteMask = kMegabyte - 1;
constexpr UINT64 kFourGigabytes = 0x100000000ULL;

// With VMPL the table carries a wider entry per page, and SYSCFG must say so before the table
// is used. The BSP alone changes SYSCFG here; the per-core work copies it to the others.
UINT64 RmpEntrySize() {
  if (!GetPcdProtocol()->GetBool(PcdCcxVmplEnable)) {
    return kEntrySize;
  }
  UINT32 Eax = 0;
  Cpuid(CpuidLeaf::EncryptedMemory::Leaf, &Eax, nullptr, nullptr, nullptr);
  if (!CpuidLeaf::EncryptedMemory::EaxVmpl::IsSet(Eax)) {
    return kEntrySize;
  }
  PrintDebugMessage(TRACE_CPU, "  VMPL Enabled\n");
  AsmWriteMsr64(Msr::SysCfg::Number, Msr::SysCfg::VmplEn::Set(AsmReadMsr64(Msr::SysCfg::Number), 1));
  return kVmplEntrySize;
}

// Mode 2 covers the configured number of megabytes, kept between 16 MB and TOP_MEM2; every other
// mode covers all memory up to TOP_MEM2.
UINT64 MemoryToCover(UINT8 Mode) {
  const UINT64 TopMem2 = AsmReadMsr64(Msr::TopMem2::Number);
  if (Mode != kModeSizeFromConfiguration) {
    return TopMem2;
  }
  const UINT64 Configured = static_cast<UINT64>(GetPcdProtocol()->Get32(PcdCcxSnpMemSizeToCover)) << kMegabyteShift;
  if (Configured < kMinimumCover) {
    return kMinimumCover;
  }
  return Configured > TopMem2 ? TopMem2 : Configured;
}

}  // namespace

VOID CcxRellInitSnpRmp(UINT8 Mode) {
  PrintDebugMessage(TRACE_CPU, "  CcxRellInitSnpRmp Entry\n");

  const UINT64 EntrySize = RmpEntrySize();
  const UINT64 Cover = MemoryToCover(Mode);
  const UINT64 TableSize = ((Cover / kCoveredPageSize) * EntrySize + kRmpHeaderAndRoundUp) & ~kMegabyteMask;

  // Unless the platform forbids it, a small table is placed as if it were 4 GB, at the bottom of
  // a free 4 GB window, although only the table itself is reserved.
  UINT64 PlacementSize = TableSize;
  BOOLEAN Forced = FALSE;
  if (TableSize < kFourGigabytes && GetPcdProtocol()->Get8(PcdCcxSnpRmpNoForce4G) == 0) {
    PrintDebugMessage(TRACE_CPU,
                      "  **Orig. calculated RMP size = 0x%lx (< 4GB), so force it to be 4GB size tempoaraily\n",
                      TableSize);
    PlacementSize = kFourGigabytes;
    Forced = TRUE;
  }
  PrintDebugMessage(TRACE_CPU,
                    "  Start to AllocatePages RmpTableBase=0x%lx, RmpTableSize%s = 0x%lx, SnpMemSizeToCover=0x%lx\n",
                    static_cast<UINT64>(0), Forced ? u" (temporarily)" : u" ", PlacementSize, Cover);

  // The probe is one megabyte longer than the placement, so that a megabyte-aligned start with
  // the whole placement behind it lies inside whatever free range it finds below the cover.
  const UINTN ProbePages = static_cast<UINTN>((PlacementSize + kMegabyte) / EFI_PAGE_SIZE);
  EFI_PHYSICAL_ADDRESS Probe = Cover;
  if (EFI_ERROR(gBS->AllocatePages(AllocateMaxAddress, EfiReservedMemoryType, ProbePages, &Probe))) {
    FatalStop(kFatalRmpProbe);
    PrintDebugMessage(TRACE_CPU, "  [ERROR] Failed to allocate RMP Table.\n");
    return;
  }
  gImage.Init.RmpBase = (Probe + kMegabyteMask) & ~kMegabyteMask;
  gBS->FreePages(Probe, ProbePages);

  EFI_PHYSICAL_ADDRESS Table = gImage.Init.RmpBase;
  if (EFI_ERROR(gBS->AllocatePages(AllocateAddress, EfiReservedMemoryType,
                                   static_cast<UINTN>(TableSize / EFI_PAGE_SIZE), &Table))) {
    FatalStop(kFatalRmpReserve);
    PrintDebugMessage(TRACE_CPU, "  [ERROR] Try to allocate RMP Table at 0x%x but failed.\n", gImage.Init.RmpBase);
    return;
  }
  PrintDebugMessage(TRACE_CPU, "  Final RMP base allocated at 0x%lx with RMP size = 0x%lx\n", gImage.Init.RmpBase,
                    TableSize);

  // A cleared table assigns no page to anyone until the operating system fills it in.
  SetMemory(reinterpret_cast<VOID *>(static_cast<UINTN>(gImage.Init.RmpBase)), static_cast<UINTN>(TableSize), 0);
  gImage.Init.RmpEnd = gImage.Init.RmpBase + TableSize - 1;
  PrintDebugMessage(TRACE_CPU, "  CcxRellInitSnpRmp Exit\n");
}

}  // namespace CCX_IMAGE_NAMESPACE
