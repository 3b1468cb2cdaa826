// The PCC subspace service: the region base rule, the choice of the free variable MTRR and the
// pair written on every processor, the subspace's bytes, the calls to the MMIO allocator and the
// region service, and every failure row leaving the template copied and the cursor unmoved.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/Heap.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "services/PcctServices.h"
#include "tests/driver/DriverFixture.h"
#include "tests/services/SiblingFakes.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

namespace {

constexpr size_t kSubspaceSize = 62;
constexpr uint8_t kUnwritten = 0xAA;

uint64_t Read64(const uint8_t *Bytes, size_t Offset) {
  uint64_t Value = 0;
  std::memcpy(&Value, Bytes + Offset, sizeof(Value));
  return Value;
}
uint32_t Read32(const uint8_t *Bytes, size_t Offset) {
  uint32_t Value = 0;
  std::memcpy(&Value, Bytes + Offset, sizeof(Value));
  return Value;
}

struct RegionBaseCase {
  uint64_t Allocated;
  uint64_t Base;
};
class PccRegionBase : public ::testing::TestWithParam<RegionBaseCase> {};

TEST_P(PccRegionBase, LiesInsideTheAllocationOnA32KiBBoundary) {
  const RegionBaseCase &Case = GetParam();
  const uint64_t Base = image::PccRegionBase(Case.Allocated);
  EXPECT_EQ(Base, Case.Base);
  EXPECT_GE(Base, Case.Allocated);
  EXPECT_LE(Base + image::kPccRegionLength, Case.Allocated + image::kPccRegionPages * 0x1000);
  EXPECT_EQ(Base % 0x8000, 0u);
}
INSTANTIATE_TEST_SUITE_P(Examples, PccRegionBase,
                         ::testing::Values(RegionBaseCase{0x7FF00000, 0x7FF00000}, RegionBaseCase{0x7FF01000, 0x7FF08000},
                                           RegionBaseCase{0x7FF09000, 0x7FF20000},
                                           RegionBaseCase{0x7FF11000, 0x7FF28000},
                                           // Every page offset inside one 0x30000 span keeps the rule.
                                           RegionBaseCase{0x7FF2F000, 0x7FF40000}));

TEST(PccMtrrPair, A48BitAddressWidthGivesThe64KiBMask) {
  const image::PCC_MTRR_PAIR Pair = image::PccMtrrPair(0x7FF08000, 48);
  EXPECT_EQ(Pair.Mask, 0xFFFFFFFF0800ULL);
  EXPECT_EQ(Pair.Base, 0x7FF08000ULL);  // memory type 0, uncacheable
  EXPECT_EQ(image::PccMtrrPair(0x7FF08000, 40).Mask, 0xFFFFFF0800ULL);
}

class PcctService : public DriverFixture {
 protected:
  PcctService() {
    image::HeapStartup();
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
    Firmware.AddProtocol(gQorvexFabricMmioAllocatorProtocolGuid, Mmio.Protocol());
    Firmware.AddProtocol(gQorvexRegionServicesProtocolGuid, Regions.Protocol());
    Firmware.CpuidLeaves[0x80000008] = {0x3030, 0, 0x707F, 0};
    Firmware.Pcd[PcdCcxRunApsSingleThreaded] = 1;
    Table.assign(2 * kSubspaceSize, kUnwritten);
    Input.DoorbellAddress = 0xFEDC0A00;
    Input.NominalLatency = 1000;
    Input.MaximumPeriodicAccessRate = 7;
    Input.MinimumRequestTurnaroundTime = 100;
  }
  EFI_STATUS Add() {
    Cursor = Table.data();
    return image::CcxRellAddGenCommSubspaceStruct(nullptr, nullptr, &Input, &Cursor);
  }
  void SetValidMtrrs(const std::vector<uint32_t> &Pairs) {
    for (uint32_t Pair : Pairs) Firmware.Msrs[0x201 + 2 * Pair] = 0xFFFF80000800ULL;
  }
  std::vector<uint64_t> WritesTo(uint32_t Msr) const {
    std::vector<uint64_t> Values;
    for (const auto &[Index, Value] : Firmware.MsrWrites) {
      if (Index == Msr) Values.push_back(Value);
    }
    return Values;
  }
  uint64_t Allocated() const {
    for (const fake::PageCall &Call : Firmware.PageCalls) {
      if (Call.Call == "AllocatePages" && Call.Status == EFI_SUCCESS) return Call.Result;
    }
    return 0;
  }

  fake::FakeMpServices Mp{4};
  fake::FakeMmioAllocator Mmio;
  fake::FakeRegionService Regions;
  CCX_PCC_SUBSPACE_INPUT Input{};
  std::vector<uint8_t> Table;
  UINT8 *Cursor = nullptr;
};

TEST_F(PcctService, WritesTheSubspaceAndAdvancesTheCursor) {
  ASSERT_EQ(Add(), EFI_SUCCESS);
  EXPECT_EQ(Cursor, Table.data() + kSubspaceSize);
  const uint8_t *Bytes = Table.data();
  const uint64_t Base = image::PccRegionBase(Allocated());
  EXPECT_EQ(Bytes[0], 0);
  EXPECT_EQ(Bytes[1], 62);
  EXPECT_TRUE(std::all_of(Bytes + 2, Bytes + 8, [](uint8_t Byte) { return Byte == 0; }));
  EXPECT_EQ(Read64(Bytes, 8), Base);
  EXPECT_EQ(Read64(Bytes, 16), 0x18000u);
  EXPECT_EQ(Bytes[24], 0);
  EXPECT_EQ(Bytes[25], 64);
  EXPECT_EQ(Bytes[26], 0);
  EXPECT_EQ(Bytes[27], 4);
  EXPECT_EQ(Read64(Bytes, 28), 0xFEDC0A00u);
  EXPECT_EQ(Read64(Bytes, 36), 0xFFFFFFFF00000000ULL);
  EXPECT_EQ(Read64(Bytes, 44), 1u);
  EXPECT_EQ(Read32(Bytes, 52), 1000u);
  EXPECT_EQ(Read32(Bytes, 56), 7u);
  EXPECT_EQ(Bytes[60] | Bytes[61] << 8, 100);
  EXPECT_EQ(Bytes[62], kUnwritten);
}

TEST_F(PcctService, AllocatesNvsPagesAndSignsAndRegistersTheZeroedRegion) {
  Firmware.NewPageFill = 0x5C;
  ASSERT_EQ(Add(), EFI_SUCCESS);
  ASSERT_EQ(Firmware.PageCalls.size(), 1u);
  EXPECT_EQ(Firmware.PageCalls[0].Type, uint32_t(AllocateAnyPages));
  EXPECT_EQ(Firmware.PageCalls[0].MemoryType, uint32_t(EfiACPIMemoryNVS));
  EXPECT_EQ(Firmware.PageCalls[0].Pages, 48u);
  const uint64_t Base = image::PccRegionBase(Allocated());
  const auto *Region = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(Base));
  EXPECT_EQ(Read32(Region, 0), 0x50434300u);
  EXPECT_TRUE(std::all_of(Region + 4, Region + 0x18000, [](uint8_t Byte) { return Byte == 0; }));
  ASSERT_EQ(Regions.Calls.size(), 1u);
  EXPECT_EQ(Regions.Calls[0].Base, Base);
  EXPECT_EQ(Regions.Calls[0].Length, 0x18000u);
  EXPECT_EQ(Regions.Calls[0].Flags, 0u);
  EXPECT_EQ(Regions.Calls[0].FirstWord, 0x50434300u);

  HEAP_LOCATE_REQUEST Request = {HEAP_HANDLE_PCC_REGION, 0, 0};
  ASSERT_EQ(image::HeapLocateBuffer(&Request), HEAP_SUCCESS);
  EXPECT_EQ(Request.Size, 8u);
  EXPECT_EQ(*reinterpret_cast<const uint64_t *>(static_cast<uintptr_t>(Request.Buffer)), Base);
}

TEST_F(PcctService, ReservesOneMiBOfMmioFromTheFabric) {
  ASSERT_EQ(Add(), EFI_SUCCESS);
  ASSERT_EQ(Mmio.Calls.size(), 1u);
  EXPECT_EQ(Mmio.Calls[0].Length, 0x100000u);
  EXPECT_EQ(Mmio.Calls[0].AlignmentMask, 0xFFFFFu);
  EXPECT_EQ(Mmio.Calls[0].Target, 0x8000u);
  EXPECT_EQ(Mmio.Calls[0].Attributes, 0x83);
}

TEST_F(PcctService, ProgramsTheFirstFreeMtrrOnEveryApThenTheBsp) {
  // MTRRs 0 to 2 and 4 are in use: 3 is the first free one, however many follow it in use.
  SetValidMtrrs({0, 1, 2, 4});
  ASSERT_EQ(Add(), EFI_SUCCESS);
  const uint64_t Base = image::PccRegionBase(Allocated());
  EXPECT_EQ(WritesTo(0x206), std::vector<uint64_t>(4, Base));
  EXPECT_EQ(WritesTo(0x207), std::vector<uint64_t>(4, 0xFFFFFFFF0800ULL));
  ASSERT_EQ(Mp.Starts.size(), 1u);
  EXPECT_EQ(Mp.Starts[0].Call, "StartupAllAPs");
  EXPECT_TRUE(Mp.Starts[0].SingleThread);
  // Each processor writes the base before the mask that makes the pair valid.
  EXPECT_EQ(Firmware.MsrWrites.front().first, 0x206u);
  EXPECT_EQ(Firmware.MsrWrites[1].first, 0x207u);
  for (uint32_t Other : {0x201u, 0x203u, 0x205u, 0x209u}) EXPECT_TRUE(WritesTo(Other).empty());
}

TEST_F(PcctService, ASecondCallTakesTheNextMtrrAndKeepsTheFirstPublishedBase) {
  ASSERT_EQ(Add(), EFI_SUCCESS);
  const uint64_t FirstBase = Read64(Table.data(), 8);
  ASSERT_EQ(Add(), EFI_SUCCESS);
  EXPECT_FALSE(WritesTo(0x203).empty());
  EXPECT_NE(Read64(Table.data(), 8), FirstBase);
  HEAP_LOCATE_REQUEST Request = {HEAP_HANDLE_PCC_REGION, 0, 0};
  ASSERT_EQ(image::HeapLocateBuffer(&Request), HEAP_SUCCESS);
  EXPECT_EQ(*reinterpret_cast<const uint64_t *>(static_cast<uintptr_t>(Request.Buffer)), FirstBase);
}

TEST_F(PcctService, PrintsItsEntry) {
  ASSERT_EQ(Add(), EFI_SUCCESS);
  const std::vector<std::string> Lines = this->Lines();
  ASSERT_FALSE(Lines.empty());
  EXPECT_EQ(Lines.front(), "  CcxRellAddGenCommSubspaceStruct Entry");
}

// A failure row: what breaks, the status, the message, the fatal stops, and whether the template
// was already copied.
struct FailureRow {
  const char *Name;
  void (*Break)(PcctService &Test, fake::FakeFirmware &Firmware);
  EFI_STATUS Status;
  const char *Message;
  std::vector<uint32_t> FatalStops;
  bool TemplateCopied;
};

class PcctFailure : public PcctService, public ::testing::WithParamInterface<FailureRow> {
 public:
  static void BreakMmio(PcctService &Test, fake::FakeFirmware &) { static_cast<PcctFailure &>(Test).Mmio.Answer = EFI_OUT_OF_RESOURCES; }
  static void FillMtrrs(PcctService &Test, fake::FakeFirmware &) {
    static_cast<PcctFailure &>(Test).SetValidMtrrs({0, 1, 2, 3, 4, 5, 6, 7});
  }
  // MP services that can't start the APs: the region would stay cacheable on them.
  static EFI_STATUS EFIAPI NoApStarts(EFI_MP_SERVICES_PROTOCOL *, EFI_AP_PROCEDURE, BOOLEAN, EFI_EVENT, UINTN, VOID *,
                                      UINTN **) {
    return EFI_DEVICE_ERROR;
  }
  static void FailApStarts(PcctService &, fake::FakeFirmware &F) {
    static EFI_MP_SERVICES_PROTOCOL Failing = [] {
      EFI_MP_SERVICES_PROTOCOL Protocol{};
      Protocol.StartupAllAPs = NoApStarts;
      return Protocol;
    }();
    F.RemoveProtocol(gEfiMpServiceProtocolGuid);
    F.AddProtocol(gEfiMpServiceProtocolGuid, &Failing);
  }
};

TEST_P(PcctFailure, LeavesTheCursorWhereItWas) {
  const FailureRow &Row = GetParam();
  Row.Break(*this, Firmware);
  EXPECT_EQ(Add(), Row.Status);
  EXPECT_EQ(Cursor, Table.data());
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), Row.Message), Lines.end()) << Uart();
  EXPECT_EQ(FatalStops(), Row.FatalStops);
  if (Row.TemplateCopied) {
    EXPECT_EQ(Table[0], 0);
    EXPECT_EQ(Table[1], 62);
    EXPECT_TRUE(std::all_of(Table.begin() + 2, Table.begin() + kSubspaceSize, [](uint8_t Byte) { return Byte == 0; }));
  } else {
    EXPECT_TRUE(std::all_of(Table.begin(), Table.begin() + kSubspaceSize, [](uint8_t Byte) { return Byte == kUnwritten; }));
  }
  EXPECT_EQ(Table[kSubspaceSize], kUnwritten);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PcctFailure,
    ::testing::Values(
        FailureRow{"NoMpServices", [](PcctService &, fake::FakeFirmware &F) { F.RemoveProtocol(gEfiMpServiceProtocolGuid); },
                   EFI_NOT_FOUND, "  Returning error, protocols not found", {0x30791093, 0x30791098}, false},
        FailureRow{"NoMmioAllocator",
                   [](PcctService &, fake::FakeFirmware &F) { F.RemoveProtocol(gQorvexFabricMmioAllocatorProtocolGuid); },
                   EFI_NOT_FOUND, "  Returning error, protocols not found", {0x30791098}, false},
        FailureRow{"NoRegionService",
                   [](PcctService &, fake::FakeFirmware &F) { F.RemoveProtocol(gQorvexRegionServicesProtocolGuid); },
                   EFI_NOT_FOUND, "  Returning error, protocols not found", {0x30791098}, false},
        FailureRow{"PagesRefused",
                   [](PcctService &, fake::FakeFirmware &F) { F.FailCall("AllocatePages:AnyPages", EFI_OUT_OF_RESOURCES); },
                   EFI_UNSUPPORTED, "  Returning error, allocate page failed", {}, true},
        FailureRow{"EveryMtrrInUse", PcctFailure::FillMtrrs, EFI_UNSUPPORTED,
                   "  Returning unsupported, no var mtrr found", {}, true},
        FailureRow{"MmioRefused", PcctFailure::BreakMmio, EFI_UNSUPPORTED, "  Returning error, allocate mmio", {}, true},
        FailureRow{"ApsNotStarted", PcctFailure::FailApStarts, EFI_DEVICE_ERROR,
                   "  Returning error, var mtrr not set on the APs: Device Error", {}, true}),
    [](const ::testing::TestParamInfo<FailureRow> &Info) { return std::string(Info.param.Name); });

// A system without APs has nobody to start: the BSP's MTRR is all there is, and the subspace is
// handed out.
TEST_F(PcctService, ASystemWithoutApsStillGetsItsSubspace) {
  fake::FakeMpServices Alone{1};
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Alone.Protocol());
  ASSERT_EQ(Add(), EFI_SUCCESS);
  EXPECT_EQ(Cursor, Table.data() + kSubspaceSize);
  EXPECT_EQ(WritesTo(0x201).size(), 1u);
}

TEST_F(PcctService, RefusesAMissingInputOrCursorWithoutWriting) {
  EXPECT_EQ(image::CcxRellAddGenCommSubspaceStruct(nullptr, nullptr, nullptr, &Cursor), EFI_INVALID_PARAMETER);
  EXPECT_EQ(image::CcxRellAddGenCommSubspaceStruct(nullptr, nullptr, &Input, nullptr), EFI_INVALID_PARAMETER);
  UINT8 *Null = nullptr;
  EXPECT_EQ(image::CcxRellAddGenCommSubspaceStruct(nullptr, nullptr, &Input, &Null), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(Firmware.PageCalls.empty());
}

}  // namespace
