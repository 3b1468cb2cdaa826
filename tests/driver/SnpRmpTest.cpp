// The reverse-map table: its size from the entry width and the memory to cover, the placement
// probe with its temporary 4 GB, the reservation and clearing, the bounds, the messages, and the
// two failures with the bounds they leave behind.
#include <cstring>

#include "driver/DriverEntry.h"
#include "driver/SnpRmp.h"
#include "interfaces/PlatformConfig.h"
#include "tests/driver/DriverFixture.h"

namespace {

constexpr uint64_t kGb = 0x40000000;
constexpr uint32_t kSysCfg = 0xC0010010;
constexpr uint32_t kTopMem2 = 0xC001001D;

struct SizingCase {
  const char *Name;
  uint8_t Mode;
  uint64_t TopMem2;
  uint32_t MegabytesToCover;
  uint8_t NoForce4G;
  bool VmplAsked;
  uint32_t CpuidEax;
  // Expected.
  uint64_t Cover;
  uint64_t TableSize;
  bool Forced;
  bool Vmpl;
};

// Each case fails the probe, so that only the sizing shows: in the messages and in what the
// probe asked for.
class RmpSizing : public DriverFixture, public ::testing::WithParamInterface<SizingCase> {};

TEST_P(RmpSizing, ProbeAsksForThePlacementBelowTheMemoryToCover) {
  const SizingCase &Case = GetParam();
  Firmware.Msrs[kTopMem2] = Case.TopMem2;
  Firmware.Msrs[kSysCfg] = 0x740000;
  Firmware.CpuidLeaves[0x8000001F] = {Case.CpuidEax, 0, 0, 0};
  Firmware.Pcd[PcdCcxSnpMemSizeToCover] = Case.MegabytesToCover;
  Firmware.Pcd[PcdCcxSnpRmpNoForce4G] = Case.NoForce4G;
  Firmware.Pcd[PcdCcxVmplEnable] = Case.VmplAsked;
  Firmware.FailCall("AllocatePages:MaxAddress", EFI_OUT_OF_RESOURCES);

  image::CcxRellInitSnpRmp(Case.Mode);

  const uint64_t Placement = Case.Forced ? 0x100000000ULL : Case.TableSize;
  ASSERT_EQ(Firmware.PageCalls.size(), 1u);
  const fake::PageCall &Probe = Firmware.PageCalls[0];
  EXPECT_EQ(Probe.Type, static_cast<uint32_t>(AllocateMaxAddress));
  EXPECT_EQ(Probe.MemoryType, static_cast<uint32_t>(EfiReservedMemoryType));
  EXPECT_EQ(Probe.Pages, (Placement + 0x100000) / 0x1000);
  EXPECT_EQ(Probe.Address, Case.Cover);

  std::vector<std::string> Expected = {"  CcxRellInitSnpRmp Entry"};
  if (Case.Vmpl) Expected.push_back("  VMPL Enabled");
  char Text[200];
  if (Case.Forced) {
    std::snprintf(Text, sizeof(Text),
                  "  **Orig. calculated RMP size = 0x%llX (< 4GB), so force it to be 4GB size tempoaraily",
                  static_cast<unsigned long long>(Case.TableSize));
    Expected.push_back(Text);
  }
  std::snprintf(Text, sizeof(Text),
                "  Start to AllocatePages RmpTableBase=0x0, RmpTableSize%s = 0x%llX, SnpMemSizeToCover=0x%llX",
                Case.Forced ? " (temporarily)" : " ", static_cast<unsigned long long>(Placement),
                static_cast<unsigned long long>(Case.Cover));
  Expected.push_back(Text);
  Expected.push_back("  [ERROR] Failed to allocate RMP Table.");
  EXPECT_EQ(Lines(), Expected);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30910832});
  EXPECT_EQ(Firmware.Msrs[kSysCfg], Case.Vmpl ? 0x2740000u : 0x740000u);
  EXPECT_EQ(image::gImage.Init.RmpBase, 0u);
  EXPECT_EQ(image::gImage.Init.RmpEnd, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RmpSizing,
    ::testing::Values(
        // The worked example: 2 GB of entries for 130 GB, placed as if it were 4 GB.
        SizingCase{"WorkedExample", 1, 0x2080000000, 0, 0, false, 0x3F, 0x2080000000, 0x10500000, true, false},
        SizingCase{"WorkedExampleWithVmpl", 1, 0x2080000000, 0, 0, true, 0x3F, 0x2080000000, 0x20900000, true, true},
        SizingCase{"VmplAskedButAbsent", 1, 0x2080000000, 0, 0, true, 0x1F, 0x2080000000, 0x10500000, true, false},
        SizingCase{"VmplPresentButNotAsked", 1, 0x2080000000, 0, 0, false, 0x3F, 0x2080000000, 0x10500000, true,
                   false},
        SizingCase{"ModeTwoClampsUpTo16Mb", 2, 0x2080000000, 8, 0, false, 0x1F, 0x1000000, 0x100000, true, false},
        SizingCase{"ModeTwoClampsUpTo16MbUnforced", 2, 0x2080000000, 8, 1, false, 0x1F, 0x1000000, 0x100000, false,
                   false},
        SizingCase{"ModeTwoClampsDownToTopMem2", 2, 0x80000000, 0x10000, 1, false, 0x1F, 0x80000000, 0x500000, false,
                   false},
        SizingCase{"ModeTwoCovers4Gb", 2, 0x2080000000, 4096, 1, false, 0x1F, 0x100000000, 0x900000, false, false},
        SizingCase{"ModeTwoIgnoresSizeInOtherModes", 3, 0x80000000, 4096, 1, false, 0x1F, 0x80000000, 0x500000, false,
                   false},
        // 2 TB of entries make a table of 4 GB and more, which is never forced.
        SizingCase{"LargeTableIsNeverForced", 1, 0x20000000000, 0, 0, false, 0x1F, 0x20000000000, 0x100100000, false,
                   false}),
    [](const ::testing::TestParamInfo<SizingCase> &Info) { return std::string(Info.param.Name); });

class RmpPlacement : public DriverFixture {
 protected:
  RmpPlacement() {
    Firmware.Msrs[kTopMem2] = 0x80000000;
    Firmware.Pcd[PcdCcxSnpMemSizeToCover] = 1024;
    Firmware.Pcd[PcdCcxSnpRmpNoForce4G] = 1;
  }
};

TEST_F(RmpPlacement, ReservesAlignedClearedTableAndSetsItsBounds) {
  Firmware.NewPageFill = 0xA5;
  image::CcxRellInitSnpRmp(2);

  // 1 GB to cover: 2 MB of entries and the 16 KB area, rounded up to 3 MB.
  constexpr uint64_t kTable = 0x300000;
  ASSERT_EQ(Firmware.PageCalls.size(), 3u);
  const fake::PageCall &Probe = Firmware.PageCalls[0];
  const fake::PageCall &Given = Firmware.PageCalls[1];
  const fake::PageCall &Reserve = Firmware.PageCalls[2];
  EXPECT_EQ(Probe.Pages, 0x400u);
  const uint64_t Base = (Probe.Result + 0xFFFFF) & ~0xFFFFFULL;
  EXPECT_EQ(Given.Call, "FreePages");
  EXPECT_EQ(Given.Address, Probe.Result);
  EXPECT_EQ(Given.Pages, Probe.Pages);
  EXPECT_EQ(Reserve.Type, static_cast<uint32_t>(AllocateAddress));
  EXPECT_EQ(Reserve.MemoryType, static_cast<uint32_t>(EfiReservedMemoryType));
  EXPECT_EQ(Reserve.Address, Base);
  EXPECT_EQ(Reserve.Pages, kTable / 0x1000);
  EXPECT_EQ(image::gImage.Init.RmpBase, Base);
  EXPECT_EQ(image::gImage.Init.RmpEnd, Base + kTable - 1);

  const auto *Table = reinterpret_cast<const uint8_t *>(Base);
  EXPECT_EQ(Table[0], 0);
  EXPECT_EQ(Table[kTable - 1], 0);
  EXPECT_EQ(std::memchr(Table, 0xA5, kTable), nullptr) << "the whole table is cleared";
  EXPECT_EQ(Table[kTable], 0xA5) << "nothing behind the table is touched";

  char Final[120];
  std::snprintf(Final, sizeof(Final), "  Final RMP base allocated at 0x%llX with RMP size = 0x300000",
                static_cast<unsigned long long>(Base));
  const std::vector<std::string> Lines = this->Lines();
  ASSERT_GE(Lines.size(), 2u);
  EXPECT_EQ(Lines[Lines.size() - 2], Final);
  EXPECT_EQ(Lines.back(), "  CcxRellInitSnpRmp Exit");
  EXPECT_TRUE(FatalStops().empty());
}

TEST_F(RmpPlacement, ForcedPlacementStillReservesOnlyTheTable) {
  Firmware.Pcd[PcdCcxSnpRmpNoForce4G] = 0;
  image::CcxRellInitSnpRmp(2);
  ASSERT_EQ(Firmware.PageCalls.size(), 3u);
  EXPECT_EQ(Firmware.PageCalls[0].Pages, 0x100100u);
  EXPECT_EQ(Firmware.PageCalls[2].Pages, 0x300u);
  EXPECT_EQ(image::gImage.Init.RmpEnd - image::gImage.Init.RmpBase + 1, 0x300000u);
}

// The reservation of the worked example fails at the chosen base: the base stays, the end does
// not come, and the message shows the base through a 32-bit conversion.
TEST_F(RmpPlacement, FailedReservationKeepsTheBaseOnly) {
  Firmware.Msrs[kTopMem2] = 0x2080000000;
  Firmware.Pcd[PcdCcxSnpRmpNoForce4G] = 0;
  Firmware.FailCall("AllocatePages:Address", EFI_NOT_FOUND);
  image::CcxRellInitSnpRmp(1);

  ASSERT_EQ(Firmware.PageCalls.size(), 3u);
  EXPECT_EQ(Firmware.PageCalls[0].Pages, 0x100100u);
  EXPECT_EQ(Firmware.PageCalls[2].Pages, 0x10500u);
  const uint64_t Base = Firmware.PageCalls[2].Address;
  EXPECT_EQ(Base & 0xFFFFF, 0u);
  EXPECT_EQ(image::gImage.Init.RmpBase, Base);
  EXPECT_EQ(image::gImage.Init.RmpEnd, 0u);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30910855});
  char Error[120];
  std::snprintf(Error, sizeof(Error), "  [ERROR] Try to allocate RMP Table at 0x%X but failed.",
                static_cast<unsigned>(Base & 0xFFFFFFFF));
  EXPECT_EQ(Lines().back(), Error);
}

struct MergeCase {
  const char *Failing;  // the allocation made to fail
  bool BaseKept;
};

class RmpFailureAtInit : public DriverFixture, public ::testing::WithParamInterface<MergeCase> {};

// The initialization merges whatever the globals hold into the two MSRs, even after a failure.
TEST_P(RmpFailureAtInit, MergesTheBoundsThatAreLeft) {
  Firmware.CpuidLeaves[0x8000001F] = {0x1F, 0, 0, 0};
  Firmware.Pcd[PcdCcxSnpMode] = 1;
  Firmware.Msrs[kTopMem2] = 0x80000000;
  Firmware.Msrs[0xC0010132] = 0xFFFFFFFFFFFFFFFFULL;
  Firmware.Msrs[0xC0010133] = 0x000ABCDEF0123456ULL;
  Firmware.FailCall(GetParam().Failing, EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(image::CcxRellDxeEntryPoint(Firmware.ImageHandle(), Firmware.SystemTable()), EFI_SUCCESS);

  const uint64_t Base = image::gImage.Init.RmpBase;
  EXPECT_EQ(Base != 0, GetParam().BaseKept);
  EXPECT_EQ(image::gImage.Init.RmpEnd, 0u);
  EXPECT_EQ(Firmware.Msrs[0xC0010132], 0xFFF0000000001FFFULL | Base);
  EXPECT_EQ(Firmware.Msrs[0xC0010133], 0x000ABCDEF0123456ULL & 0xFFF0000000001FFFULL);
}

INSTANTIATE_TEST_SUITE_P(Failures, RmpFailureAtInit,
                         ::testing::Values(MergeCase{"AllocatePages:MaxAddress", false},
                                           MergeCase{"AllocatePages:Address", true}));

}  // namespace
