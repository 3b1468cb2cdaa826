// The cache information records: the size encodings at their edges, the associativity table, the
// three levels from the cache leaves, and the level-3 sum over every complex of one and two
// sockets, shared out among the sockets.
#include <string>
#include <vector>

#include "interfaces/QorvexGuids.h"
#include "services/SmbiosServices.h"
#include "tests/driver/DriverFixture.h"
#include "tests/support/FakeFabric.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

namespace {

struct SizeRow {
  uint64_t SizeKiB;
  uint16_t Size16;
  uint32_t Size32;
};
class CacheSizeEncoding : public ::testing::TestWithParam<SizeRow> {};

TEST_P(CacheSizeEncoding, GivesBothForms) {
  const image::SMBIOS_CACHE_SIZE Size = image::SmbiosEncodeCacheSize(GetParam().SizeKiB);
  EXPECT_EQ(Size.Size16, GetParam().Size16);
  EXPECT_EQ(Size.Size32, GetParam().Size32);
}
INSTANTIATE_TEST_SUITE_P(Edges, CacheSizeEncoding,
                         ::testing::Values(SizeRow{0x7FFF, 0x7FFF, 0x00007FFF}, SizeRow{0x8000, 0x8200, 0x80000200},
                                           SizeRow{0x40000, 0x9000, 0x80001000},
                                           SizeRow{0x1FFBFF, 0xFFEF, 0x80007FEF},
                                           SizeRow{0x1FFC00, 0xFFFF, 0x80007FF0},
                                           SizeRow{0x200000, 0xFFFF, 0x80008000}, SizeRow{0, 0, 0},
                                           // 4 TiB no longer fits 32 bits of KiB; 128 TiB and more
                                           // is the largest the 32-bit form holds.
                                           SizeRow{0x100000000, 0xFFFF, 0x84000000},
                                           SizeRow{0x2000000000, 0xFFFF, 0xFFFFFFFF}));

struct WaysRow {
  uint32_t Ways;
  uint8_t Code;
};
class CacheAssociativity : public ::testing::TestWithParam<WaysRow> {};

TEST_P(CacheAssociativity, FollowsTheTable) { EXPECT_EQ(image::SmbiosAssociativity(GetParam().Ways), GetParam().Code); }
INSTANTIATE_TEST_SUITE_P(Table, CacheAssociativity,
                         ::testing::Values(WaysRow{1, 0x03}, WaysRow{2, 0x04}, WaysRow{4, 0x05}, WaysRow{8, 0x07},
                                           WaysRow{12, 0x09}, WaysRow{16, 0x08}, WaysRow{20, 0x0E}, WaysRow{24, 0x0A},
                                           WaysRow{32, 0x0B}, WaysRow{48, 0x0C}, WaysRow{64, 0x0D}, WaysRow{6, 0x02},
                                           WaysRow{128, 0x02}));

// A package of complexes of 8 cores with 2 threads: 32 KiB level-1 caches per core, 1 MiB level 2
// per core, and 32 MiB of 16-way level 3 per complex.
class SmbiosCaches : public DriverFixture {
 protected:
  explicit SmbiosCaches(fake::FabricShape Shape = {{1, 1, 8, 1, 8, 2}}, UINTN Processors = 128)
      : Fabric(Shape), Mp(Processors), Failing(Mp.Protocol()) {
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, &Failing.Protocol);
    Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
    Firmware.RemoveProtocol(gQorvexFabricSystemServicesProtocolGuid);
    Firmware.AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, Fabric.Topology());
    Firmware.AddProtocol(gQorvexFabricSystemServicesProtocolGuid, Fabric.System());
    Firmware.Msrs[0x1B] |= 1ULL << 8;  // the BSP
    Firmware.CpuidLeaves[0x80000008] = {0x3030, 0, 0x707F, 0};
    Firmware.CpuidLeaves[0x80000005] = {0, 0, 0x20080140, 0x20080140};
    Firmware.CpuidLeaves[0x80000006] = {0, 0, 0x04006140, 0x01009140};
    Firmware.CpuidSubLeaves[{0x8000001D, 0}] = {0x4121, 0x01C0003F, 0x3F, 0};
    Firmware.CpuidSubLeaves[{0x8000001D, 1}] = {0x4122, 0x01C0003F, 0x3F, 0};
    Firmware.CpuidSubLeaves[{0x8000001D, 2}] = {0x4143, 0x01C0003F, 0x7FF, 0};
    Firmware.CpuidSubLeaves[{0x8000001D, 3}] = {0x3C163, 0x03C0003F, 0x7FFF, 0};
  }
  std::vector<CCX_SMBIOS_CACHE_INFO> Get(EFI_STATUS Expected = EFI_SUCCESS) {
    std::vector<CCX_SMBIOS_CACHE_INFO> Info(3);
    EXPECT_EQ(image::GetCacheInfo(nullptr, 0, +Info.data()), Expected);
    return Info;
  }

  fake::FakeFabric Fabric;
  fake::FakeMpServices Mp;
  fake::FailingMp Failing;
};

TEST_F(SmbiosCaches, FillsTheThreeLevels) {
  const std::vector<CCX_SMBIOS_CACHE_INFO> Info = Get();
  // Level 1: 64 cores x (32 + 32) KiB = 4 MiB; level 2: 64 x 1 MiB; level 3: 8 x 32 MiB.
  EXPECT_EQ(+Info[0].MaximumCacheSize, 0x1000);
  EXPECT_EQ(+Info[0].MaximumCacheSize2, 0x1000u);
  EXPECT_EQ(+Info[1].MaximumCacheSize, 0x8400);
  EXPECT_EQ(+Info[1].MaximumCacheSize2, 0x80000400u);
  EXPECT_EQ(+Info[2].MaximumCacheSize, 0x9000);
  EXPECT_EQ(+Info[2].MaximumCacheSize2, 0x80001000u);
  const uint16_t Configuration[] = {0x0180, 0x0181, 0x0182};
  const uint8_t Associativity[] = {0x07, 0x07, 0x08};
  for (size_t Level = 0; Level < 3; Level++) {
    EXPECT_EQ(+Info[Level].CacheConfiguration, Configuration[Level]);
    EXPECT_EQ(+Info[Level].InstalledSize, +Info[Level].MaximumCacheSize);
    EXPECT_EQ(+Info[Level].InstalledSize2, +Info[Level].MaximumCacheSize2);
    EXPECT_EQ(+Info[Level].SupportedSramType, 0x10);
    EXPECT_EQ(+Info[Level].CurrentSramType, 0x10);
    EXPECT_EQ(+Info[Level].CacheSpeed, 1);
    EXPECT_EQ(+Info[Level].ErrorCorrectionType, 6);
    EXPECT_EQ(+Info[Level].SystemCacheType, 5);
    EXPECT_EQ(+Info[Level].Associativity, Associativity[Level]);
  }
}

TEST_F(SmbiosCaches, MeasuresEveryOtherComplexOnItsFirstProcessor) {
  Get();
  std::vector<UINTN> Expected;
  for (UINTN Complex = 1; Complex < 8; Complex++) Expected.push_back(Complex * 16);
  EXPECT_EQ(Mp.Started(), Expected);
}

TEST_F(SmbiosCaches, WithoutTheCacheLeafTheLevel3SizeComesFrom512KiBUnits) {
  Firmware.CpuidLeaves[0x80000006] = {0, 0, 0x04006140, 0x0100A140};
  EXPECT_EQ(+Get()[2].MaximumCacheSize2, 0x80000200u);  // 64 x 512 KiB = 32 MiB
  EXPECT_TRUE(Mp.Starts.empty());
}

// A level-3 size that can't be whole is still filled in as far as it was measured, and the answer
// says it is incomplete: sockets not counted, a complex not started, a topology count lost.
TEST_F(SmbiosCaches, AMissingSystemServiceCountsOneSocketAndAnswersAnError) {
  Firmware.RemoveProtocol(gQorvexFabricSystemServicesProtocolGuid);
  EXPECT_EQ(+Get(EFI_DEVICE_ERROR)[2].MaximumCacheSize, 0x9000);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30890312});
}

TEST_F(SmbiosCaches, AFailedSocketCountStopsKeepsTheWholeSumAndAnswersAnError) {
  Fabric.Fail("GetSystemInfo", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(+Get(EFI_DEVICE_ERROR)[2].MaximumCacheSize, 0x9000);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30890316});
  EXPECT_NE(Uart().find("  ERROR: GetCacheInfo: the level-3 size is incomplete"), std::string::npos);
}

TEST_F(SmbiosCaches, AComplexThatCannotBeStartedMakesTheSizeIncomplete) {
  Failing.FailingProcessors = {48};
  // Seven of the eight complexes: 7 x 32 MiB = 0x38000 KiB, in 64 KiB units 0x8E00.
  EXPECT_EQ(+Get(EFI_DEVICE_ERROR)[2].MaximumCacheSize, 0x8E00);
}

TEST_F(SmbiosCaches, ALostThreadCountMakesTheSizeIncomplete) {
  Fabric.Fail("GetNumberOfThreads", 64, EFI_DEVICE_ERROR);
  Get(EFI_DEVICE_ERROR);
}

TEST_F(SmbiosCaches, WithoutMpServicesOnlyTheBspsComplexIsCounted) {
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  EXPECT_EQ(+Get(EFI_DEVICE_ERROR)[2].MaximumCacheSize, 0x8200);  // 32 MiB in 64 KiB units
}

// A complex's cache of 4 TiB (2^32 sets of 16 ways of 64 bytes) is counted whole, not cut to 32 bits.
TEST_F(SmbiosCaches, ALevel3SizeBeyond32BitsOfKiBIsKeptWhole) {
  Firmware.CpuidSubLeaves[{0x8000001D, 3}] = {0x3C163, 0x03C0003F, 0xFFFFFFFF, 0};
  EXPECT_EQ(+Get()[2].MaximumCacheSize2, 0xA0000000u);  // 8 x 2^32 KiB in 64 KiB units
}

class SmbiosCachesTwoSockets : public SmbiosCaches {
 protected:
  SmbiosCachesTwoSockets() : SmbiosCaches({{2, 1, 8, 1, 8, 2}}, 256) {}
};

TEST_F(SmbiosCachesTwoSockets, SharesTheLevel3SumAmongTheSockets) {
  // Sixteen complexes of 32 MiB over two sockets: 8 x 32768 KiB = 0x40000 KiB a socket.
  EXPECT_EQ(+Get()[2].MaximumCacheSize, 0x9000);
  EXPECT_EQ(Mp.Started().size(), 15u);
}

TEST_F(SmbiosCaches, RefusesANullRecord) { EXPECT_EQ(image::GetCacheInfo(nullptr, 0, nullptr), EFI_INVALID_PARAMETER); }

}  // namespace
