// The resource affinity entries: the append routine's lengths, counters and refused types; the
// compute-unit runs by domain; cache entries per sharing group with their figures and map bytes,
// under the feature-override bracket; TLB entries with decoded associativities and counts in units
// of 256; the associativity decoding; and sibling maps of wide groups and of positions past 255.
#include <algorithm>
#include <string>
#include <vector>

#include "services/ResourceAffinityServices.h"
#include "tests/services/ProcessorTableFixture.h"

namespace {

constexpr uint32_t kFeatureOverride = 0xC0011005;
constexpr uint64_t kTopologyExtensions = 1ULL << 54;
constexpr uint32_t kCacheLeaf = 0x8000001D;

class AffinityEntries : public ProcessorTableFixture {
 protected:
  explicit AffinityEntries(fake::FabricShape Shape = {{1, 1, 2, 1, 4, 2}}) : ProcessorTableFixture(Shape) {
    Table.assign(64 * 1024, 0);
    Cursor = Table.data() + sizeof(CCX_RESOURCE_AFFINITY_TABLE_HEADER);
  }
  CCX_RESOURCE_AFFINITY_TABLE_HEADER *Header() {
    return reinterpret_cast<CCX_RESOURCE_AFFINITY_TABLE_HEADER *>(Table.data());
  }
  const uint8_t *Entries() const { return Table.data() + sizeof(CCX_RESOURCE_AFFINITY_TABLE_HEADER); }
  size_t Used() const { return static_cast<size_t>(Cursor - Entries()); }

  // Cache sub-leaves: type, level, threads sharing, ways, line size, sets, fully associative,
  // inclusive.
  void SetCache(uint32_t SubLeaf, uint32_t Type, uint32_t Level, uint32_t Sharing, uint32_t Ways, uint32_t Line,
                uint32_t Sets, bool Full = false, bool Inclusive = false) {
    const uint32_t Eax = Type | Level << 5 | (Full ? 1U << 9 : 0) | (Sharing - 1) << 14;
    Firmware.CpuidSubLeaves[{kCacheLeaf, SubLeaf}] = {Eax, (Ways - 1) << 22 | (Line - 1), Sets - 1,
                                                      Inclusive ? 3U : 1U};
  }
  // Level-1 data and instruction, level 2 shared by two threads, level 3 shared by sixteen.
  void SetCaches() {
    SetCache(0, 1, 1, 2, 8, 64, 64);
    SetCache(1, 2, 1, 2, 8, 64, 64, true);
    SetCache(2, 3, 2, 2, 8, 64, 2048, false, true);
    SetCache(3, 3, 3, 16, 16, 64, 32768);
  }

  std::vector<uint8_t> Table;
  uint8_t *Cursor = nullptr;
};

// Lengths by type, and which counters rise.
struct AppendCase {
  uint8_t Type;
  uint8_t Length;
  uint16_t ComputeUnits;
};

class AppendAccepted : public AffinityEntries, public ::testing::WithParamInterface<AppendCase> {};

TEST_P(AppendAccepted, WritesTypeAndLengthAndCountsTheEntry) {
  uint8_t *Start = Cursor;
  EXPECT_EQ(image::AppendAffinityEntry(GetParam().Type, Header(), &Cursor), Start);
  EXPECT_EQ(Start[0], GetParam().Type);
  EXPECT_EQ(Start[1], GetParam().Length);
  EXPECT_EQ(Cursor, Start + GetParam().Length);
  EXPECT_EQ(Header()->TotalEntries, 1u);
  EXPECT_EQ(Header()->ComputeUnitEntries, GetParam().ComputeUnits);
}

INSTANTIATE_TEST_SUITE_P(Types, AppendAccepted,
                         ::testing::Values(AppendCase{0, 40, 1}, AppendCase{2, 64, 0}, AppendCase{3, 64, 0},
                                           AppendCase{4, 64, 0}));

struct RefusedCase {
  uint8_t Type;
  uint32_t Fatal;
};

class AppendRefused : public AffinityEntries, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(AppendRefused, StopsAndWritesNothing) {
  uint8_t *Start = Cursor;
  EXPECT_EQ(image::AppendAffinityEntry(GetParam().Type, Header(), &Cursor), nullptr);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{GetParam().Fatal});
  EXPECT_EQ(Cursor, Start);
  EXPECT_EQ(Start[0], 0);
  EXPECT_EQ(Header()->TotalEntries, 0u);
}

INSTANTIATE_TEST_SUITE_P(Types, AppendRefused,
                         ::testing::Values(RefusedCase{1, 0x30791243}, RefusedCase{5, 0x30791243},
                                           RefusedCase{6, 0x30791216}, RefusedCase{255, 0x30791216}));

// Complexes with domains 0, 0, 1, 0 in walk order: three runs, 0 (8 threads), 1, 0.
class ComputeUnits : public AffinityEntries {
 protected:
  ComputeUnits() : AffinityEntries({{1, 1, 4, 1, 2, 2}}) {}
};

TEST_F(ComputeUnits, RunsOfEqualDomainsShareOneEntry) {
  const uint32_t Domains[] = {0, 0, 1, 0};
  for (size_t Index = 0; Index < 4; Index++) Numa.Domains[Complexes[Index]] = Domains[Index];
  EXPECT_EQ(image::AddComputeUnitEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Used(), 3u * 40);
  EXPECT_EQ(Header()->TotalEntries, 3u);
  EXPECT_EQ(Header()->ComputeUnitEntries, 3u);
  const struct {
    uint32_t Domain;
    size_t FirstThread;
    uint16_t Threads;
  } Expected[] = {{0, 0, 8}, {1, 8, 4}, {0, 12, 4}};
  for (size_t Index = 0; Index < 3; Index++) {
    const uint8_t *Entry = Entries() + 40 * Index;
    SCOPED_TRACE(Index);
    EXPECT_EQ(Entry[0], 0);
    EXPECT_EQ(Entry[1], 40);
    EXPECT_EQ(Read32(Entry, 4), 5u);
    EXPECT_EQ(Read32(Entry, 8), Expected[Index].Domain);
    EXPECT_EQ(Read32(Entry, 12), ApicIds[Expected[Index].FirstThread]);
    EXPECT_EQ(Read16(Entry, 16), Expected[Index].Threads);
    EXPECT_EQ(Entry[28], 4);
  }
}

TEST_F(ComputeUnits, LaterComplexWithoutDomainJoinsTheRunBefore) {
  Numa.Domains[Complexes[2]] = 1;
  Numa.Domains[Complexes[3]] = 2;
  Numa.Failing.insert(Complexes[3]);
  EXPECT_EQ(image::AddComputeUnitEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Header()->ComputeUnitEntries, 2u);
  EXPECT_EQ(Read16(Entries() + 40, 16), 8u);
}

TEST_F(ComputeUnits, FirstComplexWithoutDomainIsNoMapping) {
  Numa.Failing.insert(Complexes[0]);
  EXPECT_EQ(image::AddComputeUnitEntries(nullptr, Header(), &Cursor), EFI_NO_MAPPING);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30790697});
  EXPECT_EQ(Used(), 0u);
  EXPECT_EQ(Header()->TotalEntries, 0u);
}

// Each of the three services walks every thread; a count query that fails part-way is reported
// as an error naming the service and the place, not answered as a table with threads missing.
// The cache service still leaves the extension bit as it found it.
struct CutWalkCase {
  const char *Service;
  EFI_STATUS (*Run)(CCX_RESOURCE_AFFINITY_TABLE_HEADER *, UINT8 **);
};

class CutAffinityWalk : public AffinityEntries, public ::testing::WithParamInterface<CutWalkCase> {};

TEST_P(CutAffinityWalk, IsAnErrorWithItsPlace) {
  SetCaches();
  Firmware.Msrs[kFeatureOverride] = 0;
  Fabric.Fail("GetNumberOfComplexDies", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(GetParam().Run(Header(), &Cursor), EFI_DEVICE_ERROR);
  const std::string Expected = std::string("  ERROR: ") + GetParam().Service +
                               ": fabric topology count query failed after socket 0, die 0, complex die 0, "
                               "complex 0: Device Error";
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), Expected), Lines.end()) << Uart();
  EXPECT_EQ(Firmware.Msrs[kFeatureOverride], 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Services, CutAffinityWalk,
    ::testing::Values(
        CutWalkCase{"AddComputeUnitEntries",
                    [](CCX_RESOURCE_AFFINITY_TABLE_HEADER *H, UINT8 **C) { return image::AddComputeUnitEntries(nullptr, H, C); }},
        CutWalkCase{"AddCacheEntries",
                    [](CCX_RESOURCE_AFFINITY_TABLE_HEADER *H, UINT8 **C) { return image::AddCacheEntries(nullptr, H, C); }},
        CutWalkCase{"AddTlbEntries",
                    [](CCX_RESOURCE_AFFINITY_TABLE_HEADER *H, UINT8 **C) { return image::AddTlbEntries(nullptr, H, C); }}),
    [](const auto &Info) { return std::string(Info.param.Service); });

class TwoSocketComputeUnits : public AffinityEntries {
 protected:
  TwoSocketComputeUnits() : AffinityEntries({{2, 1, 2, 1, 4, 2}}) {}
};

TEST_F(TwoSocketComputeUnits, OneEntryPerSocketDomainCountsItsThreads) {
  Header()->TotalEntries = 5;
  EXPECT_EQ(image::AddComputeUnitEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Header()->ComputeUnitEntries, 2u);
  EXPECT_EQ(Header()->TotalEntries, 7u);
  EXPECT_EQ(Read16(Entries(), 16), 16u);
  EXPECT_EQ(Read32(Entries() + 40, 8), 1u);
  EXPECT_EQ(Read32(Entries() + 40, 12), ApicIds[16]);
  EXPECT_EQ(Read16(Entries() + 40, 16), 16u);
}

// 16 threads: three caches shared by two give 8 entries each, the level-3 cache one.
TEST_F(AffinityEntries, CacheEntriesStartEverySharingGroup) {
  SetCaches();
  EXPECT_EQ(image::AddCacheEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Header()->TotalEntries, 25u);
  EXPECT_EQ(Header()->ComputeUnitEntries, 0u);
  EXPECT_EQ(Used(), 25u * 64);
  // Position 0: L1 data, L1 instruction, L2, L3; then three entries at every even position.
  const uint8_t *L1Data = Entries();
  EXPECT_EQ(L1Data[0], 2);
  EXPECT_EQ(L1Data[1], 64);
  EXPECT_EQ(Read32(L1Data, 4), 0x0Bu);
  EXPECT_EQ(Read32(L1Data, 8), ApicIds[0]);
  EXPECT_EQ(L1Data[12], 0x03);
  EXPECT_EQ(Read32(L1Data, 44), 32u);
  EXPECT_EQ(L1Data[48], 1);
  EXPECT_EQ(L1Data[49], 1);
  EXPECT_EQ(Read16(L1Data, 50), 64u);
  EXPECT_EQ(L1Data[52], 8);
  EXPECT_EQ(L1Data[53], 0);
  EXPECT_EQ(Read16(L1Data, 54), 1u);
  const uint8_t *L1Instruction = Entries() + 64;
  EXPECT_EQ(Read32(L1Instruction, 4), 0x0Du);
  EXPECT_EQ(L1Instruction[52], 0xFF);
  const uint8_t *L2 = Entries() + 2 * 64;
  EXPECT_EQ(Read32(L2, 4), 0x0Fu);
  EXPECT_EQ(Read32(L2, 44), 1024u);
  EXPECT_EQ(L2[48], 2);
  EXPECT_EQ(L2[53], 2);
  // Level 3 shared by sixteen threads marks both bytes of its group.
  const uint8_t *L3 = Entries() + 3 * 64;
  EXPECT_EQ(L3[48], 3);
  EXPECT_EQ(Read32(L3, 44), 32768u);
  EXPECT_EQ(L3[12], 0xFF);
  EXPECT_EQ(L3[13], 0xFF);
  EXPECT_EQ(L3[14], 0);
  // Position 2's level-2 entry: byte 12 = 0x0C, APIC ID of thread 2.
  const uint8_t *L2At2 = Entries() + 6 * 64;
  EXPECT_EQ(L2At2[48], 2);
  EXPECT_EQ(Read32(L2At2, 8), ApicIds[2]);
  EXPECT_EQ(L2At2[12], 0x0C);
  EXPECT_EQ(L2At2[13], 0);
}

struct BracketCase {
  const char *Name;
  uint64_t Before;
  std::vector<std::pair<uint32_t, uint64_t>> Writes;
};

class CacheBracket : public AffinityEntries, public ::testing::WithParamInterface<BracketCase> {};

TEST_P(CacheBracket, ExtensionBitIsLeftAsFound) {
  SetCaches();
  Firmware.Msrs[kFeatureOverride] = GetParam().Before;
  image::AddCacheEntries(nullptr, Header(), &Cursor);
  EXPECT_EQ(Firmware.MsrWrites, GetParam().Writes);
  EXPECT_EQ(Firmware.Msrs[kFeatureOverride], GetParam().Before);
}

INSTANTIATE_TEST_SUITE_P(
    States, CacheBracket,
    ::testing::Values(BracketCase{"ClearIsSetForTheWalk",
                                  0x0000000012345678,
                                  {{kFeatureOverride, 0x0000000012345678 | kTopologyExtensions},
                                   {kFeatureOverride, 0x0000000012345678}}},
                      BracketCase{"SetIsNotWritten", 0x0000000012345678 | kTopologyExtensions, {}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// 384 threads: positions from 256 on have no map bit, but still their entries, and nothing is
// written past an entry's map.
class ManyThreads : public AffinityEntries {
 protected:
  ManyThreads() : AffinityEntries({{2, 1, 12, 1, 8, 2}}) {}
};

TEST_F(ManyThreads, PositionsPastTheMapGetEntriesWithoutMapBits) {
  ASSERT_EQ(ApicIds.size(), 384u);
  SetCache(0, 1, 1, 2, 8, 64, 64);
  EXPECT_EQ(image::AddCacheEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Header()->TotalEntries, 192u);
  const uint8_t *Last = Entries() + 191 * 64;
  EXPECT_EQ(Read32(Last, 8), ApicIds[382]);
  for (size_t Byte = 12; Byte < 44; Byte++) EXPECT_EQ(Last[Byte], 0) << Byte;
  EXPECT_EQ(Read32(Last, 44), 32u);
  const uint8_t *At254 = Entries() + 127 * 64;
  EXPECT_EQ(At254[12 + 31], 0xC0);
}

// TLB figures: L1 2 MB 64 entries, L1 4 KB data 72 / instruction 64; L2 2 MB data code 6 with
// 2048 entries, instruction code 0xA with 200; L2 4 KB data code 6 with 2048, instruction code 4
// with 512; 1 GB level 1 code 0xF (stored as it stands) with 64, level 2 data code 0xC with 1024.
class TlbEntries : public AffinityEntries {
 protected:
  TlbEntries() {
    SetCaches();
    Firmware.CpuidLeaves[0x80000005] = {0xFF40FF40, 0xFF48FF40, 0, 0};
    Firmware.CpuidLeaves[0x80000006] = {6U << 28 | 2048U << 16 | 0xAU << 12 | 200, 6U << 28 | 2048U << 16 | 4U << 12 | 512,
                                        0, 0};
    Firmware.CpuidLeaves[0x80000019] = {0xFU << 28 | 64U << 16 | 0xFU << 12 | 64, 0xCU << 28 | 1024U << 16, 0, 0};
  }
};

TEST_F(TlbEntries, FourEntriesPerGroupWithDecodedLevelTwoFigures) {
  EXPECT_EQ(image::AddTlbEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Header()->TotalEntries, 32u);
  EXPECT_TRUE(Firmware.MsrWrites.empty());
  const uint8_t *L1Data = Entries();
  EXPECT_EQ(L1Data[0], 3);
  EXPECT_EQ(L1Data[1], 64);
  EXPECT_EQ(Read32(L1Data, 4), 0x0Bu);
  EXPECT_EQ(L1Data[12], 0x03);
  EXPECT_EQ(Read32(L1Data, 44), 1u);
  const std::vector<uint8_t> L1DataPairs = {0xFF, 64, 0, 0, 0xFF, 72, 0, 0, 0xF, 64, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(L1Data + 48, L1Data + 60), L1DataPairs);
  const uint8_t *L1Instruction = Entries() + 64;
  EXPECT_EQ(Read32(L1Instruction, 4), 0x0Du);
  const std::vector<uint8_t> L1InstructionPairs = {0, 0, 0xFF, 64, 0, 0, 0xFF, 64, 0, 0, 0xF, 64};
  EXPECT_EQ(std::vector<uint8_t>(L1Instruction + 48, L1Instruction + 60), L1InstructionPairs);
  const uint8_t *L2Data = Entries() + 2 * 64;
  EXPECT_EQ(Read32(L2Data, 4), 0x0Bu | 1u << 5 | 1u << 7 | 1u << 9);
  EXPECT_EQ(Read32(L2Data, 44), 2u);
  const std::vector<uint8_t> L2DataPairs = {8, 8, 0, 0, 8, 8, 0, 0, 64, 4, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(L2Data + 48, L2Data + 60), L2DataPairs);
  const uint8_t *L2Instruction = Entries() + 3 * 64;
  EXPECT_EQ(Read32(L2Instruction, 4), 0x0Du | 1u << 5);
  const std::vector<uint8_t> L2InstructionPairs = {0, 0, 32, 200, 0, 0, 4, 2, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<uint8_t>(L2Instruction + 48, L2Instruction + 60), L2InstructionPairs);
  EXPECT_TRUE(FatalStops().empty());
}

TEST_F(TlbEntries, ReservedAssociativityCodeStopsAndStoresZero) {
  Firmware.CpuidLeaves[0x80000006][1] = 7U << 28 | 2048U << 16 | 4U << 12 | 512;
  EXPECT_EQ(image::AddTlbEntries(nullptr, Header(), &Cursor), EFI_SUCCESS);
  EXPECT_EQ(Entries()[2 * 64 + 52], 0);
  ASSERT_FALSE(FatalStops().empty());
  EXPECT_EQ(FatalStops()[0], 0x30791303u);
}

TEST(AssociativityDecoding, CodesMapToWaysAndReservedCodesToZero) {
  const uint8_t Expected[16] = {0, 1, 2, 3, 4, 6, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0xFF};
  for (uint32_t Code = 0; Code < 16; Code++) {
    if (Code == 7 || Code == 9) continue;
    EXPECT_EQ(image::DecodeAssociativity(Code), Expected[Code]) << Code;
  }
}

struct MapCase {
  uint32_t First;
  uint32_t Count;
  std::vector<std::pair<size_t, uint8_t>> Bytes;
};

class SiblingMap : public ::testing::TestWithParam<MapCase> {};

TEST_P(SiblingMap, MarksExactlyTheGroupWithinTheMap) {
  uint8_t Map[32] = {};
  image::SetSiblingMap(Map, GetParam().First, GetParam().Count);
  uint8_t Expected[32] = {};
  for (const auto &[Byte, Value] : GetParam().Bytes) Expected[Byte] = Value;
  EXPECT_EQ(std::vector<uint8_t>(Map, Map + 32), std::vector<uint8_t>(Expected, Expected + 32));
}

INSTANTIATE_TEST_SUITE_P(
    Groups, SiblingMap,
    ::testing::Values(MapCase{0, 1, {{0, 0x01}}}, MapCase{2, 2, {{0, 0x0C}}}, MapCase{8, 8, {{1, 0xFF}}},
                      MapCase{16, 16, {{2, 0xFF}, {3, 0xFF}}}, MapCase{6, 3, {{0, 0xC0}, {1, 0x01}}},
                      MapCase{240, 32, {{30, 0xFF}, {31, 0xFF}}}, MapCase{255, 1, {{31, 0x80}}}, MapCase{256, 2, {}},
                      MapCase{4000, 4096, {}}));

}  // namespace
