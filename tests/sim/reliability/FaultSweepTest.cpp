// The fault-injection sweep over the default boot: for every page and pool allocation, variable
// write, MP services start, protocol location and sibling query the clean boot makes, one boot in
// which exactly that call fails, checked for what must hold whatever failed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "interfaces/QorvexGuids.h"
#include "tests/sim/reliability/FaultSweep.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

// A group of points of one kind, and the driver booted with them. The MP services starts boot the
// driver built with debug output: processors a start leaves out are warned about there, and that
// warning is the report the firmware gets of them.
struct SweepGroup {
  const char *Name;
  bool Sibling;
  FaultSite Site;
  const CCX_DRIVER_IMAGE *Image = &CcxImageDescriptor;
};

class DefaultBootFaultSweep : public ::testing::TestWithParam<SweepGroup> {
 protected:
  static const SweepBaseline &Baseline(const CCX_DRIVER_IMAGE &Image) {
    static std::map<const CCX_DRIVER_IMAGE *, SweepBaseline> Counted;
    auto It = Counted.find(&Image);
    if (It == Counted.end()) It = Counted.emplace(&Image, CountFaultPoints(DefaultMachine(), Image)).first;
    return It->second;
  }
};

TEST_P(DefaultBootFaultSweep, EveryFailingCallLeavesASoundBoot) {
  const SweepGroup Group = GetParam();
  const CCX_DRIVER_IMAGE &Image = *Group.Image;
  const SweepBaseline &Counted = Baseline(Image);
  ASSERT_EQ(Counted.Boot.Record.End.How, BootEnd::Returned);
  ASSERT_EQ(Counted.Boot.Record.EntryStatus, EFI_SUCCESS);
  ASSERT_EQ(Counted.Boot.Record.StateErrors, std::vector<std::string>{}) << "the clean boot leaves what the machine calls for";
  std::map<std::string, size_t> Tally;
  size_t Points = 0;
  for (const FaultPoint &Point : Counted.Points) {
    if (Point.IsSibling != Group.Sibling || (!Group.Sibling && Point.Schedule.Site != Group.Site)) continue;
    Points++;
    const SweepVerdict Verdict = JudgeFaultPoint(Counted.Boot, DefaultMachine(), Image, Point);
    for (const std::string &Problem : Verdict.Problems) ADD_FAILURE() << Point.Describe() << ": " << Problem;
    Tally[Verdict.Kind]++;
    if (Verdict.Kind != "absorbed") std::printf("  %s -> %s\n", Point.Describe().c_str(), Verdict.Kind.c_str());
  }
  // The default boot reaches every kind of point at least once.
  EXPECT_GT(Points, 0u) << "the clean boot made no call of " << Group.Name;
  std::printf("fault sweep, %s: %zu points\n", Group.Name, Points);
  for (const auto &[Kind, Count] : Tally) std::printf("  %-40s %zu\n", Kind.c_str(), Count);
}

INSTANTIATE_TEST_SUITE_P(
    EachKindOfCall, DefaultBootFaultSweep,
    ::testing::Values(SweepGroup{"AllocatePages", false, FaultSite::PageAllocation},
                      SweepGroup{"AllocatePool", false, FaultSite::PoolAllocation},
                      SweepGroup{"LocateProtocol", false, FaultSite::LocateProtocol},
                      SweepGroup{"SetVariable", false, FaultSite::VariableWrite},
                      SweepGroup{"MpStart", false, FaultSite::MpStart, &CcxImageDebugDescriptor},
                      SweepGroup{"SiblingQuery", true, FaultSite::PageAllocation}),
    [](const ::testing::TestParamInfo<SweepGroup> &Info) { return std::string(Info.param.Name); });

// Failures whose handling the driver promises: the fatal stop it raises (0: none), the status its
// entry returns, and the call that answers an error for it, if one does ("builder: call" as the
// sweep names table builders' calls, or an SMRAM call's operation).
struct PromisedEnd {
  const char *Name;
  FaultPoint Point;
  uint32_t FatalStop;
  EFI_STATUS EntryStatus;
  const char *FailedCall = nullptr;
};

FaultPoint Locate(const EFI_GUID &Guid, uint64_t Call) {
  FaultPoint Point;
  Point.Schedule = {FaultSite::LocateProtocol, Guid, Call, EFI_NOT_FOUND};
  return Point;
}
FaultPoint Pages(uint64_t Call) {
  FaultPoint Point;
  Point.Schedule = {FaultSite::PageAllocation, EFI_GUID{}, Call, EFI_OUT_OF_RESOURCES};
  return Point;
}
FaultPoint MpStart(uint64_t Call) {
  FaultPoint Point;
  Point.Schedule = {FaultSite::MpStart, EFI_GUID{}, Call, EFI_DEVICE_ERROR};
  return Point;
}
FaultPoint Query(const char *Service, const char *Name, uint64_t Call) {
  FaultPoint Point;
  Point.IsSibling = true;
  Point.Sibling = {Service, Name, Call, EFI_DEVICE_ERROR};
  return Point;
}

void PrintTo(const PromisedEnd &Case, std::ostream *Out) { *Out << Case.Name; }

// The default boot's last thread-count query: the level-3 size's run asks it for the last core.
constexpr uint64_t kLastThreadCount = 832;

class PromisedFailure : public ::testing::TestWithParam<PromisedEnd> {
 protected:
  static const SweepBoot &Clean() {
    static const SweepBoot Boot = CountFaultPoints(DefaultMachine(), CcxImageDescriptor).Boot;
    return Boot;
  }
};

TEST_P(PromisedFailure, EndsWithItsStopAndStatus) {
  const PromisedEnd &Case = GetParam();
  const SweepBoot Boot = BootWithFault(DefaultMachine(), CcxImageDescriptor, Case.Point);
  ASSERT_EQ(Boot.Record.End.How, BootEnd::Returned) << Boot.Record.End.Detail;
  EXPECT_EQ(Boot.Record.EntryStatus, Case.EntryStatus);
  const std::vector<uint32_t> Stops = NewFatalStops(Clean().Record, Boot.Record);
  if (Case.FatalStop == 0) {
    EXPECT_TRUE(Stops.empty()) << "first new fatal stop 0x" << std::hex << (Stops.empty() ? 0 : Stops.front());
  } else {
    ASSERT_FALSE(Stops.empty());
    EXPECT_EQ(Stops.front(), Case.FatalStop);
  }
  std::vector<std::string> Failed = NewlyFailedCalls(Clean(), Boot);
  for (const std::string &Operation : NewlyFailedSmramCalls(Clean().Record, Boot.Record)) {
    Failed.push_back("SMRAM: " + Operation);
  }
  if (Case.FailedCall == nullptr) {
    EXPECT_TRUE(Failed.empty()) << "first newly failed call: " << Failed.front();
  } else {
    EXPECT_NE(std::find(Failed.begin(), Failed.end(), Case.FailedCall), Failed.end())
        << Case.FailedCall << " did not fail; " << Failed.size() << " other calls did";
  }
}

INSTANTIATE_TEST_SUITE_P(
    EachPromise, PromisedFailure,
    ::testing::Values(
        PromisedEnd{"NumaServiceMissing", Locate(gQorvexFabricNumaServicesProtocolGuid, 1), 0, EFI_ABORTED},
        PromisedEnd{"SystemServiceMissing", Locate(gQorvexFabricSystemServicesProtocolGuid, 1), 0, EFI_ABORTED},
        PromisedEnd{"TopologyServiceMissing", Locate(gQorvexFabricTopologyServicesProtocolGuid, 1), 0, EFI_ABORTED},
        PromisedEnd{"RmpProbeAllocation", Pages(1), 0x30910832, EFI_SUCCESS},
        PromisedEnd{"RmpReservation", Pages(2), 0x30910855, EFI_SUCCESS},
        PromisedEnd{"PcctWithoutMmioAllocator", Locate(gQorvexFabricMmioAllocatorProtocolGuid, 1), 0x30791098,
                    EFI_SUCCESS, "PCCT: PCC subspace"},
        PromisedEnd{"SmbiosWithoutSoc", Locate(gQorvexSocServicesProtocolGuid, 1), 0x307E0178, EFI_SUCCESS},
        PromisedEnd{"SmbiosWithoutSmu", Locate(gQorvexSmuServicesProtocolGuid, 1), 0x307E0181, EFI_SUCCESS},
        PromisedEnd{"CacheSizeWithoutSystemService", Locate(gQorvexFabricSystemServicesProtocolGuid, 2), 0x30890312,
                    EFI_SUCCESS, "SMBIOS: GetCacheInfo(socket 0)"},
        // A missing configuration protocol reads as every item at its automatic setting; it once
        // made the driver call through a null pointer.
        PromisedEnd{"PcdProtocolMissing", Locate(gPcdProtocolGuid, 1), 0, EFI_SUCCESS},
        // Without it the S3 hand-off finds no communication buffer: the table stays in DXE memory.
        PromisedEnd{"PiPcdProtocolMissingAtHandOff", Locate(gEfiPcdProtocolGuid, 2), 0xA0752, EFI_SUCCESS},
        PromisedEnd{"SmmCommunicationMissingAtHandOff", Locate(gEfiSmmCommunicationProtocolGuid, 1), 0xA0766,
                    EFI_SUCCESS},
        PromisedEnd{"OptionTableCopyFails", Query("option_hook", "CopyTable", 1), 0x20910168, EFI_SUCCESS},
        // The per-core work's starts: the SMM range, then the SNP MSRs. APs left without them are
        // warned about and leave the entry's status alone; SMRAM access that could not set its
        // range on the APs answers an error at every call.
        PromisedEnd{"SmmRangeNotSetOnTheAps", MpStart(1), 0, EFI_SUCCESS, "SMRAM: Open"},
        PromisedEnd{"SnpMsrsNotCopiedToTheAps", MpStart(2), 0, EFI_SUCCESS},
        // The first walk of the boot is the per-core work's, for the PPINs.
        PromisedEnd{"PpinWalkCutShort", Query("fabric_topology", "GetNumberOfDies", 1), 0, EFI_SUCCESS},
        // Open, Close and Lock, each when its run misses the APs.
        PromisedEnd{"SmmOpenMissesTheAps", MpStart(3), 0, EFI_SUCCESS, "SMRAM: Open"},
        PromisedEnd{"SmmLockMissesTheAps", MpStart(5), 0, EFI_SUCCESS, "SMRAM: Lock"},
        PromisedEnd{"PccMtrrMissesTheAps", MpStart(6), 0, EFI_SUCCESS, "PCCT: PCC subspace"},
        // The level-3 size is summed on one processor of each complex: a complex it can't reach,
        // or a topology count it can't have, makes the size incomplete.
        PromisedEnd{"CacheSizeMissesAComplex", MpStart(7), 0, EFI_SUCCESS, "SMBIOS: GetCacheInfo(socket 0)"},
        PromisedEnd{"CacheSizeLosesAThreadCount", Query("fabric_topology", "GetNumberOfThreads", kLastThreadCount), 0,
                    EFI_SUCCESS, "SMBIOS: GetCacheInfo(socket 0)"}),
    [](const ::testing::TestParamInfo<PromisedEnd> &Info) { return std::string(Info.param.Name); });

// A start of the per-core work that fails (the SMM range, the SNP MSRs) leaves the entry at
// success and the S3 library's events in place, whether MP services are there at the entry or
// arrive after it: every driver's resume data is still handed off, and both orders end alike.
class PerCoreStartFailure : public ::testing::TestWithParam<uint64_t> {};

TEST_P(PerCoreStartFailure, KeepsTheS3HandOffInEitherArrivalOrder) {
  Machine Late = DefaultMachine();
  Late.Siblings["mp_services"] = {SiblingArrival::After, "entry"};
  for (const Machine &Description : {DefaultMachine(), Late}) {
    SCOPED_TRACE(Description.Siblings.at("mp_services").When == SiblingArrival::After ? "late" : "at the entry");
    const SweepBoot Clean = CountFaultPoints(Description, CcxImageDescriptor).Boot;
    const SweepBoot Boot = BootWithFault(Description, CcxImageDescriptor, MpStart(GetParam()));
    ASSERT_EQ(Boot.Record.End.How, BootEnd::Returned) << Boot.Record.End.Detail;
    EXPECT_EQ(Boot.Record.EntryStatus, EFI_SUCCESS);
    ASSERT_FALSE(Clean.Record.S3Tokens.S3Handoffs.empty());
    EXPECT_EQ(Boot.Record.S3Tokens.S3Handoffs.size(), Clean.Record.S3Tokens.S3Handoffs.size());
    EXPECT_EQ(Boot.Record.S3Tokens.S3Locked, Clean.Record.S3Tokens.S3Locked);
    EXPECT_EQ(Boot.Record.S3Tokens.S3Closed, Clean.Record.S3Tokens.S3Closed);
  }
}

INSTANTIATE_TEST_SUITE_P(EachPromise, PerCoreStartFailure, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<uint64_t> &Info) {
                           return Info.param == 1 ? std::string("SmmRange") : std::string("SnpMsrs");
                         });

// Procedures that MP services run on the APs never call boot services, even when the configuration
// protocol they store the PPINs through is missing: the simulated firmware refuses such a call from
// an AP and notes it. Two sockets, so that socket 1's PPIN is read on an AP.
TEST(ApProcedures, CallNoBootServiceWithoutTheConfigurationProtocol) {
  Machine Description = DefaultMachine();
  Description.Shape = Topology({2, 1, 2, 1, 4, 2});
  Description.Processors.MsrResetOverrides.clear();
  Description.Processors.MsrResetValues[0xC00102F0] = 0x2;
  Description.Processors.MsrResetValues[0xC00102F1] = 0x0123456789ABCDEFULL;
  Description.Siblings["pcd"].When = SiblingArrival::Absent;
  const BootRecord Boot = RunBoot(Description, CcxImageDescriptor, {});
  ASSERT_EQ(Boot.End.How, BootEnd::Returned) << Boot.End.Detail;
  for (const std::string &Note : Boot.Notes) {
    EXPECT_EQ(Note.find("thread other than the boot processor"), std::string::npos) << Note;
  }
  EXPECT_TRUE(Boot.PcdWrites.empty());
}

}  // namespace
}  // namespace sim
