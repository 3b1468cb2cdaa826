// Hook 0x11: the custom P-state 0 of the overclocking options. Worked examples of the frequency
// and voltage fields with the SMU messages they send and the value every core receives, the
// limits, the cases that end the handler early, and a frequency of 0.
#include <algorithm>
#include <functional>

#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/SmuServices.h"
#include "interfaces/SocServices.h"
#include "options/OptionHandlers.h"
#include "tests/driver/DriverFixture.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

namespace {

constexpr uint32_t kPstate0 = 0xC0010064;
constexpr uint32_t kFirst = 0x51, kVoltage = 0x52, kFrequency = 0x53;
// P-state 0 at reset: enabled, FID 0x7C, divisor 8, VID 0x48, current fields set.
constexpr uint64_t kResetPstate0 = 0x8000000049120878ULL;

struct SmuMessage {
  uint32_t Id;
  uint32_t Argument;
  bool operator==(const SmuMessage &) const = default;
};

struct FakeSoc {
  QORVEX_SOC_SERVICES_PROTOCOL Protocol{};
  SOC_OC_MESSAGE_TABLE Table{SOC_OC_MESSAGE_TABLE_REVISION, kFirst, kVoltage, kFrequency};
  bool NoTable = false;
  static EFI_STATUS EFIAPI Get(QORVEX_SOC_SERVICES_PROTOCOL *This, const SOC_OC_MESSAGE_TABLE **Table) {
    auto *Self = reinterpret_cast<FakeSoc *>(This);
    *Table = Self->NoTable ? nullptr : &Self->Table;
    return EFI_SUCCESS;
  }
  FakeSoc() { Protocol.GetOcMessageTable = Get; }
};

struct FakeSmu {
  QORVEX_SMU_SERVICES_PROTOCOL Protocol{};
  std::vector<SmuMessage> Messages;
  bool OtherWordsZero = true;
  static EFI_STATUS EFIAPI Request(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN Instance, UINT32 MessageId,
                                   const SMU_MESSAGE_ARGUMENTS *Arguments, SMU_MESSAGE_ARGUMENTS *) {
    auto *Self = reinterpret_cast<FakeSmu *>(This);
    Self->Messages.push_back({MessageId, Arguments->Word[0]});
    for (UINTN Word = 1; Word < SMU_MESSAGE_ARGUMENT_COUNT; Word++) Self->OtherWordsZero &= Arguments->Word[Word] == 0;
    Self->OtherWordsZero &= Instance == 0;
    return EFI_SUCCESS;
  }
  FakeSmu() { Protocol.SmuServiceRequest = Request; }
};

class CustomPstate0 : public DriverFixture {
 public:
  fake::FakeFirmware &TheFirmware() { return Firmware; }
  FakeSoc &TheSoc() { return Soc; }

 protected:
  CustomPstate0() : Mp(8) {
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
    Firmware.AddProtocol(gQorvexSocServicesProtocolGuid, &Soc.Protocol);
    Firmware.AddProtocol(gQorvexSmuServicesProtocolGuid, &Smu.Protocol);
    Firmware.Pcd[PcdCcxOcMode] = 1;
    Firmware.Msrs[kPstate0] = kResetPstate0;
  }

  void Request(uint32_t Frequency, uint32_t Vid, uint16_t FrequencyMax = 0, uint16_t VidMax = 0) {
    Firmware.Pcd[PcdCcxOcP0Frequency] = Frequency;
    Firmware.Pcd[PcdCcxOcP0Vid] = Vid;
    Firmware.Pcd[PcdCcxOcFrequencyMax] = FrequencyMax;
    Firmware.Pcd[PcdCcxOcVoltageMax] = VidMax;
  }

  uint32_t Run() { return image::CcxRellTavKtxDxeCustomPstates(0x11, nullptr, nullptr); }

  // The P-state 0 writes: the one handed to every AP, then the BSP's own.
  std::vector<uint64_t> Pstate0Writes() const {
    std::vector<uint64_t> Values;
    for (const auto &[Msr, Value] : Firmware.MsrWrites) {
      if (Msr == kPstate0) Values.push_back(Value);
    }
    return Values;
  }

  fake::FakeMpServices Mp;
  FakeSoc Soc;
  FakeSmu Smu;
};

struct WorkedExample {
  const char *Name;
  uint32_t Frequency, Vid;
  uint16_t FrequencyMax, VidMax;
  uint64_t Pstate0;
  std::vector<SmuMessage> Messages;
  std::vector<std::string> Lines;
};

class CustomPstate0Examples : public CustomPstate0, public ::testing::WithParamInterface<WorkedExample> {};

TEST_P(CustomPstate0Examples, EveryCoreGetsTheSameNewPstate0) {
  const WorkedExample &Example = GetParam();
  Request(Example.Frequency, Example.Vid, Example.FrequencyMax, Example.VidMax);
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(Smu.Messages, Example.Messages);
  EXPECT_TRUE(Smu.OtherWordsZero);
  ASSERT_EQ(Mp.Starts.size(), 1u);
  EXPECT_EQ(Mp.Starts[0].Call, "StartupAllAPs");
  EXPECT_EQ(Mp.Starts[0].ArgumentWord, Example.Pstate0);
  // Seven APs through MP services, then the BSP.
  EXPECT_EQ(Pstate0Writes(), std::vector<uint64_t>(8, Example.Pstate0));
  std::vector<std::string> Expected = {"CcxRellTavKtxDxeCustomPstates Options"};
  Expected.insert(Expected.end(), Example.Lines.begin(), Example.Lines.end());
  EXPECT_EQ(Lines(), Expected);
}

// FID in bits 7:0, divisor in 13:8, VID bits 7:0 in 21:14 and VID bit 8 in bit 32.
constexpr uint64_t WithFrequency(uint64_t Fid, uint64_t DfsId) {
  return (kResetPstate0 & ~0x3FFFULL) | DfsId << 8 | Fid;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CustomPstate0Examples,
    ::testing::Values(
        WorkedExample{"Frequency4000", 4000, 0xFFFFFFFF, 0, 0, WithFrequency(0xA0, 8),
                      {{kFirst, 0}, {kFrequency, 4000}},
                      {"  OC - Freq: 4000;  VID: FFFFFFFF"}},
        WorkedExample{"Frequency5000LimitedTo4800", 5000, 0xFFFFFFFF, 4800, 0, WithFrequency(192, 8),
                      {{kFirst, 0}, {kFrequency, 4800}},
                      {"  P0Freq 5000 exceeds OcFrequencyMax limit to 4800", "  OC - Freq: 4800;  VID: FFFFFFFF"}},
        WorkedExample{"Frequency3900GivesDivisorNot8", 3910, 0xFFFFFFFF, 0, 0, WithFrequency(156, 7),
                      {{kFirst, 0}, {kFrequency, 3910}},
                      {"  OC - Freq: 3910;  VID: FFFFFFFF"}},
        WorkedExample{"Vid1F0WithoutLimit", 0xFFFFFFFF, 0x1F0, 0, 0,
                      (kResetPstate0 & ~(0xFFULL << 14)) | 0xF0ULL << 14 | 1ULL << 32,
                      {{kFirst, 0}, {kVoltage, 0x1F0}},
                      {"  OC - Freq: -1;  VID: 1F0"}},
        WorkedExample{"VidLimitedToVoltageMax", 0xFFFFFFFF, 0x1F0, 0, 0x80,
                      (kResetPstate0 & ~(0xFFULL << 14)) | 0x80ULL << 14,
                      {{kFirst, 0}, {kVoltage, 0x80}},
                      {"  P0Vid 496 exceeds OcVoltageMax, limit to 128", "  OC - Freq: -1;  VID: 80"}},
        WorkedExample{"BothLeftAsTheyAre", 0xFFFFFFFF, 0xFFFFFFFF, 0, 0, kResetPstate0, {{kFirst, 0}},
                      {"  OC - Freq: -1;  VID: FFFFFFFF"}},
        WorkedExample{"FrequencyZeroIsLeftAlone", 0, 0x30, 0, 0, (kResetPstate0 & ~(0xFFULL << 14)) | 0x30ULL << 14,
                      {{kFirst, 0}, {kVoltage, 0x30}},
                      {"  P0Freq 0 is not a frequency, left as it is", "  OC - Freq: 0;  VID: 30"}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

struct EarlyEnd {
  const char *Name;
  std::function<void(CustomPstate0 &)> Arrange;
  std::vector<std::string> Lines;
  std::vector<uint32_t> FatalStops;
};

class CustomPstate0EarlyEnd : public CustomPstate0, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(CustomPstate0EarlyEnd, NoCoreIsChangedAndNothingIsSent) {
  Request(4000, 0x30);
  GetParam().Arrange(*this);
  EXPECT_EQ(Run(), 0u);
  EXPECT_TRUE(Smu.Messages.empty());
  EXPECT_TRUE(Pstate0Writes().empty());
  EXPECT_TRUE(Mp.Starts.empty());
  EXPECT_EQ(Lines(), GetParam().Lines);
  EXPECT_EQ(FatalStops(), GetParam().FatalStops);
}

const std::string kOptions = "CcxRellTavKtxDxeCustomPstates Options";

INSTANTIATE_TEST_SUITE_P(
    Cases, CustomPstate0EarlyEnd,
    ::testing::Values(
        EarlyEnd{"SkipCustomPstates", [](auto &T) { T.TheFirmware().Pcd[PcdCcxSkipCustomPstates] = 1; }, {}, {}},
        EarlyEnd{"RunningOnAnAp", [](auto &T) { T.TheFirmware().Msrs[0x1B] = 0xFEE00800; }, {}, {}},
        EarlyEnd{"OcModeNotOne", [](auto &T) { T.TheFirmware().Pcd[PcdCcxOcMode] = 2; }, {kOptions}, {}},
        EarlyEnd{"NoSocService",
                 [](auto &T) { T.TheFirmware().RemoveProtocol(gQorvexSocServicesProtocolGuid); },
                 {kOptions, "  ERROR: SOC service unavailable!"},
                 {0x308E0124}},
        EarlyEnd{"NoSmuService",
                 [](auto &T) { T.TheFirmware().RemoveProtocol(gQorvexSmuServicesProtocolGuid); },
                 {kOptions, "  ERROR: SMU service unavailable!"},
                 {}},
        EarlyEnd{"NoMessageTable", [](auto &T) { T.TheSoc().NoTable = true; }, {kOptions}, {0x308E0128}}),
    [](const auto &Info) { return std::string(Info.param.Name); });

// A message table that names another revision is stopped on, and then used as it stands: the
// platform's overclocking is not dropped for the revision word alone.
TEST_F(CustomPstate0, MessageTableOfAnotherRevisionStopsAndIsStillUsed) {
  Soc.Table.Revision = 2;
  Request(4000, 0x30);
  EXPECT_EQ(Run(), 0u);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x308E0129});
  EXPECT_EQ(Smu.Messages, (std::vector<SmuMessage>{{kFirst, 0}, {kVoltage, 0x30}, {kFrequency, 4000}}));
  const uint64_t Expected = (WithFrequency(0xA0, 8) & ~(0xFFULL << 14)) | 0x30ULL << 14;
  EXPECT_EQ(Pstate0Writes(), std::vector<uint64_t>(8, Expected));
}

EFI_STATUS EFIAPI RefuseAllAps(EFI_MP_SERVICES_PROTOCOL *, EFI_AP_PROCEDURE, BOOLEAN, EFI_EVENT, UINTN, VOID *,
                                UINTN **) {
  return EFI_DEVICE_ERROR;
}

// APs that cannot be started keep their P-state 0: the BSP still gets the new one, and the log
// says the APs did not, as it does for the other per-core work.
TEST_F(CustomPstate0, ApsThatCannotBeStartedAreWarnedAbout) {
  Mp.Protocol()->StartupAllAPs = RefuseAllAps;
  Request(4000, 0x30);
  EXPECT_EQ(Run(), 0u);
  const uint64_t Expected = (WithFrequency(0xA0, 8) & ~(0xFFULL << 14)) | 0x30ULL << 14;
  EXPECT_EQ(Pstate0Writes(), std::vector<uint64_t>{Expected}) << "the BSP's own write only";
  const std::vector<std::string> Logged = Lines();
  EXPECT_NE(std::find(Logged.begin(), Logged.end(),
                      "   WARNING! Failed to write the custom P-state 0 on the APs -- status = Device Error"),
            Logged.end());
}

}  // namespace
