// Register access on the simulator's devices: the PCI segment table and segment accesses, the two
// sideband reads, the fabric window and its host-bridge map, the core-complex registers, and the
// APIC ID of a topology position with every bound check, the enabled-core map and the fold.
#include <array>
#include <string>
#include <vector>

#include "services/CoreRegisters.h"
#include "tests/services/ServiceFixture.h"

namespace {

constexpr uint32_t kMmioCfgBase = 0xC0010058;
constexpr uint64_t kSegment0 = 0x3FB00000000ULL;
constexpr uint64_t kFabricWindow = 0x3FB000C0000ULL;
constexpr uint32_t kTopologyRegister0 = 0x20002FEC;
constexpr uint32_t kNotSet = 0xDEADBEEF;

// The configuration offset of a register of bus/device/function inside a segment's window.
constexpr uint64_t ConfigOffset(uint64_t Bus, uint64_t Device, uint64_t Function, uint64_t Register) {
  return Bus << 20 | Device << 15 | Function << 12 | Register;
}

const sim::PciFunction kBus0Bridge{0, 0, 0, 0};

struct SegmentCase {
  const char *Name;
  uint64_t Register;
  UINTN Count;
};

class PciSegmentTable : public ServiceFixture, public ::testing::WithParamInterface<SegmentCase> {};

TEST_P(PciSegmentTable, FollowsTheBusRangeOfTheBaseRegister) {
  Firmware.Msrs[kMmioCfgBase] = GetParam().Register;
  UINTN Count = 0;
  const image::PCI_SEGMENT_ENTRY *Table = image::GetPciSegmentTable(&Count);
  ASSERT_EQ(Count, GetParam().Count);
  for (UINTN Index = 0; Index < Count; Index++) {
    EXPECT_EQ(Table[Index].Segment, Index);
    EXPECT_EQ(Table[Index].Base, kSegment0 + Index * 0x10000000);
    EXPECT_EQ(Table[Index].StartBus, 0);
    EXPECT_EQ(Table[Index].EndBus, 255);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Exponents, PciSegmentTable,
    ::testing::Values(SegmentCase{"Exponent0", kSegment0 | 0x01, 1}, SegmentCase{"Exponent8", kSegment0 | 0x21, 1},
                      SegmentCase{"Exponent9GivesTwo", kSegment0 | 0x25, 2},
                      SegmentCase{"Exponent10GivesFour", kSegment0 | 0x29, 4},
                      SegmentCase{"Exponent12IsCappedAtEight", kSegment0 | 0x31, 8},
                      SegmentCase{"Exponent15IsCappedAtEight", kSegment0 | 0x3D, 8},
                      SegmentCase{"LowBitsAreNoPartOfTheBase", kSegment0 | 0xFFFE1, 1}),
    [](const ::testing::TestParamInfo<SegmentCase> &Info) { return std::string(Info.param.Name); });

TEST_F(ServiceFixture, SegmentTableIsBuiltOnceAndKept) {
  Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x25;
  UINTN First = 0;
  image::GetPciSegmentTable(&First);
  Firmware.Msrs[kMmioCfgBase] = 0x10000000 | 0x31;
  UINTN Second = 0;
  const image::PCI_SEGMENT_ENTRY *Table = image::GetPciSegmentTable(&Second);
  EXPECT_EQ(First, 2u);
  EXPECT_EQ(Second, 2u);
  EXPECT_EQ(Table[1].Base, kSegment0 + 0x10000000);
}

class SegmentAccess : public ServiceFixture {
 protected:
  SegmentAccess() {
    sim::DeviceSetConfig Config;
    Config.PciSegmentCount = 3;
    UseDevices(Config);
    // Two segments in the table, though the window would answer a third.
    Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x25;
  }
};

TEST_F(SegmentAccess, AddressesReachTheirSegmentsWindow) {
  image::PciSegmentWrite32(1ULL << 32 | ConfigOffset(3, 2, 1, 0x40), 0x12345678);
  EXPECT_EQ(Devices().Pci().Get({1, 3, 2, 1}, 0x40, 4), 0x12345678u);
  EXPECT_EQ(Devices().Pci().Get({0, 3, 2, 1}, 0x40, 4), 0u);
  UINT32 Value = 0;
  image::PciSegmentRead32(static_cast<UINT32>(1U << 28 | ConfigOffset(3, 2, 1, 0x40)), &Value);
  EXPECT_EQ(Value, 0x12345678u);
  Devices().Pci().Set({0, 7, 0, 0}, 0x10, 4, 0xA5A5);
  image::PciSegmentRead32(static_cast<UINT32>(ConfigOffset(7, 0, 0, 0x10)), &Value);
  EXPECT_EQ(Value, 0xA5A5u) << "an address below 256 MB lies in segment 0";
}

TEST_F(SegmentAccess, SegmentOutsideTheTableIsNeverAccessed) {
  image::PciSegmentWrite32(2ULL << 32 | ConfigOffset(3, 0, 0, 0x40), 0x12345678);
  UINT32 Value = 0;
  image::PciSegmentRead32(static_cast<UINT32>(2U << 28 | ConfigOffset(3, 0, 0, 0x40)), &Value);
  EXPECT_EQ(Value, 0xFFFFFFFFu);
  for (uint16_t Segment = 0; Segment < 3; Segment++) {
    EXPECT_EQ(Devices().Pci().Get({Segment, 3, 0, 0}, 0x40, 4), 0u) << "segment " << Segment;
  }
  EXPECT_EQ(Devices().Mmio().UnclaimedWriteCount(), 0u);
  EXPECT_EQ(Devices().Mmio().UnclaimedReadCount(), 0u);
}

TEST_F(ServiceFixture, SidebandReadPutsBackTheIndexOfBusZero) {
  Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x21;
  Devices().Pci().Set(kBus0Bridge, 0xB8, 4, 0x03E30600);
  SetSideband(0x20002FEC, 0x1234);
  UINT32 Value = 0;
  image::SidebandRead32(0x20002FEC, &Value);
  EXPECT_EQ(Value, 0x1234u);
  EXPECT_EQ(Devices().Pci().SidebandIndex({0, 0}), 0x03E30600u);
}

class BridgeOnSegmentOne : public ServiceFixture {
 protected:
  BridgeOnSegmentOne() {
    sim::DeviceSetConfig Config;
    Config.PciSegmentCount = 2;
    Config.HostBridges = {{{0, 0}, 0x20}, {{1, 0x40}, 0x21}};
    UseDevices(Config);
    Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x25;
    Devices().Pci().Set(kBus0Bridge, 0xB8, 4, 0x11);
  }
};

TEST_F(BridgeOnSegmentOne, SidebandReadOnABusLeavesItsIndex) {
  SetSideband(0x49001140, 0x200);
  UINT32 Value = 0;
  image::SidebandRead32OnBus(0x0140, 0x49001140, &Value);
  EXPECT_EQ(Value, 0x200u);
  EXPECT_EQ(Devices().Pci().SidebandIndex({1, 0x40}), 0x49001140u);
  EXPECT_EQ(Devices().Pci().SidebandIndex({0, 0}), 0x11u);
}

TEST_F(BridgeOnSegmentOne, SidebandReadOnASegmentWithoutWindowMakesNoAccess) {
  SetSideband(0x49001140, 0x200);
  UINT32 Value = 0;
  image::SidebandRead32OnBus(0x0540, 0x49001140, &Value);
  EXPECT_EQ(Value, 0xFFFFFFFFu);
  EXPECT_EQ(Devices().Pci().SidebandIndex({1, 0x40}), 0u);
  EXPECT_EQ(Devices().Pci().SidebandIndex({0, 0}), 0x11u);
  EXPECT_EQ(Devices().Mmio().UnclaimedWriteCount(), 0u);
}

TEST_F(BridgeOnSegmentOne, CoreComplexRegistersAreReadThroughTheBridgeTheFabricNames) {
  SetSideband(0x49001140, 0x200);
  EXPECT_EQ(image::FindSidebandHostBridge(), 0x0140u);
  EXPECT_EQ(image::ReadCoreComplexRegister32(0x140), 0x200u);
  EXPECT_EQ(image::ReadCoreComplexRegister32(0x1140), 0x200u) << "only the low twelve bits select the register";
  EXPECT_EQ(Devices().Pci().SidebandIndex({1, 0x40}), 0x49001140u);
  EXPECT_TRUE(FatalStops().empty());
}

struct OffsetCase {
  uint32_t Offset;
  std::vector<uint32_t> FatalStops;
};

class CoreComplexOffset : public ServiceFixture, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(CoreComplexOffset, OutOfRangeOrUnalignedOffsetsStop) {
  Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x21;
  image::ReadCoreComplexRegister32(GetParam().Offset);
  EXPECT_EQ(FatalStops(), GetParam().FatalStops);
}

INSTANTIATE_TEST_SUITE_P(Offsets, CoreComplexOffset,
                         ::testing::Values(OffsetCase{0x1FFC, {}}, OffsetCase{0x2000, {0xDFF80105}},
                                           OffsetCase{0x142, {0xDFF80106}},
                                           OffsetCase{0x2001, {0xDFF80105, 0xDFF80106}}));

class FabricOffset : public ServiceFixture, public ::testing::WithParamInterface<OffsetCase> {};

TEST_P(FabricOffset, OutOfRangeOrUnalignedOffsetsStop) {
  image::ReadFabricRegister32(GetParam().Offset);
  EXPECT_EQ(FatalStops(), GetParam().FatalStops);
}

INSTANTIATE_TEST_SUITE_P(Offsets, FabricOffset,
                         ::testing::Values(OffsetCase{0x1FFC, {}}, OffsetCase{0x2000, {0xDE500427}},
                                           OffsetCase{0xC82, {0xDE500428}},
                                           OffsetCase{0x2002, {0xDE500427, 0xDE500428}}));

TEST_F(ServiceFixture, FabricOffsetsAliasEvery4KB) {
  Devices().Fabric().Set(0xC80, 0x00AB0003);
  EXPECT_EQ(image::ReadFabricRegister32(0x1C80), 0x00AB0003u);
  EXPECT_EQ(image::ReadFabricRegister32(0xC80), 0x00AB0003u);
}

class HostBridgeMap : public ServiceFixture {
 protected:
  HostBridgeMap() {
    for (uint32_t Entry = 0; Entry < 16; Entry++) {
      Devices().Fabric().Set(0xC80 + 8 * Entry, 0);
      Devices().Fabric().Set(0xC84 + 8 * Entry, 0);
    }
  }
  void SetEntry(uint32_t Entry, uint32_t Base, uint32_t Limit) {
    Devices().Fabric().Set(0xC80 + 8 * Entry, Base);
    Devices().Fabric().Set(0xC84 + 8 * Entry, Limit);
  }
};

TEST_F(HostBridgeMap, FirstEnabledEntryToTheCoreComplexesWins) {
  SetEntry(0, 0x00100003, 0x020);  // enabled, but routed elsewhere
  SetEntry(1, 0x00200001, 0x021);  // routed right, but not enabled for writes
  SetEntry(2, 0x00200002, 0x021);  // routed right, but not enabled for reads
  SetEntry(3, 0x00800303, 0xABC021);  // segment 3, bus 0x80; the limit's upper bits are not compared
  SetEntry(4, 0x00010103, 0x021);
  EXPECT_EQ(image::FindSidebandHostBridge(), 0x0380u);
}

TEST_F(HostBridgeMap, LastEntryIsSearchedToo) {
  SetEntry(15, 0x00400003, 0x021);
  EXPECT_EQ(image::FindSidebandHostBridge(), 0x0040u);
}

TEST_F(HostBridgeMap, WithoutABridgeCoreComplexReadsMakeNoAccess) {
  Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x21;
  Devices().Pci().Set(kBus0Bridge, 0xB8, 4, 0x11);
  SetSideband(0x49001140, 0x200);
  EXPECT_EQ(image::FindSidebandHostBridge(), 0xFFFFFFFFu);
  EXPECT_EQ(image::ReadCoreComplexRegister32(0x140), 0xFFFFFFFFu);
  EXPECT_EQ(Devices().Pci().SidebandIndex({0, 0}), 0x11u);
  EXPECT_EQ(Devices().Mmio().UnclaimedWriteCount(), 0u);
  EXPECT_EQ(Devices().Mmio().UnclaimedReadCount(), 0u);
}

TEST_F(ServiceFixture, ThreadsPerCoreIsOneMoreThanTheCpuidField) {
  SetThreadsPerCore(2);
  EXPECT_EQ(image::GetThreadsPerCore(), 2);
  SetThreadsPerCore(1);
  EXPECT_EQ(image::GetThreadsPerCore(), 1);
}

struct Position {
  UINTN Socket, Die, ComplexDie, Complex, Core, Thread;
};

struct ApicIdCase {
  const char *Name;
  uint32_t TopologyRegister;
  uint32_t Threads;
  Position Where;
  uint32_t ApicId;
  std::vector<uint32_t> FatalStops;
};

// The core topology register: socket maximum 26:25, complex-die maximum 24:21, complex maximum 20,
// core maximum 19:16, core-field padding 11.
constexpr uint32_t Topology(uint32_t SocketMax, uint32_t ComplexDieMax, uint32_t ComplexMax, uint32_t CoreMax,
                            bool Padded) {
  return SocketMax << 25 | ComplexDieMax << 21 | ComplexMax << 20 | CoreMax << 16 | (Padded ? 1U << 11 : 0);
}

class NumberingFixture : public ServiceFixture {
 protected:
  NumberingFixture() {
    Firmware.Msrs[kMmioCfgBase] = kSegment0 | 0x21;
    SetEnabledCoreMap({1, 0, 0, 0});
    SetSidebandDefault(kNotSet);
  }
  uint32_t Number(const Position &P) {
    return image::CcxGetApicId(P.Socket, P.Die, P.ComplexDie, P.Complex, P.Core, P.Thread);
  }
};

class ApicIdNumbering : public NumberingFixture, public ::testing::WithParamInterface<ApicIdCase> {};

TEST_P(ApicIdNumbering, FieldsFollowTheTopologyRegister) {
  const ApicIdCase &Case = GetParam();
  SetSideband(kTopologyRegister0, Case.TopologyRegister);
  SetThreadsPerCore(Case.Threads);
  EXPECT_EQ(Number(Case.Where), Case.ApicId);
  EXPECT_EQ(FatalStops(), Case.FatalStops);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, ApicIdNumbering,
    ::testing::Values(
        // 8 cores, 2 threads, one complex, 12 complex dies: shifts 1, 4, 4, 8.
        ApicIdCase{"WorkedExample", 0x03670000, 2, {1, 0, 3, 0, 5, 1}, 0x13B, {}},
        ApicIdCase{"DieTakesNoPart", 0x03670000, 2, {1, 3, 3, 0, 5, 1}, 0x13B, {}},
        ApicIdCase{"OneThreadCoreStartsAtBitZero", Topology(0, 3, 0, 7, false), 1, {0, 0, 2, 0, 3, 0}, 0x13, {}},
        ApicIdCase{"PaddingPutsTheComplexDieAtBitFour", Topology(0, 3, 0, 7, true), 1, {0, 0, 2, 0, 3, 0}, 0x23, {}},
        ApicIdCase{"PaddingChangesNothingAtFourBits", Topology(0, 3, 0, 7, true), 2, {0, 0, 2, 0, 3, 1}, 0x27, {}},
        ApicIdCase{"PaddingWithSmallComplexes", Topology(1, 3, 1, 1, true), 1, {1, 0, 2, 1, 1, 0}, 0xD1, {}},
        ApicIdCase{"TwoComplexesTwoSockets", Topology(1, 1, 1, 3, false), 2, {1, 0, 1, 1, 2, 1}, 0x3D, {}},
        ApicIdCase{"ComplexDieIsNotCheckedAgainstItsMaximum", Topology(0, 1, 0, 3, false), 1, {0, 0, 5, 0, 1, 0},
                   0x15, {}},
        ApicIdCase{"SocketLimit", Topology(3, 15, 1, 15, false), 2, {4, 0, 0, 0, 0, 0}, 4 << 10,
                   {0x308A0106, 0x308A0146}},
        ApicIdCase{"DieLimit", Topology(3, 15, 1, 15, false), 2, {0, 4, 0, 0, 0, 0}, 0, {0x308A0107}},
        ApicIdCase{"ComplexDieLimit", Topology(3, 15, 1, 15, false), 2, {0, 0, 12, 0, 0, 0}, 12 << 6, {0x308A0108}},
        ApicIdCase{"ComplexLimit", Topology(3, 15, 1, 15, false), 2, {0, 0, 0, 2, 0, 0}, 2 << 5,
                   {0x308A0109, 0x308A0147}},
        ApicIdCase{"CoreLimit", Topology(3, 15, 1, 15, false), 2, {0, 0, 0, 0, 8, 0}, 8 << 1, {0x308A0110}},
        ApicIdCase{"ThreadLimit", Topology(3, 15, 1, 15, false), 2, {0, 0, 0, 0, 0, 2}, 2, {0x308A0111, 0x308A0149}},
        ApicIdCase{"SocketMaximum", Topology(0, 0, 0, 3, false), 1, {1, 0, 0, 0, 0, 0}, 1 << 2, {0x308A0146}},
        ApicIdCase{"ComplexMaximum", Topology(0, 0, 0, 3, false), 1, {0, 0, 0, 1, 0, 0}, 1 << 2, {0x308A0147}},
        ApicIdCase{"CoreMaximum", Topology(0, 0, 0, 3, false), 1, {0, 0, 0, 0, 4, 0}, 4, {0x308A0148}},
        ApicIdCase{"ThreadMaximum", Topology(0, 0, 0, 3, false), 1, {0, 0, 0, 0, 0, 1}, 1, {0x308A0149}}),
    [](const ::testing::TestParamInfo<ApicIdCase> &Info) { return std::string(Info.param.Name); });

struct MapCase {
  const char *Name;
  std::array<uint32_t, 4> Map;
  uint32_t SignatureEax;
  uint32_t RegisterAddress;
  std::vector<uint32_t> FatalStops;
};

class EnabledCoreMap : public NumberingFixture, public ::testing::WithParamInterface<MapCase> {};

// Only the register of the first enabled core holds the maxima; any other copy would number
// socket 1, complex die 3, core 5, thread 1 differently or stop. The whole map is read, whichever
// word holds the first enabled core, so the core-complex bridge's index is left on the last word.
TEST_P(EnabledCoreMap, FirstEnabledCoreNamesTheTopologyRegister) {
  const MapCase &Case = GetParam();
  SetEnabledCoreMap(Case.Map);
  SetSignature(Case.SignatureEax, 0);
  SetThreadsPerCore(2);
  SetSideband(Case.RegisterAddress, 0x03670000);
  EXPECT_EQ(Number({1, 0, 3, 0, 5, 1}), 0x13Bu);
  EXPECT_EQ(FatalStops(), Case.FatalStops);
  EXPECT_EQ(Devices().Pci().SidebandIndex({0, 0}), 0x4900114Cu);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, EnabledCoreMap,
    ::testing::Values(
        MapCase{"Bit9IsComplexDie1Core1", {1U << 9, 0, 0, 0}, 0x00B00F10, 0x20002FEC + 2 * 0x400000 + 0x20000, {}},
        MapCase{"PairedPartCountsGroupsPerComplex", {1U << 9, 0, 0, 0}, 0x00AA0F10,
                0x20002FEC + 0x400000 + 0x20000, {}},
        MapCase{"LaterWordsCount", {0, 0, 1U << 8 | 1U << 20, 0}, 0x00B00F10, 0x20002FEC + 18 * 0x400000, {}},
        MapCase{"PairedLaterWords", {0, 1U << 11, 0, 0}, 0x00AA0F00, 0x20002FEC + 5 * 0x400000 + 3 * 0x20000, {}},
        MapCase{"EmptyMapStopsAndUsesTheFirstCore", {0, 0, 0, 0}, 0x00B00F10, 0x20002FEC, {0x308A0118}}),
    [](const ::testing::TestParamInfo<MapCase> &Info) { return std::string(Info.param.Name); });

struct FoldCase {
  const char *Name;
  uint32_t SignatureEax;
  uint32_t SignatureEbx;
  uint32_t FoldRegister;
  Position Where;
  uint32_t ApicId;
  std::vector<uint32_t> FatalStops;
};

class ComplexFold : public NumberingFixture, public ::testing::WithParamInterface<FoldCase> {};

// Four complex dies of two complexes, folded into eight complex dies of one complex: the register
// counts complex dies up to 7 and no second complex. The first enabled core is core 1 of slot 2,
// the first complex of complex die 1, whose pair's fold register is the second.
TEST_P(ComplexFold, SecondComplexBecomesAComplexDieInTheUpperHalf) {
  const FoldCase &Case = GetParam();
  SetEnabledCoreMap({1U << 17, 0, 0, 0});
  SetSignature(Case.SignatureEax, Case.SignatureEbx);
  SetThreadsPerCore(2);
  SetSideband(0x20002FEC + 2 * 0x400000 + 0x20000, Topology(0, 7, 0, 7, false));
  SetSideband(0x308003D0 + 0x2000000, Case.FoldRegister);
  SetSideband(0x308003D0, 0);
  EXPECT_EQ(Number(Case.Where), Case.ApicId);
  EXPECT_EQ(FatalStops(), Case.FatalStops);
}

INSTANTIATE_TEST_SUITE_P(
    Folds, ComplexFold,
    ::testing::Values(FoldCase{"Folded", 0x00AA0F00, 0x80000000, 0x20, {0, 0, 1, 1, 2, 1}, 0x55, {}},
                      FoldCase{"FirstComplexStays", 0x00AA0F00, 0x80000000, 0x20, {0, 0, 1, 0, 2, 1}, 0x15, {}},
                      FoldCase{"OtherModelsOfTheFamilyFold", 0x00AA0F27, 0x8FFF0000, 0x20, {0, 0, 3, 1, 0, 0}, 0x70,
                               {}},
                      FoldCase{"FoldBitClear", 0x00AA0F00, 0x80000000, 0xFFFFFFDF, {0, 0, 1, 1, 2, 1}, 0x15,
                               {0x308A0147}},
                      FoldCase{"OtherPackage", 0x00AA0F00, 0x40000000, 0x20, {0, 0, 1, 1, 2, 1}, 0x15, {0x308A0147}}),
    [](const ::testing::TestParamInfo<FoldCase> &Info) { return std::string(Info.param.Name); });

}  // namespace
