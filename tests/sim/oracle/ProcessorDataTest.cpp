// The ACPI processor-object, SRAT and _CPC builders catch a wrong answer: boots in which one field
// of one answer of the driver's service is changed on its way to the builder, through a copy of the
// service record reinstalled in the protocol database, must end with the named difference. The
// figures the oracle works out are the ones worked out by hand from the registers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "driver/ImageDescriptor.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/CcxCppcServices.h"
#include "interfaces/CcxSratServices.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "tests/sim/oracle/ReplaceInstalled.h"
#include "sim/consumers/AcpiProcessorObjects.h"
#include "sim/consumers/CpcSsdtBuilder.h"
#include "sim/consumers/SratBuilder.h"
#include "sim/oracle/AcpiProcessorOracle.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

bool Contains(const std::vector<std::string> &Errors, const std::string &Sentence) {
  return std::find(Errors.begin(), Errors.end(), Sentence) != Errors.end();
}

std::string Joined(const std::vector<std::string> &Lines) {
  std::string Text;
  for (const std::string &Line : Lines) Text += Line + "\n";
  return Text;
}

// The one change a case makes, and the original services the wrappers call. The wrappers are
// EFIAPI functions and cannot capture, so they find both here.
QORVEX_CCX_ACPI_SERVICES_PROTOCOL *OriginalAcpi = nullptr;
QORVEX_CCX_SRAT_SERVICES_PROTOCOL *OriginalSrat = nullptr;
std::function<void(PSTATE_INFO_HEADER &)> ChangePstateInfo;
std::function<void(POWER_STATE_RECORD &)> ChangePowerState;
std::function<void(UINT32, UINT64 &)> ChangePower;
std::function<void(UINT8 *Start, UINT8 *End)> ChangeSrat;
CCX_CPPC_CALLBACK OriginalLowestSpeed = nullptr;
CCX_CPPC_TEMPLATE_ENTRY ChangedTemplate[CcxCppcElementCount + 1];

EFI_STATUS EFIAPI ChangedPstateInfo(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *, PSTATE_INFO_HEADER **Info) {
  const EFI_STATUS Status = OriginalAcpi->GetPstateInfo(OriginalAcpi, Info);
  if (!EFI_ERROR(Status)) ChangePstateInfo(**Info);
  return Status;
}

EFI_STATUS EFIAPI ChangedPowerState(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *, POWER_STATE_RECORD **State) {
  const EFI_STATUS Status = OriginalAcpi->GetPowerStateInfo(OriginalAcpi, State);
  if (!EFI_ERROR(Status)) ChangePowerState(**State);
  return Status;
}

UINT32 EFIAPI ChangedThreadsToCores(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *, UINT32 Threads) {
  return OriginalAcpi->ThreadsToCores(OriginalAcpi, Threads) + 1;
}

EFI_STATUS EFIAPI ChangedPstatePower(QORVEX_CCX_ACPI_SERVICES_PROTOCOL *, UINT32 Pstate, UINT64 *Power) {
  const EFI_STATUS Status = OriginalAcpi->GetPstatePower(OriginalAcpi, Pstate, Power);
  ChangePower(Pstate, *Power);
  return Status;
}

EFI_STATUS EFIAPI ChangedSratEntries(QORVEX_CCX_SRAT_SERVICES_PROTOCOL *, VOID *Header, UINT8 **Cursor) {
  UINT8 *const Start = *Cursor;
  const EFI_STATUS Status = OriginalSrat->AddProcessorAffinityEntries(OriginalSrat, Header, Cursor);
  ChangeSrat(Start, *Cursor);
  return Status;
}

UINT32 EFIAPI ChangedLowestSpeed(CCX_CPPC_BUILDER_CONTEXT *Context, UINT64 A, UINT64 B, UINT64 C) {
  return OriginalLowestSpeed(Context, A, B, C) + 1;
}

EFI_STATUS EFIAPI ChangedCppcTemplate(QORVEX_CCX_CPPC_SERVICES_PROTOCOL *, CONST CCX_CPPC_TEMPLATE_ENTRY **Template) {
  *Template = ChangedTemplate;
  return EFI_SUCCESS;
}

// What one boot's builders found, with the services changed as Prepare arranges.
struct Found {
  AcpiProcessorReport Acpi;
  SratReport Srat;
  CpcSsdtReport Cpc;
};

Found BootAndBuild(const Machine &Description, const std::function<void(Platform &)> &Prepare) {
  Found Result;
  BootOptions Options;
  QORVEX_CCX_ACPI_SERVICES_PROTOCOL AcpiCopy{};
  QORVEX_CCX_SRAT_SERVICES_PROTOCOL SratCopy{};
  Options.AfterBoot = [&](Platform &Machine) {
    OriginalAcpi = ReplaceInstalled(Machine, gQorvexCcxAcpiServicesProtocolGuid, AcpiCopy);
    OriginalSrat = ReplaceInstalled(Machine, gQorvexCcxSratServicesProtocolGuid, SratCopy);
    Prepare(Machine);
    if (ChangePstateInfo) AcpiCopy.GetPstateInfo = ChangedPstateInfo;
    if (ChangePowerState) AcpiCopy.GetPowerStateInfo = ChangedPowerState;
    if (ChangePower) AcpiCopy.GetPstatePower = ChangedPstatePower;
    if (ChangeSrat) SratCopy.AddProcessorAffinityEntries = ChangedSratEntries;
    Result.Acpi = BuildAcpiProcessorObjects(Machine);
    Result.Srat = BuildSrat(Machine);
    Result.Cpc = BuildCpcSsdt(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  ChangePstateInfo = nullptr;
  ChangePowerState = nullptr;
  ChangePower = nullptr;
  ChangeSrat = nullptr;
  return Result;
}

PSTATE_SOCKET_RECORD &FirstSocket(PSTATE_INFO_HEADER &Header) { return *PstateFirstSocketRecord(&Header); }

TEST(ProcessorDataOracle, UnchangedAnswersOfTheDefaultMachineAgree) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {});
  EXPECT_TRUE(Result.Acpi.Errors.empty()) << Joined(Result.Acpi.Errors);
  EXPECT_TRUE(Result.Srat.Errors.empty()) << Joined(Result.Srat.Errors);
  EXPECT_TRUE(Result.Cpc.Errors.empty()) << Joined(Result.Cpc.Errors);
  ASSERT_EQ(Result.Acpi.Sockets.size(), 1u);
  // P0 0x05120890, P1 0x04160878, P2 0x031A0858: FID 144, 120 and 88 at divisor 8; voltage
  // identifiers 0x48, 0x58 and 0x68; currents 20, 16 and 12 A.
  const std::vector<AcpiPstate> Pstates = {{0, 3600, 12100}, {1, 3000, 10960}, {2, 2200, 9180}};
  EXPECT_EQ(Result.Acpi.Sockets[0].Pstates, Pstates);
}

TEST(ProcessorDataOracle, ChangedPstateFrequencyIsNamed) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {
    ChangePstateInfo = [](PSTATE_INFO_HEADER &Header) { PstateSocketEntries(&FirstSocket(Header))[1].FrequencyInMHz += 100; };
  });
  EXPECT_TRUE(Contains(Result.Acpi.Errors, "GetPstateInfo socket 0 P-state entry 1 FrequencyInMHz: expected 3000, received 3100"))
      << Joined(Result.Acpi.Errors);
  EXPECT_EQ(Result.Acpi.Errors.size(), 1u) << Joined(Result.Acpi.Errors);
}

TEST(ProcessorDataOracle, ChangedApicIdAndRecordFieldsAreNamed) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {
    ChangePstateInfo = [](PSTATE_INFO_HEADER &Header) {
      FirstSocket(Header).ApicId[5] = 999;
      FirstSocket(Header).PolicyFlag = 1;
      // An entry after the enabled ones must stay zero.
      PstateSocketEntries(&FirstSocket(Header))[2].Valid = 0;
    };
  });
  for (const char *Sentence : {"GetPstateInfo socket record 0 ApicId[5]: expected 5, received 999",
                               "GetPstateInfo socket record 0 PolicyFlag: expected 0, received 1",
                               "GetPstateInfo socket 0 P-state entry 2 Valid: expected 1, received 0"}) {
    EXPECT_TRUE(Contains(Result.Acpi.Errors, Sentence)) << Sentence << " not in\n" << Joined(Result.Acpi.Errors);
  }
}

TEST(ProcessorDataOracle, ChangedPowerStateRecordIsNamed) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {
    ChangePowerState = [](POWER_STATE_RECORD &State) { State.PowerStateWord2 = 0x1234; };
  });
  EXPECT_TRUE(Contains(Result.Acpi.Errors,
                       "GetPowerStateInfo power-state record PowerStateWord2: expected 0, received 4660"))
      << Joined(Result.Acpi.Errors);
}

TEST(ProcessorDataOracle, ChangedPstatePowerIsNamed) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {
    ChangePower = [](UINT32 Pstate, UINT64 &Power) {
      if (Pstate == 2) Power++;
    };
  });
  EXPECT_TRUE(Contains(Result.Acpi.Errors, "GetPstatePower P-state 2 PowerInMilliwatts: expected 9180, received 9181"))
      << Joined(Result.Acpi.Errors);
}

TEST(ProcessorDataOracle, ChangedThreadsToCoresIsNamed) {
  Found Result;
  BootOptions Options;
  QORVEX_CCX_ACPI_SERVICES_PROTOCOL Copy{};
  Options.AfterBoot = [&](Platform &Machine) {
    OriginalAcpi = ReplaceInstalled(Machine, gQorvexCcxAcpiServicesProtocolGuid, Copy);
    Copy.ThreadsToCores = ChangedThreadsToCores;
    Result.Acpi = BuildAcpiProcessorObjects(Machine);
  };
  RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  EXPECT_TRUE(Contains(Result.Acpi.Errors, "ThreadsToCores socket 0 (128 threads) cores: expected 64, received 65"))
      << Joined(Result.Acpi.Errors);
}

// The overclocking machine's P-state 0 asks for 5000 MHz, limited to 4800 by both the handler's
// maximum and the part's limit register (48 steps of 100 MHz), at voltage identifier 0x1A0.
TEST(ProcessorDataOracle, OverclockedPstate0IsTheCustomOne) {
  const Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/overclock.json");
  std::optional<ExpectedPstateInfo> Expected;
  Found Result;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    Expected = ExpectedAcpiPstateInfo(Machine);
    Result.Acpi = BuildAcpiProcessorObjects(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  ASSERT_TRUE(Expected.has_value());
  ASSERT_FALSE(Expected->Pstates.empty());
  EXPECT_EQ(Expected->Pstates[0].FrequencyMHz, 4800u);
  EXPECT_EQ(Expected->Pstates[0].VoltageUv, (0x1A0u + 49) * 5000);
  // Current 20 A at divisor 0: 2325000 µV / 10 × 20 / 100.
  EXPECT_EQ(Expected->Pstates[0].PowerMw, 46500u);
  EXPECT_TRUE(Result.Acpi.Errors.empty()) << Joined(Result.Acpi.Errors);
}

// With the requested frequency equal to its "auto" value the figures take no override, so P-state
// 0 reports what its register holds: the custom 4800 MHz once the overclocking trigger arrived,
// the reset value's 3600 MHz when it never does.
TEST(ProcessorDataOracle, Pstate0FollowsWhetherTheCustomPstateWasWritten) {
  for (const bool TriggerArrives : {true, false}) {
    Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/overclock.json");
    Description.Pcd[PcdCcxOcP0FrequencyAuto] = 5000;
    if (!TriggerArrives) Description.Siblings["oc_trigger"].When = SiblingArrival::Absent;
    const Found Result = BootAndBuild(Description, [](Platform &) {});
    EXPECT_TRUE(Result.Acpi.Errors.empty()) << Joined(Result.Acpi.Errors);
    ASSERT_FALSE(Result.Acpi.Sockets.empty());
    ASSERT_FALSE(Result.Acpi.Sockets[0].Pstates.empty());
    EXPECT_EQ(Result.Acpi.Sockets[0].Pstates[0].FrequencyMHz, TriggerArrives ? 4800u : 3600u);
  }
}

// Without the configuration database every item reads as 0, so the power-state words the machine
// sets are expected only while its protocol is there.
TEST(ProcessorDataOracle, PowerStateWordsNeedTheConfigurationDatabase) {
  for (const bool DatabaseThere : {true, false}) {
    Machine Description = DefaultMachine();
    Description.Pcd[PcdCcxPowerStateWord1] = 0x55;
    if (!DatabaseThere) Description.Siblings["pcd"].When = SiblingArrival::Absent;
    const Found Result = BootAndBuild(Description, [](Platform &) {});
    EXPECT_TRUE(Result.Acpi.Errors.empty()) << Joined(Result.Acpi.Errors);
    ASSERT_TRUE(Result.Acpi.PowerState.has_value());
    EXPECT_EQ(Result.Acpi.PowerState->Words[0], DatabaseThere ? 0x55 : 0);
  }
}

TEST(ProcessorDataOracle, ChangedSratDomainIsNamed) {
  const Found Result = BootAndBuild(DefaultMachine(), [](Platform &) {
    ChangeSrat = [](UINT8 *Start, UINT8 *) {
      reinterpret_cast<EFI_ACPI_SRAT_PROCESSOR_LOCAL_APIC_AFFINITY *>(Start)[3].ProximityDomain7To0 = 7;
    };
  });
  EXPECT_TRUE(Contains(Result.Srat.Errors,
                       "AddProcessorAffinityEntries entry 3 (socket 0 die 0 complex die 0 complex 0 core 1 thread 1) "
                       "ProximityDomain: expected 0, received 7"))
      << Joined(Result.Srat.Errors);
  EXPECT_EQ(Result.Srat.Errors.size(), 1u) << Joined(Result.Srat.Errors);
}

// A thread-count query that fails near the end of the SRAT walk: the service reports the failure,
// with the entries of the threads it met, and that is the machine's own answer, not a wrong one.
TEST(ProcessorDataOracle, SratWalkCutShortByTheTopologyServiceIsAnAnswerOfTheMachine) {
  uint64_t AfterSrat = 0;
  BootAndBuild(DefaultMachine(), [&AfterSrat](Platform &Machine) {
    ChangeSrat = [&AfterSrat, &Machine](UINT8 *, UINT8 *) {
      AfterSrat = Machine.Faults().Calls("fabric_topology", "GetNumberOfThreads");
    };
  });
  ASSERT_GT(AfterSrat, 20u);
  Machine Description = DefaultMachine();
  Description.Faults.push_back({"fabric_topology", "GetNumberOfThreads", AfterSrat - 20, EFI_DEVICE_ERROR});
  const Found Result = BootAndBuild(Description, [](Platform &) {});
  EXPECT_TRUE(Result.Srat.Errors.empty()) << Joined(Result.Srat.Errors);
  EXPECT_EQ(Result.Srat.Status, EFI_DEVICE_ERROR);
  EXPECT_GT(Result.Srat.Processors.size(), 0u);
  EXPECT_LT(Result.Srat.Processors.size(), 128u);
}

// Two sockets in x2APIC mode: the structures are the 24-byte form, with each socket's domain.
TEST(ProcessorDataOracle, ChangedX2ApicFlagsAreNamed) {
  Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/two-socket.json");
  Description.Pcd[PcdCcxApicMode] = 2;
  const Found Clean = BootAndBuild(Description, [](Platform &) {});
  EXPECT_TRUE(Clean.Srat.Errors.empty()) << Joined(Clean.Srat.Errors);
  ASSERT_EQ(Clean.Srat.Processors.size(), 64u);
  EXPECT_EQ(Clean.Srat.Processors[40].Domain, 1u);
  const Found Result = BootAndBuild(Description, [](Platform &) {
    ChangeSrat = [](UINT8 *Start, UINT8 *) {
      reinterpret_cast<EFI_ACPI_SRAT_PROCESSOR_X2APIC_AFFINITY *>(Start)[33].Flags = 0;
    };
  });
  EXPECT_TRUE(Contains(Result.Srat.Errors,
                       "AddProcessorAffinityEntries entry 33 (socket 1 die 0 complex die 0 complex 0 core 0 thread 1) "
                       "Flags: expected 1, received 0"))
      << Joined(Result.Srat.Errors);
}

TEST(ProcessorDataOracle, ChangedCppcTemplateAndCallbackAreNamed) {
  Found Result;
  BootOptions Options;
  QORVEX_CCX_CPPC_SERVICES_PROTOCOL Copy{};
  Options.AfterBoot = [&](Platform &Machine) {
    QORVEX_CCX_CPPC_SERVICES_PROTOCOL *Original = ReplaceInstalled(Machine, gQorvexCcxCppcServicesProtocolGuid, Copy);
    ASSERT_NE(Original, nullptr);
    const CCX_CPPC_TEMPLATE_ENTRY *Template = nullptr;
    ASSERT_EQ(Original->GetCppcTemplate(Original, &Template), EFI_SUCCESS);
    std::copy(Template, Template + CcxCppcElementCount + 1, ChangedTemplate);
    ChangedTemplate[CcxCppcDesiredPerformanceRegister].Register.RegisterBitOffset++;
    OriginalLowestSpeed = Template[CcxCppcLowestFrequency].Callback;
    ChangedTemplate[CcxCppcLowestFrequency].Callback = ChangedLowestSpeed;
    Copy.GetCppcTemplate = ChangedCppcTemplate;
    Result.Cpc = BuildCpcSsdt(Machine);
  };
  RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  for (const char *Sentence : {"GetCppcTemplate entry 5 RegisterBitOffset: expected 16, received 17",
                               "_CPC callback element 19 thread 0 Value: expected 400, received 401",
                               "_CPC callback element 19: 127 more threads differ"}) {
    EXPECT_TRUE(Contains(Result.Cpc.Errors, Sentence)) << Sentence << " not in\n" << Joined(Result.Cpc.Errors);
  }
  EXPECT_EQ(Result.Cpc.Errors.size(), 3u) << Joined(Result.Cpc.Errors);
}

// The figures of single P-state definitions, as the registers define them.
struct DecodeCase {
  const char *Name;
  uint64_t Definition;
  OverclockItems Items;
  uint64_t LimitRegister;
  uint64_t FrequencyMHz;
  uint64_t VoltageUv;
  uint64_t PowerMw;
};

class PstateDecoding : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(PstateDecoding, GivesTheRegistersFigures) {
  const DecodeCase &Case = GetParam();
  PstateRegisters Registers;
  Registers.Definitions[0] = Case.Definition;
  Registers.FrequencyLimit = Case.LimitRegister;
  const std::optional<PstateFigures> Figures = DecodePstate(0, Registers, Case.Items);
  ASSERT_TRUE(Figures.has_value());
  EXPECT_EQ(Figures->FrequencyMHz, Case.FrequencyMHz);
  EXPECT_EQ(Figures->VoltageUv, Case.VoltageUv);
  EXPECT_EQ(Figures->PowerMw, Case.PowerMw);
}

constexpr uint64_t kEnabled = 1ULL << 63;
// Voltage identifier 0x30 with 100 A at divisor 0.
constexpr uint64_t kVid30Idd100 = 0x30ULL << 14 | 100ULL << 22;

INSTANTIATE_TEST_SUITE_P(
    Registers, PstateDecoding,
    ::testing::Values(DecodeCase{"Fid7CDivisor8", kEnabled | 0x087C | kVid30Idd100, {}, 0, 3100, 485000, 48500},
                      DecodeCase{"Fid7CDivisor16", kEnabled | 0x107C, {}, 0, 1550, 0, 0},
                      DecodeCase{"OddDivisor9", kEnabled | 0x095A, {}, 0, 2000, 0, 0},
                      DecodeCase{"DivisorZeroStopsTheClock", kEnabled | 0x007C, {}, 0, 0, 0, 0},
                      DecodeCase{"UndefinedDivisorCountsAsOne", kEnabled | 0x037C, {}, 0, 3100, 0, 0},
                      DecodeCase{"UndefinedCurrentDivisorGivesNoPower", kEnabled | 0x087C | kVid30Idd100 | 3ULL << 30,
                                 {}, 0, 3100, 485000, 0},
                      DecodeCase{"OverclockLimitedByThePart", kEnabled | 0x087C,
                                 OverclockItems{1, false, 6000, 0, 0, 0, 0, 0}, 57ULL << 15 | 1ULL << 30, 5750, 0, 0},
                      DecodeCase{"OverclockAtAutoIsNoRequest", kEnabled | 0x087C,
                                 OverclockItems{1, false, 4000, 0x30, 4000, 0x30, 0, 0}, 0x180000, 3100, 0, 0}),
    [](const ::testing::TestParamInfo<DecodeCase> &Info) { return std::string(Info.param.Name); });

TEST(CustomPstate0, TakesTheLimitedFrequencyAndVoltage) {
  OverclockItems Items;
  Items.P0Frequency = 5000;
  Items.FrequencyMax = 4800;
  Items.P0Vid = 0x1F0;
  const uint64_t Definition = CustomPstate0(kEnabled, Items);
  EXPECT_EQ(Msr::PstateDef::CpuFid::Get(Definition), 192u);
  EXPECT_EQ(Msr::PstateDef::CpuDfsId::Get(Definition), 8u);
  EXPECT_EQ(Msr::PstateDef::CpuVidLow::Get(Definition), 0xF0u);
  EXPECT_EQ(Msr::PstateDef::CpuVidHigh::Get(Definition), 1u);
  Items.P0Frequency = 0xFFFFFFFF;
  Items.P0Vid = 0xFFFFFFFF;
  EXPECT_EQ(CustomPstate0(kEnabled | 0x1234, Items), kEnabled | 0x1234);
}

}  // namespace
}  // namespace sim
