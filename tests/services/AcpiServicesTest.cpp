// The ACPI processor data service: the P-state information buffer read back byte by byte at the
// offsets its readers use (one and two sockets, gaps in the enabled P-states, the size formula,
// the 512-entry list, a walk with more sockets than counted, a second call), the policy flag, the
// power-state record, ThreadsToCores, and refused arguments.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "driver/Heap.h"
#include "interfaces/PlatformConfig.h"
#include "services/AcpiServices.h"
#include "tests/services/ServiceFixture.h"
#include "tests/support/FakeFabric.h"

namespace {

constexpr uint32_t kPstateDef0 = 0xC0010064;
constexpr uint32_t kPstateCurLim = 0xC0010061;

uint64_t Enabled(uint64_t Fid, uint64_t DfsId) { return 1ULL << 63 | 100ULL << 22 | 0x30ULL << 14 | DfsId << 8 | Fid; }

// Little-endian fields of a buffer at byte offsets.
uint32_t Read32(const uint8_t *Bytes, size_t Offset) {
  uint32_t Value = 0;
  std::memcpy(&Value, Bytes + Offset, sizeof(Value));
  return Value;
}
uint16_t Read16(const uint8_t *Bytes, size_t Offset) {
  uint16_t Value = 0;
  std::memcpy(&Value, Bytes + Offset, sizeof(Value));
  return Value;
}
bool AllZero(const uint8_t *Bytes, size_t From, size_t To) {
  for (size_t Offset = From; Offset < To; Offset++) {
    if (Bytes[Offset] != 0) return false;
  }
  return true;
}

constexpr size_t RecordSize(uint32_t PstateMax) { return 0x81A + 16 * PstateMax; }

// A machine of the given counts, sockets first. The core topology register gives room for 4 cores
// of 2 threads and 2 complex dies, so the APIC ID is socket << 4 | complex die << 3 | core << 1 |
// thread; the first enabled core's register is the first one.
class AcpiServices : public ServiceFixture {
 protected:
  explicit AcpiServices(fake::FabricShape Shape = {{1, 1, 2, 1, 4, 2}}) : Fabric(Shape) {
    image::HeapStartup();
    image::gImage.Init.TopologyServices = Fabric.Topology();
    image::gImage.Init.SystemServices = Fabric.System();
    Firmware.Msrs[0xC0010058] = 0x3FB00000021;
    SetEnabledCoreMap({1, 0, 0, 0});
    SetSideband(0x20002FEC, 3U << 25 | 1U << 21 | 3U << 16);
    SetThreadsPerCore(2);
  }
  static uint32_t ApicId(uint32_t Socket, uint32_t ComplexDie, uint32_t Core, uint32_t Thread) {
    return Socket << 4 | ComplexDie << 3 | Core << 1 | Thread;
  }
  // Enables the P-states listed, up to PstateMax; P-state n runs at (n + 1) x 1000 MHz.
  void SetPstates(uint32_t PstateMax, const std::vector<uint32_t> &On) {
    Firmware.Msrs[kPstateCurLim] = PstateMax << 4;
    for (uint32_t Pstate = 0; Pstate < 8; Pstate++) Firmware.Msrs[kPstateDef0 + Pstate] = 0;
    for (uint32_t Pstate : On) Firmware.Msrs[kPstateDef0 + Pstate] = Enabled(40 * (Pstate + 1), 8);
  }
  const uint8_t *Located(uint32_t Handle, uint32_t *Size = nullptr) {
    HEAP_LOCATE_REQUEST Request = {Handle, 0, 0};
    if (image::HeapLocateBuffer(&Request) != HEAP_SUCCESS) return nullptr;
    if (Size != nullptr) *Size = Request.Size;
    return reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(Request.Buffer));
  }
  EFI_STATUS GetPstateInfo(const uint8_t **Buffer) {
    PSTATE_INFO_HEADER *Header = nullptr;
    const EFI_STATUS Status = image::GetPstateInfo(nullptr, &Header);
    *Buffer = reinterpret_cast<const uint8_t *>(Header);
    return Status;
  }

  fake::FakeFabric Fabric;
};

TEST_F(AcpiServices, OneSocketRecordListsItsThreadsAndTheEnabledPstatesWithoutGaps) {
  SetPstates(2, {0, 2});
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  ASSERT_NE(Buffer, nullptr);
  uint32_t Size = 0;
  EXPECT_EQ(Located(0xA02D, &Size), Buffer);
  EXPECT_EQ(Size, 0x1059u);
  EXPECT_EQ(Buffer[0], 1);
  EXPECT_EQ(Read32(Buffer, 1), 0x1059u);

  const uint8_t *Record = Buffer + 5;
  EXPECT_EQ(Record[0], 0) << "socket";
  EXPECT_EQ(Read16(Record, 1), 16) << "APIC ID count";
  EXPECT_EQ(Record[3], 1) << "P-state objects valid";
  for (uint32_t Thread = 0; Thread < 16; Thread++) {
    EXPECT_EQ(Read32(Record, 4 + 4 * Thread), ApicId(0, Thread / 8, Thread / 2 % 4, Thread % 2)) << Thread;
  }
  EXPECT_TRUE(AllZero(Record, 4 + 4 * 16, 0x804)) << "unused APIC ID entries";
  EXPECT_EQ(Record[0x804], 2) << "highest P-state number";
  EXPECT_EQ(Read32(Record, 0x805), 0u);
  EXPECT_EQ(Record[0x809], 0) << "policy flag";
  const std::vector<uint32_t> Entries = {1, 1000, 48500, 0, 1, 3000, 48500, 2, 0, 0, 0, 0};
  for (size_t Field = 0; Field < Entries.size(); Field++) {
    EXPECT_EQ(Read32(Record, 0x80A + 4 * Field), Entries[Field]) << "entry field " << Field;
  }
  EXPECT_TRUE(AllZero(Buffer, 5 + RecordSize(2), 0x1059)) << "the trailer stays zero";
  EXPECT_TRUE(FatalStops().empty());
}

TEST_F(AcpiServices, OnlyOneEnabledPstateMakesNoPstateObjects) {
  SetPstates(3, {0});
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  const uint8_t *Record = Buffer + 5;
  EXPECT_EQ(Record[3], 0);
  EXPECT_EQ(Read32(Record, 0x80A), 1u);
  EXPECT_EQ(Read32(Record, 0x80A + 12), 0u);
  EXPECT_TRUE(AllZero(Record, 0x80A + 16, RecordSize(3)));
}

class TwoSockets : public AcpiServices {
 protected:
  TwoSockets() : AcpiServices({{2, 1, 1, 1, 2, 1}}) { SetThreadsPerCore(1); }
};

TEST_F(TwoSockets, SecondRecordFollowsTheFirst) {
  SetPstates(1, {0, 1});
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  EXPECT_EQ(Buffer[0], 2);
  EXPECT_EQ(Read32(Buffer, 1), 2 * RecordSize(1) + 0x81F);
  const uint8_t *Second = Buffer + 5 + 0x81A + 16;
  EXPECT_EQ(Second[0], 1);
  EXPECT_EQ(Read16(Second, 1), 2);
  // One thread per core: the core field starts at bit 0, the socket field at bit 3.
  EXPECT_EQ(Read32(Second, 4), 1u << 3);
  EXPECT_EQ(Read32(Second, 8), (1u << 3) | 1);
  EXPECT_EQ(Read32(Second, 0x80A + 16 + 12), 1u) << "P1 is the second entry";
  EXPECT_TRUE(AllZero(Buffer, 5 + 2 * RecordSize(1), Read32(Buffer, 1)));
}

struct SizeCase {
  UINTN Sockets;
  uint32_t PstateMax;
};

class BufferSize : public AcpiServices, public ::testing::WithParamInterface<SizeCase> {
 protected:
  BufferSize() : AcpiServices({{GetParam().Sockets, 1, 1, 1, 1, 1}}) { SetThreadsPerCore(1); }
};

TEST_P(BufferSize, HoldsTheHeaderEveryRecordAndTheZeroTrailer) {
  SetPstates(GetParam().PstateMax, {0});
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  const uint32_t Expected = static_cast<uint32_t>(GetParam().Sockets * (0x81A + 16 * GetParam().PstateMax) + 0x81F);
  EXPECT_EQ(Read32(Buffer, 1), Expected);
  uint32_t Size = 0;
  Located(0xA02D, &Size);
  EXPECT_EQ(Size, Expected);
}

INSTANTIATE_TEST_SUITE_P(Formula, BufferSize,
                         ::testing::Values(SizeCase{1, 0}, SizeCase{1, 7}, SizeCase{2, 2}, SizeCase{4, 0},
                                           SizeCase{4, 7}));

class CrowdedSocket : public AcpiServices {
 protected:
  // Two dies of 12 complex dies of 2 complexes of 8 cores of 2 threads: 768 threads in one socket.
  CrowdedSocket() : AcpiServices({{1, 2, 12, 2, 8, 2}}) {
    SetSideband(0x20002FEC, 11U << 21 | 1U << 20 | 7U << 16);
  }
};

TEST_F(CrowdedSocket, ListStopsAt512AndTheCountSaysSo) {
  SetPstates(0, {0});
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  const uint8_t *Record = Buffer + 5;
  EXPECT_EQ(Read16(Record, 1), 512);
  // Position 511 is the 128th of die 1 (384 threads a die): complex die 3, complex 1, core 7,
  // thread 1, with the fields at bits 1, 4 and 5.
  EXPECT_EQ(Read32(Record, 4 + 4 * 511), 3u << 5 | 1u << 4 | 7u << 1 | 1u);
  EXPECT_EQ(Record[0x804], 0) << "the list did not run into the fields after it";
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>(768 - 512, 0x30790439));
}

class UndercountedSockets : public AcpiServices {
 protected:
  UndercountedSockets() : AcpiServices({{3, 1, 1, 1, 2, 1}}) { SetThreadsPerCore(1); }
};

TEST_F(UndercountedSockets, WalkStopsBeforeARecordThatDoesNotFit) {
  Fabric.ReportedSockets = 2;
  SetPstates(1, {0, 1});
  PSTATE_INFO_HEADER *Untouched = reinterpret_cast<PSTATE_INFO_HEADER *>(0x1);
  EXPECT_EQ(image::GetPstateInfo(nullptr, &Untouched), EFI_DEVICE_ERROR);
  EXPECT_EQ(Untouched, reinterpret_cast<PSTATE_INFO_HEADER *>(0x1));
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{image::kFatalPstateInfoSocketOverflow});
  uint32_t Size = 0;
  const uint8_t *Buffer = Located(0xA02D, &Size);
  ASSERT_NE(Buffer, nullptr);
  EXPECT_EQ(Size, 2 * RecordSize(1) + 0x81F);
  EXPECT_EQ(Buffer[0], 2);
  const uint8_t *Second = Buffer + 5 + RecordSize(1);
  EXPECT_EQ(Second[0], 1);
  EXPECT_EQ(Read16(Second, 1), 2) << "the records that fit are complete";
  EXPECT_TRUE(AllZero(Buffer, 5 + 2 * RecordSize(1), Size)) << "nothing of the third socket is written";
}

TEST_F(UndercountedSockets, NoSocketsCountedWritesNoRecord) {
  Fabric.ReportedSockets = 0;
  SetPstates(0, {0});
  const uint8_t *Buffer = nullptr;
  EXPECT_EQ(GetPstateInfo(&Buffer), EFI_DEVICE_ERROR);
  uint32_t Size = 0;
  const uint8_t *Stored = Located(0xA02D, &Size);
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(Size, 0x81Fu);
  EXPECT_TRUE(AllZero(Stored, 5, Size));
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{image::kFatalPstateInfoSocketOverflow});
}

// So many sockets that the buffer's size would not fit its 32-bit field: no count a system has.
TEST_F(UndercountedSockets, SocketCountBeyondAnyBufferIsRefusedBeforeAllocating) {
  Fabric.ReportedSockets = 0x200000;
  SetPstates(0, {0});
  const uint8_t *Buffer = nullptr;
  EXPECT_EQ(GetPstateInfo(&Buffer), EFI_DEVICE_ERROR);
  EXPECT_EQ(Located(0xA02D), nullptr);
}

// A count query that fails part-way leaves threads unvisited: the service reports the failure
// with its place instead of handing out a buffer with threads missing.
struct CutWalkCase {
  const char *Query;
  unsigned Call;
  std::string Line;
};

class CutWalk : public AcpiServices, public ::testing::WithParamInterface<CutWalkCase> {};

TEST_P(CutWalk, IsAnErrorWithItsPlace) {
  SetPstates(1, {0, 1});
  Fabric.Fail(GetParam().Query, GetParam().Call, EFI_DEVICE_ERROR);
  PSTATE_INFO_HEADER *Untouched = reinterpret_cast<PSTATE_INFO_HEADER *>(0x1);
  EXPECT_EQ(image::GetPstateInfo(nullptr, &Untouched), EFI_DEVICE_ERROR);
  EXPECT_EQ(Untouched, reinterpret_cast<PSTATE_INFO_HEADER *>(0x1));
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(), GetParam().Line), Lines.end()) << Uart();
  // The buffer stays under its handle: no record there may look valid with threads missing.
  uint32_t Size = 0;
  const uint8_t *Stored = Located(0xA02D, &Size);
  ASSERT_NE(Stored, nullptr);
  EXPECT_EQ(Stored[0], 1) << "the socket count stays";
  EXPECT_TRUE(AllZero(Stored, 5, Size)) << "no P-state objects, no APIC IDs";
}

INSTANTIATE_TEST_SUITE_P(
    Queries, CutWalk,
    ::testing::Values(CutWalkCase{"GetNumberOfThreads", 3,
                                  "  ERROR: GetPstateInfo: fabric topology count query failed after socket 0, die 0, "
                                  "complex die 0, complex 0: Device Error"},
                      CutWalkCase{"GetNumberOfComplexDies", 1,
                                  "  ERROR: GetPstateInfo: fabric topology count query failed after socket 0, die 0, "
                                  "complex die 0, complex 0: Device Error"},
                      CutWalkCase{"GetNumberOfSockets", 1,
                                  "  ERROR: GetPstateInfo: fabric topology count query failed after socket 0, die 0, "
                                  "complex die 1, complex 0: Device Error"}),
    [](const auto &Info) { return std::string(Info.param.Query); });

TEST_F(AcpiServices, SecondCallIsRefusedByTheHeapAndTheFirstBufferStays) {
  SetPstates(1, {0, 1});
  const uint8_t *First = nullptr;
  ASSERT_EQ(GetPstateInfo(&First), EFI_SUCCESS);
  const uint32_t Size = Read32(First, 1);
  const std::vector<uint8_t> Before(First, First + Size);
  const uint8_t *Second = reinterpret_cast<const uint8_t *>(0x1);
  EXPECT_EQ(GetPstateInfo(&Second), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30790416});
  EXPECT_EQ(Located(0xA02D), First);
  EXPECT_EQ(std::vector<uint8_t>(First, First + Size), Before);
}

class FailedSystemService : public AcpiServices, public ::testing::WithParamInterface<EFI_STATUS> {};

TEST_P(FailedSystemService, GivesDeviceErrorBeforeAllocating) {
  SetPstates(1, {0, 1});
  Fabric.Fail("GetSystemInfo", 1, GetParam());
  const uint8_t *Buffer = nullptr;
  EXPECT_EQ(GetPstateInfo(&Buffer), EFI_DEVICE_ERROR);
  EXPECT_EQ(Located(0xA02D), nullptr);
  EXPECT_TRUE(FatalStops().empty());
}

INSTANTIATE_TEST_SUITE_P(Statuses, FailedSystemService,
                         ::testing::Values(EFI_NOT_READY, EFI_UNSUPPORTED, EFI_WARN_UNKNOWN_GLYPH));

struct PolicyCase {
  uint8_t Policy;
  uint8_t Flag;
  std::vector<uint32_t> FatalStops;
};

class PolicyFlag : public AcpiServices, public ::testing::WithParamInterface<PolicyCase> {
 protected:
  PolicyFlag() : AcpiServices({{1, 1, 1, 1, 1, 1}}) { SetThreadsPerCore(1); }
};

TEST_P(PolicyFlag, FollowsTheAcpiPstatePolicy) {
  SetPstates(0, {0});
  Firmware.Pcd[PcdCcxAcpiPstatePolicy] = GetParam().Policy;
  const uint8_t *Buffer = nullptr;
  ASSERT_EQ(GetPstateInfo(&Buffer), EFI_SUCCESS);
  EXPECT_EQ(Buffer[5 + 0x809], GetParam().Flag);
  EXPECT_EQ(FatalStops(), GetParam().FatalStops);
}

INSTANTIATE_TEST_SUITE_P(Policies, PolicyFlag,
                         ::testing::Values(PolicyCase{0, 0, {}}, PolicyCase{1, 1, {}}, PolicyCase{2, 0, {}},
                                           PolicyCase{3, 0, {0x30790464}}, PolicyCase{0xFF, 0, {0x30790464}}));

struct PowerStateCase {
  const char *Name;
  uint8_t Mode;
  uint16_t Base;
  uint32_t Threads;
  std::vector<uint8_t> Bytes;
};

class PowerState : public AcpiServices, public ::testing::WithParamInterface<PowerStateCase> {};

TEST_P(PowerState, RecordCarriesTheSettings) {
  const PowerStateCase &Case = GetParam();
  Firmware.Pcd[PcdCcxIoPowerStateMode] = Case.Mode;
  Firmware.Pcd[PcdCcxIoPowerStateBaseAddress] = Case.Base;
  Firmware.Pcd[PcdCcxPowerStateWord1] = 0x1101;
  Firmware.Pcd[PcdCcxPowerStateWord2] = 0x2202;
  Firmware.Pcd[PcdCcxPowerStateWord3] = 0x3303;
  SetThreadsPerCore(Case.Threads);
  POWER_STATE_RECORD *Record = nullptr;
  ASSERT_EQ(image::GetPowerStateInfo(nullptr, &Record), EFI_SUCCESS);
  uint32_t Size = 0;
  EXPECT_EQ(Located(0xA034, &Size), reinterpret_cast<const uint8_t *>(Record));
  EXPECT_EQ(Size, 15u);
  const auto *Bytes = reinterpret_cast<const uint8_t *>(Record);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + 15), Case.Bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, PowerState,
    ::testing::Values(
        PowerStateCase{"Enabled", 1, 0x0810, 2, {1, 0x10, 0x08, 0, 0, 1, 1, 0x01, 0x11, 0x02, 0x22, 0x03, 0x33, 0, 0}},
        PowerStateCase{"NoAddressIsNotEnabled", 1, 0, 2,
                       {0, 0, 0, 0, 0, 1, 1, 0x01, 0x11, 0x02, 0x22, 0x03, 0x33, 0, 0}},
        PowerStateCase{"ModeOffKeepsTheAddress", 0, 0x0810, 1,
                       {0, 0x10, 0x08, 0, 0, 0, 1, 0x01, 0x11, 0x02, 0x22, 0x03, 0x33, 0, 0}},
        PowerStateCase{"OtherModeIsNotEnabled", 2, 0xFFFF, 1,
                       {0, 0xFF, 0xFF, 0, 0, 0, 1, 0x01, 0x11, 0x02, 0x22, 0x03, 0x33, 0, 0}}),
    [](const ::testing::TestParamInfo<PowerStateCase> &Info) { return std::string(Info.param.Name); });

TEST_F(AcpiServices, SecondPowerStateCallIsRefused) {
  POWER_STATE_RECORD *First = nullptr;
  ASSERT_EQ(image::GetPowerStateInfo(nullptr, &First), EFI_SUCCESS);
  POWER_STATE_RECORD *Second = nullptr;
  EXPECT_EQ(image::GetPowerStateInfo(nullptr, &Second), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Second, nullptr);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x30790546});
  EXPECT_EQ(Located(0xA034), reinterpret_cast<const uint8_t *>(First));
}

TEST_F(AcpiServices, MissingOutputsAreRefusedBeforeAllocating) {
  EXPECT_EQ(image::GetPstateInfo(nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(image::GetPowerStateInfo(nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Located(0xA02D), nullptr);
  EXPECT_EQ(Located(0xA034), nullptr);
}

struct CoresCase {
  uint32_t ThreadsPerCore;
  uint32_t Threads;
  uint32_t Cores;
  std::vector<uint32_t> FatalStops;
};

class ThreadsToCores : public AcpiServices, public ::testing::WithParamInterface<CoresCase> {};

TEST_P(ThreadsToCores, DividesByTheThreadsPerCore) {
  SetThreadsPerCore(GetParam().ThreadsPerCore);
  EXPECT_EQ(image::ThreadsToCores(nullptr, GetParam().Threads), GetParam().Cores);
  EXPECT_EQ(FatalStops(), GetParam().FatalStops);
}

// 256 threads per core do not fit the byte the count is kept in, which then reads 0.
INSTANTIATE_TEST_SUITE_P(Counts, ThreadsToCores,
                         ::testing::Values(CoresCase{2, 32, 16, {}}, CoresCase{2, 7, 3, {}}, CoresCase{1, 7, 7, {}},
                                           CoresCase{256, 7, 7, {0x30790603}}));

TEST_F(AcpiServices, RecordIsInstalledWithItsFourServices) {
  const QORVEX_CCX_ACPI_SERVICES_PROTOCOL &Record = image::gCcxAcpiServicesProtocol;
  EXPECT_EQ(Record.Revision, 0u);
  EXPECT_EQ(Record.GetPstateInfo, &image::GetPstateInfo);
  EXPECT_EQ(Record.GetPowerStateInfo, &image::GetPowerStateInfo);
  EXPECT_EQ(Record.ThreadsToCores, &image::ThreadsToCores);
  EXPECT_EQ(Record.GetPstatePower, &image::GetPstatePower);
}

}  // namespace
