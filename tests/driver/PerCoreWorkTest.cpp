// The per-core work once MP services are there: SMRAM access, the SNP MSRs captured on the BSP and
// handed to every AP, each socket's PPIN read on the socket's first processor, and hook 0x03; and
// the three procedures it runs on the APs.
#include "driver/MpServicesWork.h"

#include <algorithm>
#include <string>
#include <vector>

#include "interfaces/PlatformConfig.h"
#include "tests/driver/DriverFixture.h"
#include "tests/support/FakeFabric.h"
#include "tests/support/FakeMpServices.h"
#include "uefi/StandardGuids.h"

namespace {

constexpr uint32_t kPpinCtl = 0xC00102F0;
constexpr uint32_t kPpin = 0xC00102F1;
constexpr uint64_t kPpinValue = 0x0123456789ABCDEFULL;
const std::string kSocket0Warning = "   WARNING! Failed to store PPIN value for socket 0 -- status = 2";
const std::string kSmramWarning = "   WARNING! CcxSmmAccess2ProtocolInstall was not installed";

class PerCoreWork : public DriverFixture {
 protected:
  // Sockets of one complex of 8 cores with 2 threads.
  explicit PerCoreWork(UINTN Sockets = 1) : Fabric(fake::FabricShape{{Sockets, 1, 1, 1, 8, 2}}), Mp(Sockets * 16) {
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Mp.Protocol());
    image::gImage.Init.TopologyServices = Fabric.Topology();
    Firmware.Msrs[kPpinCtl] = 0x2;
    Firmware.Msrs[kPpin] = kPpinValue;
  }

  std::vector<fake::ApStart> StartsOf(EFI_AP_PROCEDURE Procedure) const {
    std::vector<fake::ApStart> Found;
    for (const fake::ApStart &Start : Mp.Starts) {
      if (Start.Procedure == Procedure) Found.push_back(Start);
    }
    return Found;
  }

  fake::FakeFabric Fabric;
  fake::FakeMpServices Mp;
};

TEST_F(PerCoreWork, DoesNothingWithoutMpServices) {
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  image::gImage.Init.SnpCapable = 1;
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  EXPECT_TRUE(Firmware.PortWrites.empty());
  EXPECT_TRUE(Options.Hooks.empty());
  EXPECT_TRUE(Mp.Starts.empty());
}

// Without an SMRAM description the protocol can't be installed: the warning, and the work goes on.
TEST_F(PerCoreWork, RunsItsStepsInOrderAndEndsWithHookThree) {
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  // Only this routine's own lines; the SMRAM installer says why it failed in its own words.
  std::vector<std::string> Own;
  for (const std::string &Line : Lines()) {
    if (Line.rfind("  CcxRellInitWithMpServices", 0) == 0 || Line.rfind("   WARNING!", 0) == 0) Own.push_back(Line);
  }
  EXPECT_EQ(Own, (std::vector<std::string>{"  CcxRellInitWithMpServices Entry", kSmramWarning, kSocket0Warning,
                                           "  CcxRellInitWithMpServices Exit"}));
  EXPECT_EQ(TestPoints(), (std::vector<uint32_t>{0xAC56, 0xACE6}));
  EXPECT_EQ(Options.Hooks, std::vector<uint32_t>{0x03});
  EXPECT_TRUE(StartsOf(image::CcxReplicateSnpMsrs).empty()) << "no SNP: no MSR is copied";
}

class SnpReplication : public PerCoreWork, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(SnpReplication, CapturesTheBspValuesThenStartsEveryAp) {
  image::gImage.Init.SnpCapable = 1;
  Firmware.Pcd[PcdCcxRunApsSingleThreaded] = GetParam();
  Firmware.Msrs[0xC0010132] = 0x0000000012300000ULL;
  Firmware.Msrs[0xC0010133] = 0x00000000126FFFFFULL;
  Firmware.Msrs[0xC0010010] = 0x0000000002740000ULL;
  image::CcxRellInitWithMpServices(nullptr, nullptr);

  // The entries are packed: their values are read out by copy, never bound by reference.
  const auto &List = image::gImage.MpWork.CcxSnpMsrList;
  EXPECT_EQ(uint64_t{List[0].Value}, 0x0000000012300000ULL);
  EXPECT_EQ(uint64_t{List[1].Value}, 0x00000000126FFFFFULL);
  EXPECT_EQ(uint64_t{List[2].Value}, 0x0000000002740000ULL);
  ASSERT_FALSE(Mp.Starts.empty());
  const fake::ApStart &First = Mp.Starts[0];
  EXPECT_EQ(First.Call, "StartupAllAPs");
  EXPECT_EQ(First.Procedure, &image::CcxReplicateSnpMsrs);
  EXPECT_EQ(First.SingleThread, GetParam());
  EXPECT_EQ(First.Argument, nullptr);
  EXPECT_EQ(StartsOf(image::CcxReplicateSnpMsrs).size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(SingleThreadedOrNot, SnpReplication, ::testing::Values(0, 1));

struct PpinCase {
  UINTN Sockets;
  std::vector<std::pair<UINTN, uint64_t>> Written;  // (token, value)
};

class PpinOfEverySocket : public PerCoreWork, public ::testing::WithParamInterface<PpinCase> {
 protected:
  PpinOfEverySocket() : PerCoreWork(GetParam().Sockets) {}
};

// Each socket's first processor is its socket number times its 16 threads; socket 0's is the BSP,
// which MP services refuse. Sockets above 3 have no item.
TEST_P(PpinOfEverySocket, ReadsEachSocketOnItsFirstProcessor) {
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  const std::vector<fake::ApStart> Starts = StartsOf(image::CcxStorePpin);
  ASSERT_EQ(Starts.size(), GetParam().Sockets);
  for (UINTN Socket = 0; Socket < GetParam().Sockets; Socket++) {
    EXPECT_EQ(Starts[Socket].Call, "StartupThisAP");
    EXPECT_EQ(Starts[Socket].Processor, Socket * 16);
    EXPECT_EQ(Starts[Socket].ArgumentWord, Socket);
  }
  EXPECT_EQ(Firmware.PcdWrites, GetParam().Written);
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_EQ(std::count(Lines.begin(), Lines.end(), kSocket0Warning), 1);
  EXPECT_EQ(std::count_if(Lines.begin(), Lines.end(), [](const std::string &Line) {
              return Line.find("Failed to store PPIN") != std::string::npos;
            }),
            1);
}

INSTANTIATE_TEST_SUITE_P(
    Sockets, PpinOfEverySocket,
    ::testing::Values(PpinCase{1, {}}, PpinCase{2, {{881 + 1, kPpinValue}}},
                      PpinCase{4, {{882, kPpinValue}, {883, kPpinValue}, {884, kPpinValue}}},
                      PpinCase{5, {{882, kPpinValue}, {883, kPpinValue}, {884, kPpinValue}}}));

TEST_F(PerCoreWork, DisabledPpinWritesNoItem) {
  Firmware.Msrs[kPpinCtl] = 0x1;
  fake::FakeFabric TwoSockets(fake::FabricShape{{2, 1, 1, 1, 8, 2}});
  fake::FakeMpServices Both(32);
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Both.Protocol());
  image::gImage.Init.TopologyServices = TwoSockets.Topology();
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  EXPECT_EQ(Both.Started(), std::vector<UINTN>{16});
  EXPECT_TRUE(Firmware.PcdWrites.empty());
}

// Processor numbers follow the threads the walk really finds: 8 + 7 cores of 2 threads put
// socket 1's first processor at 30.
TEST_F(PerCoreWork, UnevenComplexesMoveTheNextSocketsFirstProcessor) {
  fake::FakeFabric Uneven(fake::FabricShape{{2, 1, 2, 1, 8, 2}});
  Uneven.Override(4, {0, 0, 1, 0}, 7);
  fake::FakeMpServices Sixty(62);
  Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
  Firmware.AddProtocol(gEfiMpServiceProtocolGuid, Sixty.Protocol());
  image::gImage.Init.TopologyServices = Uneven.Topology();
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  EXPECT_EQ(Sixty.Started(), std::vector<UINTN>{30});
  EXPECT_EQ(Firmware.PcdWrites, (std::vector<std::pair<UINTN, uint64_t>>{{882, kPpinValue}}));
}

TEST_F(PerCoreWork, NoTopologyServiceMeansNoPpinLoop) {
  image::gImage.Init.TopologyServices = nullptr;
  image::CcxRellInitWithMpServices(nullptr, nullptr);
  EXPECT_TRUE(StartsOf(image::CcxStorePpin).empty());
  EXPECT_EQ(Options.Hooks, std::vector<uint32_t>{0x03});
}

// Processors left without their part of the per-core work are named in a warning, and the work
// answers the failure's status (the initialization keeps it out of the entry's status). Socket 0's
// refusal by MP services is by design and no failure; a system without APs has nothing to fail.
class PerCoreWorkResult : public PerCoreWork {
 protected:
  PerCoreWorkResult() : PerCoreWork(2), Failing(Mp.Protocol()) {
    Firmware.RemoveProtocol(gEfiMpServiceProtocolGuid);
    Firmware.AddProtocol(gEfiMpServiceProtocolGuid, &Failing.Protocol);
    image::gImage.Init.SnpCapable = 1;
  }
  bool Warned(const std::string &Line) const {
    const std::vector<std::string> All = Lines();
    return std::find(All.begin(), All.end(), Line) != All.end();
  }
  fake::FailingMp Failing;
};

TEST_F(PerCoreWorkResult, EveryProcessorServedIsSuccess) {
  EXPECT_EQ(image::CcxRellRunPerCoreWork(), EFI_SUCCESS);
  EXPECT_TRUE(Warned(kSocket0Warning));
  EXPECT_EQ(Firmware.PcdWrites, (std::vector<std::pair<UINTN, uint64_t>>{{882, kPpinValue}}));
}

TEST_F(PerCoreWorkResult, SnpMsrsNotCopiedIsAFailure) {
  Failing.AllApsStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(image::CcxRellRunPerCoreWork(), EFI_DEVICE_ERROR);
  EXPECT_TRUE(Warned("   WARNING! Failed to copy the SNP MSRs to the APs -- status = Device Error"));
  EXPECT_EQ(Options.Hooks, std::vector<uint32_t>{0x03}) << "the work goes on to its end";
}

TEST_F(PerCoreWorkResult, NoApToCopyToIsNoFailure) {
  Failing.AllApsStatus = EFI_NOT_STARTED;
  EXPECT_EQ(image::CcxRellRunPerCoreWork(), EFI_SUCCESS);
}

TEST_F(PerCoreWorkResult, PpinOfASocketNotStoredIsAFailure) {
  Failing.FailingProcessors = {16};
  Failing.ProcessorStatus = EFI_TIMEOUT;
  EXPECT_EQ(image::CcxRellRunPerCoreWork(), EFI_TIMEOUT);
  EXPECT_TRUE(Warned("   WARNING! Failed to store PPIN value for socket 1 -- status = 12"));
  EXPECT_TRUE(Firmware.PcdWrites.empty());
}

TEST_F(PerCoreWorkResult, PpinWalkCutShortIsAFailure) {
  Fabric.Fail("GetNumberOfSockets", 1, EFI_DEVICE_ERROR);
  EXPECT_EQ(image::CcxRellRunPerCoreWork(), EFI_DEVICE_ERROR);
  EXPECT_TRUE(Warned("  ERROR: CcxRellInitWithMpServices: fabric topology count query failed after socket 0, die 0, "
                     "complex die 0, complex 0: Device Error"));
  EXPECT_TRUE(Firmware.PcdWrites.empty()) << "socket 1 was never reached";
}

TEST_F(PerCoreWork, ReplicationTakesOnlyTheMaskedBits) {
  auto &List = image::gImage.MpWork.CcxSnpMsrList;
  List[0].Value = 0x1111111111111111ULL;
  List[1].Value = 0x2222222222222222ULL;
  List[1].Mask = 0x00000000FFFFFFFFULL;
  List[2].Value = 0x0000000002740000ULL;
  Firmware.Msrs[0xC0010132] = 0xAAAAAAAAAAAAAAAAULL;
  Firmware.Msrs[0xC0010133] = 0xBBBBBBBBBBBBBBBBULL;
  image::CcxReplicateSnpMsrs(nullptr);
  EXPECT_EQ(Firmware.Msrs[0xC0010132], 0x1111111111111111ULL);
  EXPECT_EQ(Firmware.Msrs[0xC0010133], 0xBBBBBBBB22222222ULL);
  EXPECT_EQ(Firmware.Msrs[0xC0010010], 0x0000000002740000ULL);
}

TEST_F(PerCoreWork, PstateZeroTakesTheGivenDefinition) {
  uint64_t Definition = 0x8000000005120A90ULL;
  image::CcxWritePstate0(&Definition);
  EXPECT_EQ(Firmware.Msrs[0xC0010064], Definition);
}

TEST_F(PerCoreWork, StorePpinWritesTheItemOfItsSocket) {
  for (UINTN Socket : {0, 3, 4}) image::CcxStorePpin(&Socket);
  EXPECT_EQ(Firmware.PcdWrites, (std::vector<std::pair<UINTN, uint64_t>>{{881, kPpinValue}, {884, kPpinValue}}));
}

}  // namespace
