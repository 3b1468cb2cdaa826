// The processor information record: every field at its offset, the processor-upgrade table, the
// core-count walk over complexes with the SOC service's per-die masks, the two fallbacks, the
// multithreading flag from the SOC and SMU services, the voltage byte and the name string.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "interfaces/QorvexGuids.h"
#include "services/SmbiosServices.h"
#include "tests/driver/DriverFixture.h"
#include "tests/services/SiblingFakes.h"
#include "tests/support/FakeFabric.h"

namespace {

constexpr uint32_t kPstateDef0 = 0xC0010064;

// An enabled P-state of FID 0x90, divisor 8 (3600 MHz) and the voltage identifier given.
uint64_t Pstate0(uint32_t Vid) { return 1ULL << 63 | uint64_t(Vid >> 8 & 1) << 32 | uint64_t(Vid & 0xFF) << 14 | 8 << 8 | 0x90; }

struct UpgradeRow {
  uint32_t Eax;
  uint32_t Ebx;
  uint8_t Upgrade;
};
class ProcessorUpgrade : public ::testing::TestWithParam<UpgradeRow> {};

TEST_P(ProcessorUpgrade, FollowsTheFamilyModelAndPackageTable) {
  EXPECT_EQ(image::SmbiosProcessorUpgrade(GetParam().Eax, GetParam().Ebx), GetParam().Upgrade);
}
// 0x00A70F00: base family 0xF + extended family 0xA = 0x19, extended model 7.
INSTANTIATE_TEST_SUITE_P(Rows, ProcessorUpgrade,
                         ::testing::Values(UpgradeRow{0x00A70F00, 0x00000000, 0x49}, UpgradeRow{0x00A70F00, 0x10000000, 0x06},
                                           UpgradeRow{0x00A70F00, 0x40000000, 0x06}, UpgradeRow{0x00A70F00, 0x50000000, 0x06},
                                           UpgradeRow{0x00A70F00, 0x20000000, 0x02}, UpgradeRow{0x00A70F00, 0x80000000, 0x02},
                                           // Family 0x19 of another model, and another family.
                                           UpgradeRow{0x00A60F00, 0x00000000, 0x49}, UpgradeRow{0x00A60F00, 0x40000000, 0x4A},
                                           UpgradeRow{0x00B00F10, 0x80000000, 0x4B}, UpgradeRow{0x00B00F10, 0x10000000, 0x01},
                                           UpgradeRow{0x00B00F10, 0x50000000, 0x01}));

class SmbiosProcessor : public DriverFixture {
 protected:
  explicit SmbiosProcessor(fake::FabricShape Shape = {{1, 1, 3, 1, 8, 2}}) : Fabric(Shape) {
    Firmware.AddProtocol(gQorvexSocServicesProtocolGuid, Soc.Protocol());
    Firmware.AddProtocol(gQorvexSmuServicesProtocolGuid, Smu.Protocol());
    Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
    Firmware.AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, Fabric.Topology());
    Firmware.CpuidLeaves[1] = {0x00A70F52, 0, 0, 0x178BFBFF};
    Firmware.CpuidLeaves[0x80000001] = {0x00A70F52, 0x40000000, 0, 0};
    Firmware.CpuidLeaves[0x80000008] = {0x3030, 0, 0x703F, 0};
    Firmware.CpuidLeaves[0x8000001E] = {0, 0x100, 0, 0};
    Firmware.Msrs[kPstateDef0] = Pstate0(0xAB);  // 1.10 V
    const char Name[] = "Qorvex Rell 24-Core Processor";
    for (uint32_t Register = 0; Register < 6; Register++) {
      uint64_t Value = 0;
      for (uint32_t Byte = 0; Byte < 8; Byte++) {
        const size_t At = Register * 8 + Byte;
        Value |= uint64_t(At < sizeof(Name) ? uint8_t(Name[At]) : 0) << (8 * Byte);
      }
      Firmware.Msrs[0xC0010030 + Register] = Value;
    }
    // Three complex dies of 8 cores; complex die 1 has two cores disabled and the topology runs 6.
    fake::FakeSoc::Die Die;
    Die.PresentMask = 0x7;
    Die.CoreDisableMasks[1] = 0xC0;
    Soc.Dies[0] = Die;
    Fabric.Override(4, {0, 0, 1, 0}, 6);
  }
  CCX_SMBIOS_PROCESSOR_INFO Get(UINTN Socket = 0, EFI_STATUS Expected = EFI_SUCCESS) {
    CCX_SMBIOS_PROCESSOR_INFO Info;
    std::memset(&Info, 0xEE, sizeof(Info));
    EXPECT_EQ(image::GetProcessorInfo(nullptr, Socket, &Info, nullptr), Expected);
    return Info;
  }

  fake::FakeFabric Fabric;
  fake::FakeSoc Soc;
  fake::FakeSmu Smu;
};

TEST_F(SmbiosProcessor, FillsEveryFieldAtItsOffset) {
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  uint8_t Bytes[sizeof(Info)];
  std::memcpy(Bytes, &Info, sizeof(Info));
  auto U16 = [&](size_t At) { return uint16_t(Bytes[At] | Bytes[At + 1] << 8); };
  auto U32 = [&](size_t At) { uint32_t V; std::memcpy(&V, Bytes + At, 4); return V; };
  EXPECT_EQ(Bytes[0], 3);
  EXPECT_EQ(U16(1), 0x6B);
  EXPECT_EQ(U32(3), 0x00A70F52u);
  EXPECT_EQ(U32(7), 0x178BFBFFu);
  EXPECT_EQ(Bytes[11], 0x8B);
  EXPECT_EQ(U16(12), 100);
  EXPECT_EQ(U16(14), 0xB4 * 25);
  EXPECT_EQ(U16(16), 3600);
  EXPECT_EQ(Bytes[18], 0x41);
  EXPECT_EQ(Bytes[19], 0x06);  // family 0x19, model 7, package type 4
  EXPECT_EQ(U16(20), 22);
  EXPECT_EQ(U16(22), 22);
  EXPECT_EQ(U16(24), 44);
  EXPECT_EQ(U16(26), 0xFC);
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(Bytes + 28)), "Qorvex Rell 24-Core Processor");
  EXPECT_EQ(std::string(reinterpret_cast<const char *>(Bytes + 76)), "Qorvex, Inc.");
  for (size_t At = 76 + 12; At < 105; At++) EXPECT_EQ(Bytes[At], 0) << At;
  EXPECT_EQ(Soc.DieQueries, std::vector<uint32_t>{0});
  EXPECT_EQ(Smu.Reads, std::vector<uint32_t>{0x3008101C});
}

TEST_F(SmbiosProcessor, SkipsDisabledComplexDiesAndStopsWhenMoreCoresRunThanCounted) {
  // Complex die 2 is disabled, yet the topology still runs its 8 cores.
  Soc.Dies[0].DisableMask = 0x4;
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  EXPECT_EQ(+Info.CoreCount, 8 + 6);
  EXPECT_EQ(+Info.CoreEnabled, 22);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x307E0291});
}

// A complex whose cores can't be counted leaves the enabled count short: its stop, and the record
// filled as far as it goes, but the answer is an error rather than success.
TEST_F(SmbiosProcessor, AFailedCoreCountRaisesItsStopAndIsAnError) {
  Fabric.Fail("GetNumberOfCores", 2, EFI_DEVICE_ERROR);
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(0, EFI_DEVICE_ERROR);
  EXPECT_EQ(+Info.CoreCount, 22);
  EXPECT_EQ(+Info.CoreEnabled, 16);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x307E0289});
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(),
                      "  ERROR: GetProcessorInfo: fabric topology core count failed for socket 0, die 0, complex die "
                      "1, complex 0: Device Error"),
            Lines.end())
      << Uart();
}

// The walk over the complexes ends on a failed count query: the complexes after it are not
// counted, which the service reports with the place the walk ended.
TEST_F(SmbiosProcessor, AWalkCutByAFailedQueryIsAnError) {
  Fabric.Fail("GetNumberOfComplexes", 2, EFI_DEVICE_ERROR);
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(0, EFI_DEVICE_ERROR);
  EXPECT_EQ(+Info.CoreEnabled, 8 + 6);
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(),
                      "  ERROR: GetProcessorInfo: fabric topology count query failed after socket 0, die 0, complex "
                      "die 1, complex 0: Device Error"),
            Lines.end())
      << Uart();
}

// A topology protocol installed without a record has no counts to give: nothing is called through
// it, the package counts stand in, and the answer says the walk could not be made.
TEST_F(SmbiosProcessor, ATopologyProtocolWithoutARecordIsNotCalledThrough) {
  Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
  Firmware.AddProtocol(gQorvexFabricTopologyServicesProtocolGuid, nullptr);
  Soc.PackagePresentMask = 0x7;
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(0, EFI_DEVICE_ERROR);
  EXPECT_EQ(+Info.CoreCount, 8 * 3);
  EXPECT_TRUE(Fabric.Queries.empty());
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(),
                      "  ERROR: GetProcessorInfo: fabric topology count query failed before the first position: "
                      "Invalid Parameter"),
            Lines.end())
      << Uart();
}

struct ThreadRow {
  const char *Name;
  BOOLEAN SocSmt;
  uint32_t SmuValue;
  uint16_t Threads;
};
class SmbiosThreads : public SmbiosProcessor, public ::testing::WithParamInterface<ThreadRow> {};

TEST_P(SmbiosThreads, DoubleTheEnabledCoresOnlyWithMultithreadingOn) {
  Soc.Smt = GetParam().SocSmt;
  Smu.Registers[0x3008101C] = GetParam().SmuValue;
  EXPECT_EQ(+Get().ThreadCount, GetParam().Threads);
}
INSTANTIATE_TEST_SUITE_P(Rows, SmbiosThreads,
                         ::testing::Values(ThreadRow{"BothOn", TRUE, 0x0, 44}, ThreadRow{"SocSaysOff", FALSE, 0x0, 22},
                                           ThreadRow{"SmuBit8Set", TRUE, 0x100, 22},
                                           ThreadRow{"OtherSmuBits", TRUE, 0xFEFF, 44}),
                         [](const ::testing::TestParamInfo<ThreadRow> &Info) { return std::string(Info.param.Name); });

TEST_F(SmbiosProcessor, AFailedSmuReadLeavesMultithreadingOn) {
  Smu.Answer = EFI_DEVICE_ERROR;
  Smu.Registers[0x3008101C] = 0x100;
  EXPECT_EQ(+Get().ThreadCount, 44);
}

TEST_F(SmbiosProcessor, ASocketTheTopologyNeverReportsTakesThePackageCounts) {
  Soc.PackagePresentMask = 0x7;
  Soc.PackageCoreDisableMask = 0x5;
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(5);
  EXPECT_EQ(+Info.CoreCount, (8 - 2) * 3);
  EXPECT_EQ(+Info.CoreEnabled, (8 - 2) * 3);
  EXPECT_EQ(+Info.ThreadCount, 36);
  EXPECT_TRUE(Soc.DieQueries.empty());
}

TEST_F(SmbiosProcessor, ADieTheSocServiceDoesNotKnowStopsTheWalk) {
  Soc.Dies.clear();
  Soc.PackagePresentMask = 0x3;
  Soc.Smt = FALSE;
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  EXPECT_EQ(+Info.CoreCount, 16);
  EXPECT_EQ(+Info.CoreEnabled, 16);
  EXPECT_EQ(+Info.ThreadCount, 16);
  EXPECT_TRUE(FatalStops().empty());
}

struct CpuidFallbackRow {
  uint32_t ThreadsPerCore;
  uint16_t Cores;
  uint16_t Threads;
};
class SmbiosCpuidFallback : public SmbiosProcessor, public ::testing::WithParamInterface<CpuidFallbackRow> {};

TEST_P(SmbiosCpuidFallback, DividesThePackageThreadsByThreadsPerCore) {
  Soc.Dies.clear();
  Soc.CoreCountStatus = EFI_UNSUPPORTED;
  Firmware.CpuidLeaves[0x8000001E] = {0, (GetParam().ThreadsPerCore - 1) << 8, 0, 0};
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  EXPECT_EQ(+Info.CoreCount, GetParam().Cores);
  EXPECT_EQ(+Info.CoreEnabled, GetParam().Cores);
  EXPECT_EQ(+Info.ThreadCount, GetParam().Threads);
}
// CPUID 0x80000008 ECX[7:0] = 0x3F: 64 threads in the package.
INSTANTIATE_TEST_SUITE_P(Rows, SmbiosCpuidFallback,
                         ::testing::Values(CpuidFallbackRow{2, 32, 64}, CpuidFallbackRow{1, 64, 64}));

TEST_F(SmbiosProcessor, WithoutTheSocServiceTheMaximumSpeedIsTheCurrentOne) {
  Firmware.RemoveProtocol(gQorvexSocServicesProtocolGuid);
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  EXPECT_EQ(+Info.MaxSpeed, 3600);
  // Without per-die facts nor package counts, the processor's own thread count is all there is.
  EXPECT_EQ(+Info.CoreCount, 32);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x307E0178});
}

TEST_F(SmbiosProcessor, AFailedMaximumFrequencyQueryFallsBackToTheCurrentSpeed) {
  Soc.MaxFidStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(+Get().MaxSpeed, 3600);
}

TEST_F(SmbiosProcessor, AMissingSmuServiceStopsWithItsCode) {
  Firmware.RemoveProtocol(gQorvexSmuServicesProtocolGuid);
  EXPECT_EQ(+Get().ThreadCount, 44);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x307E0181});
}

struct VoltageRow {
  uint32_t Vid;
  uint8_t Byte;
};
class SmbiosVoltage : public SmbiosProcessor, public ::testing::WithParamInterface<VoltageRow> {};

TEST_P(SmbiosVoltage, IsTenthsOfAVoltRoundedWithBit7Set) {
  Firmware.Msrs[kPstateDef0] = Pstate0(GetParam().Vid);
  EXPECT_EQ(+Get().Voltage, GetParam().Byte);
}
// VID v is (v + 49) x 5 mV: 0xAB 1.100 V, 0x9F 1.040 V, 0xAA 1.095 V (rounds up), 0x5F 0.720 V.
INSTANTIATE_TEST_SUITE_P(Rows, SmbiosVoltage,
                         ::testing::Values(VoltageRow{0xAB, 0x8B}, VoltageRow{0x9F, 0x8A}, VoltageRow{0xAA, 0x8B},
                                           VoltageRow{0x5F, 0x87}));

TEST_F(SmbiosProcessor, APstate0ThatIsOffReportsNoSpeed) {
  Firmware.Msrs[kPstateDef0] = 0;
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get();
  EXPECT_EQ(+Info.CurrentSpeed, 0);
  EXPECT_EQ(+Info.Voltage, 0x80);
}

class SmbiosTwoSockets : public SmbiosProcessor {
 protected:
  SmbiosTwoSockets() : SmbiosProcessor({{2, 1, 2, 1, 8, 2}}) {
    fake::FakeSoc::Die Die;
    Die.PresentMask = 0x3;
    Soc.Dies[0] = Die;
    Die.CoreDisableMasks[0] = 0x1;
    Soc.Dies[4] = Die;
    Fabric.Override(4, {1, 0, 0, 0}, 7);
  }
};

TEST_F(SmbiosTwoSockets, CountsOnlyTheAskedSocketsDies) {
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(1);
  EXPECT_EQ(+Info.CoreCount, 15);
  EXPECT_EQ(+Info.CoreEnabled, 15);
  EXPECT_EQ(Soc.DieQueries, std::vector<uint32_t>{4});
}

// The walk goes on through every socket; a count lost after the asked socket's complexes leaves
// that socket's record whole. A walk asks the complex count once per complex die (twice a socket)
// and the socket count twice (on leaving each socket).
TEST_F(SmbiosTwoSockets, ACountLostInALaterSocketLeavesTheAskedSocketWhole) {
  const CCX_SMBIOS_PROCESSOR_INFO Clean = Get(0);
  Fabric.Fail("GetNumberOfComplexes", 7, EFI_DEVICE_ERROR);  // the second walk's first query of socket 1
  const CCX_SMBIOS_PROCESSOR_INFO Info = Get(0);
  EXPECT_EQ(std::memcmp(&Info, &Clean, sizeof(Info)), 0);
}

TEST_F(SmbiosTwoSockets, ALostSocketCountIsAnErrorOnlyForTheSocketsNotReached) {
  const CCX_SMBIOS_PROCESSOR_INFO Clean = Get(0);
  Fabric.Fail("GetNumberOfSockets", 3, EFI_DEVICE_ERROR);  // asked on leaving socket 0
  EXPECT_EQ(+Get(0).CoreEnabled, +Clean.CoreEnabled);
  Fabric.Fail("GetNumberOfSockets", 4, EFI_DEVICE_ERROR);  // the second ended on the third
  Get(1, EFI_DEVICE_ERROR);
}

TEST_F(SmbiosProcessor, RefusesANullRecord) {
  EXPECT_EQ(image::GetProcessorInfo(nullptr, 0, nullptr, nullptr), EFI_INVALID_PARAMETER);
}

}  // namespace
