// The ACPI processor objects built from the driver's services on whole boots: the APIC IDs the
// driver reports are the simulated processors' own, in walk order, on a range of machines; the
// check catches a driver that reads the wrong register; and the P-state table of the four-socket
// example machine carries its figures.
#include <gtest/gtest.h>

#include <string>

#include "driver/ImageDescriptor.h"
#include "sim/consumers/AcpiProcessorObjects.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

constexpr uint32_t kMmioCfgBase = 0xC0010058;

struct Shape {
  const char *Name;
  UniformTopology Counts;
  bool Padded = false;
  bool Folded = false;
  // CPUID 0x80000001 EAX and EBX; zero keeps the default machine's.
  uint32_t SignatureEax = 0;
  uint32_t SignatureEbx = 0;
  // Bus-range exponent of the configuration-space base register.
  uint32_t BusRangeExponent = 8;
  // Applied to the topology after the uniform counts.
  void (*Uneven)(Topology &) = nullptr;
};

Machine MachineOf(const Shape &Case) {
  Machine Description = DefaultMachine();
  Description.Name = Case.Name;
  Description.Shape = Topology(Case.Counts);
  if (Case.Uneven != nullptr) Case.Uneven(Description.Shape);
  // The default machine's per-processor values name processors this shape may not have.
  Description.Processors.MsrResetOverrides.clear();
  Description.Processors.CoreFieldPadding = Case.Padded;
  Description.Processors.FoldedComplexes = Case.Folded;
  if (Case.SignatureEax != 0) {
    Description.Processors.Cpuid.Set(0x80000001, CpuidValue{Case.SignatureEax, Case.SignatureEbx, 0, 0});
  }
  Description.Processors.MsrResetValues[kMmioCfgBase] = 0x3FB00000001ULL | Case.BusRangeExponent << 2;
  return Description;
}

AcpiProcessorReport BuildAfterBoot(const Machine &Description, BootRecord *Record = nullptr,
                                   void (*Before)(Platform &) = nullptr) {
  AcpiProcessorReport Report;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    if (Before != nullptr) Before(Machine);
    Report = BuildAcpiProcessorObjects(Machine);
  };
  BootRecord Boot = RunBoot(Description, CcxImageDescriptor, Options);
  if (Record != nullptr) *Record = Boot;
  return Report;
}

std::string Joined(const std::vector<std::string> &Lines) {
  std::string Text;
  for (const std::string &Line : Lines) Text += Line + "\n";
  return Text;
}

class ApicIdAgreement : public ::testing::TestWithParam<Shape> {};

TEST_P(ApicIdAgreement, DriverReportsEveryProcessorsOwnApicIdInWalkOrder) {
  const Machine Description = MachineOf(GetParam());
  BootRecord Boot;
  const AcpiProcessorReport Report = BuildAfterBoot(Description, &Boot);
  ASSERT_TRUE(Boot.EntryStatus.has_value());
  EXPECT_EQ(*Boot.EntryStatus, EFI_SUCCESS);
  ASSERT_TRUE(Report.ServiceFound);
  EXPECT_EQ(Report.PstateInfoStatus, EFI_SUCCESS);
  EXPECT_TRUE(Report.ApicIdsChecked);
  EXPECT_TRUE(Report.Errors.empty()) << Joined(Report.Errors);
  size_t Listed = 0;
  for (const AcpiSocketObjects &Socket : Report.Sockets) Listed += Socket.ApicIds.size();
  EXPECT_EQ(Listed, Boot.ProcessorCount);
  EXPECT_EQ(Report.SocketCount, Description.Shape.Count(TopologyLevel::Socket));
  EXPECT_TRUE(Boot.FatalStops.empty());
}

void UnevenComplexes(Topology &Shape) {
  Shape.SetCores(0, 0, 1, 1, 5);
  Shape.SetComplexes(0, 0, 2, 1);
  Shape.SetThreads(0, 0, 0, 0, 3, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Machines, ApicIdAgreement,
    ::testing::Values(Shape{"OneThreadPerCorePadded", {1, 1, 6, 1, 3, 1}, true},
                      Shape{"OneThreadPerCoreUnpadded", {1, 1, 6, 1, 3, 1}},
                      Shape{"UnevenComplexes", {1, 1, 3, 2, 8, 2}, false, false, 0, 0, 8, UnevenComplexes},
                      Shape{"TwoSockets", {2, 1, 4, 1, 8, 2}},
                      Shape{"FourSockets", {4, 1, 2, 2, 4, 2}},
                      Shape{"TwelveComplexDies", {1, 1, 12, 2, 8, 2}},
                      Shape{"FoldedComplexes", {1, 1, 4, 2, 8, 2}, false, true, 0x00AA0F00, 0x80000000},
                      Shape{"FoldedTwoSockets", {2, 1, 6, 2, 2, 1}, true, true, 0x00AA0F12, 0x80000000},
                      Shape{"PairedNotFolded", {1, 1, 3, 2, 4, 2}, false, false, 0x00AA0F00, 0x40000000},
                      Shape{"BridgesOnTwoSegments", {2, 1, 2, 1, 8, 2}, false, false, 0, 0, 9},
                      Shape{"BridgesOnFourSegments", {4, 1, 1, 1, 4, 2}, false, false, 0, 0, 10}),
    [](const ::testing::TestParamInfo<Shape> &Info) { return std::string(Info.param.Name); });

// A driver that took its field widths from a register other than the machine's would number the
// threads differently; the check must say which thread.
TEST(ApicIdCheck, ReportsThreadsWhoseApicIdDiffers) {
  const Machine Description = MachineOf(Shape{"Small", {1, 1, 3, 1, 4, 2}});
  const AcpiProcessorReport Report = BuildAfterBoot(Description, nullptr, [](Platform &Machine) {
    // Core maximum 15 instead of 3 in the copy of the first enabled core.
    const uint32_t Widened = Machine.Processors().CoreTopologyRegister() | 0xF << 16;
    Machine.Devices().Sideband().Set(0x20002FEC, Widened);
  });
  EXPECT_TRUE(Report.ApicIdsChecked);
  ASSERT_FALSE(Report.Errors.empty());
  // Complex dies 1 and 2 (threads 8 to 23) differ; the first eight are named, the rest counted.
  ASSERT_EQ(Report.Errors.size(), 9u) << Joined(Report.Errors);
  EXPECT_EQ(Report.Errors[0], "GetPstateInfo socket record 0 ApicId[8]: expected 8, received 32");
  EXPECT_EQ(Report.Errors[8], "GetPstateInfo socket record 0: 8 more APIC IDs differ");
}

TEST(ApicIdCheck, NothingIsCheckedWithoutTheService) {
  Machine Description = DefaultMachine();
  Description.Siblings["fabric_system"].When = SiblingArrival::Absent;
  const AcpiProcessorReport Report = BuildAfterBoot(Description);
  EXPECT_FALSE(Report.ServiceFound);
  EXPECT_FALSE(Report.ApicIdsChecked);
  EXPECT_TRUE(Report.Errors.empty());
}

TEST(AcpiProcessorObjects, FourSocketMachineShowsItsPstatesAndPowerState) {
  const Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/four-socket.json");
  const AcpiProcessorReport Report = BuildAfterBoot(Description);
  EXPECT_TRUE(Report.Errors.empty()) << Joined(Report.Errors);
  ASSERT_EQ(Report.Sockets.size(), 4u);
  EXPECT_EQ(Report.BufferSize, 0x2947u);
  const std::vector<AcpiPstate> Expected = {{0, 3100, 48500}, {2, 2000, 4520}, {3, 1550, 243}};
  for (const AcpiSocketObjects &Socket : Report.Sockets) {
    EXPECT_EQ(Socket.Pstates, Expected) << "socket " << Socket.Socket;
    EXPECT_EQ(Socket.PstateMaxVal, 3u);
    EXPECT_TRUE(Socket.PstateObjectsValid);
    EXPECT_EQ(Socket.ApicIds.size(), 48u);
    EXPECT_EQ(Socket.Cores, 48u);
  }
  ASSERT_TRUE(Report.PowerState.has_value());
  EXPECT_FALSE(Report.PowerState->MultiThreaded);
  EXPECT_EQ(Report.PowerState->AlwaysOne, 1);
}

}  // namespace
}  // namespace sim
