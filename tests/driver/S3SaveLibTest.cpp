// The S3 save library: the first driver creating the shared record, its events and the table,
// later drivers joining, the table size rule, allocation failures, ready-to-lock before and after
// the start, the table checks, and the hand-off to SMM with and without its buffer and protocol.
#include <cstring>
#include <vector>

#include "driver/DriverEntry.h"
#include "driver/S3SaveLib.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "tests/driver/DriverFixture.h"
#include "uefi/SmmCommunication.h"
#include "uefi/StandardGuids.h"

namespace {

constexpr uint32_t kPciConfigWindow = 0xC0010058;

// The SMM side of the hand-off: what it was sent, and the table as it found it by address at
// that moment (the DXE copy is freed right after).
struct FakeSmmCommunication {
  EFI_SMM_COMMUNICATION_PROTOCOL Protocol{};
  std::vector<std::vector<uint8_t>> Messages;
  std::vector<QorvexS3LibPrivateData> Records;
  std::vector<uint16_t> EndMarks;
  static EFI_STATUS EFIAPI Communicate(const EFI_SMM_COMMUNICATION_PROTOCOL *This, VOID *Buffer, UINTN *Size) {
    auto *Self = const_cast<FakeSmmCommunication *>(reinterpret_cast<const FakeSmmCommunication *>(This));
    const auto *Bytes = static_cast<const uint8_t *>(Buffer);
    Self->Messages.emplace_back(Bytes, Bytes + *Size);
    const auto *Message = static_cast<const QORVEX_S3_SAVE_HANDOFF_MESSAGE *>(Buffer);
    const auto *Record =
        reinterpret_cast<const QorvexS3LibPrivateData *>(static_cast<uintptr_t>(Message->PrivateDataAddress));
    Self->Records.push_back(*Record);
    const auto *Table = reinterpret_cast<const uint8_t *>(static_cast<uintptr_t>(Record->Table));
    uint64_t Next = 0;
    std::memcpy(&Next, Table + 40, 8);
    uint16_t Mark = 0;
    std::memcpy(&Mark, Table + Next, 2);
    Self->EndMarks.push_back(Mark);
    return EFI_SUCCESS;
  }
  FakeSmmCommunication() { Protocol.Communicate = Communicate; }
};

class S3SaveLib : public DriverFixture {
 protected:
  S3SaveLib() {
    Firmware.NameGuid(gEfiDxeSmmReadyToLockProtocolGuid, "ReadyToLock");
    Firmware.NameGuid(gEfiSmmCommunicationProtocolGuid, "SmmCommunication");
    Firmware.Msrs[kPciConfigWindow] = 0xE0000001;
    Firmware.Pcd[PcdQorvexS3SmmCommBufferAddress] = reinterpret_cast<uintptr_t>(CommBuffer.data());
    Firmware.AddProtocol(gEfiSmmCommunicationProtocolGuid, &Smm.Protocol);
  }

  uint8_t *Table() const {
    return reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(image::QorvexS3LibRecord()->Table));
  }
  template <typename T>
  T At(size_t Offset) const {
    T Value{};
    std::memcpy(&Value, Table() + Offset, sizeof(T));
    return Value;
  }
  template <typename T>
  void Put(size_t Offset, T Value) {
    std::memcpy(Table() + Offset, &Value, sizeof(T));
  }
  // The notify function the library registered for the event created under Key ("CreateEvent" or
  // "CreateEventEx"), run as the firmware would run it.
  void Fire(size_t EventIndex) {
    const fake::Event &Event = Firmware.Events().at(EventIndex);
    Event.Notify(reinterpret_cast<EFI_EVENT>(EventIndex + 1), const_cast<void *>(Event.Context));
  }
  size_t Frees() const {
    return static_cast<size_t>(std::count(Firmware.Calls().begin(), Firmware.Calls().end(), "FreePool"));
  }

  std::vector<uint8_t> CommBuffer = std::vector<uint8_t>(64, 0xCC);
  FakeSmmCommunication Smm;
};

TEST_F(S3SaveLib, FirstDriverCreatesTheRecordTheEventsAndTheTable) {
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  EXPECT_EQ(Firmware.Calls(), (std::vector<std::string>{"LocateProtocol:Pcd", "AllocatePool", "CreateEvent",
                                                        "RegisterProtocolNotify:ReadyToLock", "SignalEvent",
                                                        "CreateEventEx:ReadyToBoot", "AllocatePool"}));
  ASSERT_EQ(Firmware.PoolRequests.size(), 2u);
  EXPECT_EQ(Firmware.PoolRequests[0], (std::pair<uint32_t, uint64_t>{EfiRuntimeServicesData, 16}));
  EXPECT_EQ(Firmware.PoolRequests[1], (std::pair<uint32_t, uint64_t>{EfiRuntimeServicesData, 0x4004}));
  ASSERT_EQ(Firmware.Events().size(), 2u);
  for (const fake::Event &Event : Firmware.Events()) EXPECT_EQ(Event.Tpl, static_cast<EFI_TPL>(TPL_CALLBACK));
  QorvexS3LibPrivateData *Record = image::QorvexS3LibRecord();
  ASSERT_NE(Record, nullptr);
  EXPECT_EQ(Firmware.PcdWrites, (std::vector<std::pair<UINTN, uint64_t>>{
                                    {PcdQorvexS3LibPrivateDataAddress, reinterpret_cast<uintptr_t>(Record)},
                                    {PcdQorvexS3LibTableAddress, Record->Table}}));
  EXPECT_EQ(Record->Locked, 0);
  EXPECT_EQ(Record->Closed, 0);
  EXPECT_EQ(At<uint32_t>(0), 0x54335351u);
  EXPECT_EQ(At<uint32_t>(4), 1u);
  EXPECT_EQ(At<uint64_t>(32), 0x4000u);
  EXPECT_EQ(At<uint64_t>(40), 48u);
  EXPECT_EQ(At<uint32_t>(0x4000), 0x01558844u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"QorvexS3LibPrivateData allocation",
                                               "QorvexS3LibTableHeader buffer size = 0x4000"}));
}

struct SizeCase {
  uint64_t Requested;
  uint64_t Size;
};

class S3TableSize : public S3SaveLib, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(S3TableSize, TableIsNeverSmallerThanTheMinimumAndEndsWithItsGuard) {
  Firmware.Pcd[PcdQorvexS3LibTableSize] = GetParam().Requested;
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  EXPECT_EQ(Firmware.PoolRequests.back().second, GetParam().Size + 4);
  EXPECT_EQ(At<uint64_t>(32), GetParam().Size);
  EXPECT_EQ(At<uint32_t>(GetParam().Size), 0x01558844u);
}

INSTANTIATE_TEST_SUITE_P(Sizes, S3TableSize,
                         ::testing::Values(SizeCase{0, 0x4000}, SizeCase{0x100, 0x4000}, SizeCase{0x3FFF, 0x4000},
                                           SizeCase{0x4000, 0x4000}, SizeCase{0x4001, 0x4001}));

TEST_F(S3SaveLib, LaterDriverJoinsTheRecordAndCreatesNothing) {
  QorvexS3LibPrivateData Shared = {1, 0, {}, 0x12345000};
  Firmware.Pcd[PcdQorvexS3LibPrivateDataAddress] = reinterpret_cast<uintptr_t>(&Shared);
  Firmware.Pcd[PcdQorvexS3LibTableAddress] = 0x12345000;
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  EXPECT_EQ(image::QorvexS3LibRecord(), &Shared);
  EXPECT_EQ(Firmware.Calls(), std::vector<std::string>{"LocateProtocol:Pcd"});
  EXPECT_TRUE(Firmware.PcdWrites.empty());
  EXPECT_TRUE(Lines().empty());
}

TEST_F(S3SaveLib, LaterDriverMakesTheTableWhenNoneExistsYet) {
  QorvexS3LibPrivateData Shared = {};
  Firmware.Pcd[PcdQorvexS3LibPrivateDataAddress] = reinterpret_cast<uintptr_t>(&Shared);
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  EXPECT_EQ(Firmware.Calls(), (std::vector<std::string>{"LocateProtocol:Pcd", "AllocatePool"}));
  EXPECT_NE(Shared.Table, 0u);
  EXPECT_EQ(Firmware.Pcd[PcdQorvexS3LibTableAddress], Shared.Table);
}

TEST_F(S3SaveLib, RecordAllocationFailureStopsBeforeAnyEvent) {
  Firmware.FailCall("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0808});
  EXPECT_TRUE(Firmware.Events().empty());
  EXPECT_TRUE(Firmware.PcdWrites.empty());
  EXPECT_EQ(Lines().back(), "QorvexS3LibPrivateData allocate fail");
}

struct TableFailureCase {
  const char *Name;
  uint64_t Requested;
  bool PoolFails;
};

class S3TableAllocationFailure : public S3SaveLib, public ::testing::WithParamInterface<TableFailureCase> {};

TEST_P(S3TableAllocationFailure, LeavesNoTableAndWritesNothing) {
  QorvexS3LibPrivateData Shared = {};
  Firmware.Pcd[PcdQorvexS3LibPrivateDataAddress] = reinterpret_cast<uintptr_t>(&Shared);
  Firmware.Pcd[PcdQorvexS3LibTableSize] = GetParam().Requested;
  if (GetParam().PoolFails) Firmware.FailCall("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0862});
  EXPECT_EQ(Shared.Table, 0u);
  EXPECT_TRUE(Firmware.PcdWrites.empty());
  EXPECT_EQ(Lines().back(), "QorvexS3LibTableHeader allocate fail");
}

INSTANTIATE_TEST_SUITE_P(Cases, S3TableAllocationFailure,
                         ::testing::Values(TableFailureCase{"PoolRefuses", 0x4000, true},
                                           TableFailureCase{"SizeLeavesNoRoomForTheGuard", ~0ULL - 1, false}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(S3SaveLib, EventFailuresStopTheStartUp) {
  Firmware.FailCall("CreateEvent", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_UNSUPPORTED);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0831});
  EXPECT_EQ(Lines().back(), "QorvexS3SaveLib create BootScriptLock Event fail");
  EXPECT_FALSE(Firmware.Called("RegisterProtocolNotify:ReadyToLock"));
}

TEST_F(S3SaveLib, CloseTableEventFailureStopsTheStartUp) {
  Firmware.FailCall("CreateEventEx:ReadyToBoot", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_UNSUPPORTED);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0849});
  EXPECT_EQ(Lines().back(), "QorvexS3SaveLib create CloseTable Event fail");
  EXPECT_EQ(std::count(Firmware.Calls().begin(), Firmware.Calls().end(), "AllocatePool"), 1);
}

TEST_F(S3SaveLib, DisabledPciConfigWindowStopsAndGoesOn) {
  Firmware.Msrs[kPciConfigWindow] = 0xE0000000;
  EXPECT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0802});
  EXPECT_NE(image::QorvexS3LibRecord()->Table, 0u);
}

TEST_F(S3SaveLib, ReadyToLockSeenOnlyOnceItsProtocolIsThere) {
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  // The signal at start-up: no ready-to-lock yet, so the event stays armed.
  Fire(0);
  EXPECT_EQ(image::QorvexS3LibRecord()->Locked, 0);
  EXPECT_FALSE(Firmware.Events()[0].Closed);
  static uint64_t Interface = 0;
  Firmware.AddProtocol(gEfiDxeSmmReadyToLockProtocolGuid, &Interface);
  Fire(0);
  EXPECT_EQ(image::QorvexS3LibRecord()->Locked, 1);
  EXPECT_TRUE(Firmware.Events()[0].Closed);
}

TEST_F(S3SaveLib, ReadyToLockBeforeTheStartIsSeenByTheFirstSignal) {
  static uint64_t Interface = 0;
  Firmware.AddProtocol(gEfiDxeSmmReadyToLockProtocolGuid, &Interface);
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  Fire(0);
  EXPECT_EQ(image::QorvexS3LibRecord()->Locked, 1);
  // The unload step then has only the close-table event left to close.
  image::QorvexS3LibUnload();
  EXPECT_EQ(std::count(Firmware.Calls().begin(), Firmware.Calls().end(), "CloseEvent"), 2);
  EXPECT_TRUE(FatalStops().empty());
}

TEST_F(S3SaveLib, HandOffEndsTheListSendsTheRecordAndFreesTheTable) {
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  QorvexS3LibPrivateData *Record = image::QorvexS3LibRecord();
  const uint64_t TableAddress = Record->Table;
  Firmware.PortWrites.clear();
  Fire(1);
  EXPECT_TRUE(Firmware.Events()[1].Closed);
  ASSERT_EQ(Smm.Messages.size(), 1u);
  std::vector<uint8_t> Expected(40, 0);
  std::memcpy(&Expected[0], &gQorvexS3SaveSmmCommunicationGuid, 16);
  Expected[16] = 16;
  Expected[24] = 1;
  const uint64_t RecordAddress = reinterpret_cast<uintptr_t>(Record);
  std::memcpy(&Expected[32], &RecordAddress, 8);
  EXPECT_EQ(Smm.Messages[0], Expected);
  EXPECT_EQ(std::vector<uint8_t>(CommBuffer.begin(), CommBuffer.begin() + 40), Expected);
  EXPECT_EQ(CommBuffer[40], 0xCC);
  EXPECT_EQ(Smm.EndMarks, std::vector<uint16_t>{0xFFFF});
  EXPECT_EQ(Smm.Records[0].Table, TableAddress);
  EXPECT_EQ(Record->Closed, 1);
  EXPECT_EQ(Record->Table, TableAddress);
  EXPECT_EQ(Frees(), 1u);
  EXPECT_EQ(Lines(), std::vector<std::string>{"QorvexS3SaveCloseTableCallBack"});
}

// Wherever other drivers stopped, the end mark is written there as long as its two bytes lie in
// the block the driver made (the table and the four bytes of its guard), past the header.
class S3EntriesEnd : public S3SaveLib, public ::testing::WithParamInterface<uint64_t> {};

TEST_P(S3EntriesEnd, IsMarkedWhereOtherDriversStopped) {
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  const uint64_t Next = GetParam();
  Put<uint64_t>(40, Next);
  Fire(1);
  EXPECT_TRUE(FatalStops().empty());
  // The SMM side reads the mark at the offset the header gives, while the message arrives.
  EXPECT_EQ(Smm.EndMarks, std::vector<uint16_t>{0xFFFF});
  EXPECT_EQ(Smm.Messages.size(), 1u);
  EXPECT_EQ(Frees(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Offsets, S3EntriesEnd, ::testing::Values(48u, 0x4000u - 2, 0x4000u - 1, 0x4000u, 0x4002u));

struct BrokenTableCase {
  const char *Name;
  size_t Offset;
  uint64_t Value;
  size_t Width;
  uint32_t FatalStop;
  std::string Line;
};

class S3BrokenTable : public S3SaveLib, public ::testing::WithParamInterface<BrokenTableCase> {};

TEST_P(S3BrokenTable, IsNeitherWrittenNorHandedOver) {
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  std::memcpy(Table() + GetParam().Offset, &GetParam().Value, GetParam().Width);
  const std::vector<uint8_t> Before(Table(), Table() + 0x4004);
  Firmware.PortWrites.clear();
  Fire(1);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{GetParam().FatalStop});
  EXPECT_EQ(Lines().back(), GetParam().Line);
  EXPECT_EQ(std::vector<uint8_t>(Table(), Table() + 0x4004), Before);
  EXPECT_TRUE(Smm.Messages.empty());
  EXPECT_EQ(Frees(), 0u);
  EXPECT_EQ(image::QorvexS3LibRecord()->Closed, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, S3BrokenTable,
    ::testing::Values(
        BrokenTableCase{"Signature", 0, 0x54335352, 4, 0xA0630, "QorvexS3Lib table Signature check fail"},
        BrokenTableCase{"EndGuard", 0x4000, 0x01558845, 4, 0xA0635, "QorvexS3Lib table boundary check fail"},
        BrokenTableCase{"TableSizeBeyondTheBlock", 32, 0x7FFFFFFF0000ULL, 8, 0xA0635,
                        "QorvexS3Lib table boundary check fail"},
        BrokenTableCase{"NextOffsetWhereTheMarkWouldLeaveTheBlock", 40, 0x4000 + 3, 8, 0xA0640,
                        "QorvexS3Lib table NextOffset check fail"},
        BrokenTableCase{"NextOffsetJustBelowTheFirstEntry", 40, 47, 8, 0xA0640,
                        "QorvexS3Lib table NextOffset check fail"},
        BrokenTableCase{"NextOffsetFarBeyondTheTable", 40, 0x100000000ULL, 8, 0xA0640,
                        "QorvexS3Lib table NextOffset check fail"},
        BrokenTableCase{"NextOffsetInsideTheHeader", 40, 8, 8, 0xA0640, "QorvexS3Lib table NextOffset check fail"}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(S3SaveLib, MissingCommunicationBufferKeepsTheTable) {
  Firmware.Pcd[PcdQorvexS3SmmCommBufferAddress] = 0;
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  Fire(1);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0752});
  EXPECT_TRUE(Smm.Messages.empty());
  EXPECT_EQ(Frees(), 0u);
  EXPECT_EQ(At<uint16_t>(48), 0xFFFF);
  EXPECT_EQ(image::QorvexS3LibRecord()->Closed, 0);
}

TEST_F(S3SaveLib, MissingSmmCommunicationKeepsTheTable) {
  Firmware.RemoveProtocol(gEfiSmmCommunicationProtocolGuid);
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  Fire(1);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0xA0766});
  EXPECT_EQ(Lines().back(), "QorvexS3SaveLib locate SmmCommunicationProtocol fail ");
  EXPECT_EQ(Frees(), 0u);
  EXPECT_EQ(image::QorvexS3LibRecord()->Closed, 0);
  // The message is in the buffer all the same.
  EXPECT_EQ(CommBuffer[24], 1);
}

TEST_F(S3SaveLib, HandOffWithoutATableOnlySaysSo) {
  QorvexS3LibPrivateData Shared = {};
  Firmware.Pcd[PcdQorvexS3LibPrivateDataAddress] = reinterpret_cast<uintptr_t>(&Shared);
  Firmware.Pcd[PcdQorvexS3LibTableAddress] = 1;  // a table some other way, not in the record
  ASSERT_EQ(image::QorvexS3LibInit(), EFI_SUCCESS);
  image::QorvexS3SaveCloseTableCallBack(nullptr, nullptr);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"QorvexS3SaveCloseTableCallBack", "mQorvexS3LibPrivateData is NULL"}));
  EXPECT_TRUE(Smm.Messages.empty());
}

TEST_F(S3SaveLib, EntryErrorClosesBothLibraryEvents) {
  Firmware.RemoveProtocol(gQorvexFabricTopologyServicesProtocolGuid);
  EXPECT_EQ(image::CcxRellDxeEntryPoint(Firmware.ImageHandle(), Firmware.SystemTable()), EFI_ABORTED);
  size_t LibraryEvents = 0;
  for (const fake::Event &Event : Firmware.Events()) {
    if (Event.Tpl == TPL_CALLBACK) {
      LibraryEvents++;
      EXPECT_TRUE(Event.Closed);
    }
  }
  EXPECT_EQ(LibraryEvents, 2u);
}

TEST_F(S3SaveLib, SuccessfulEntryLeavesBothLibraryEventsArmed) {
  image::CcxRellDxeEntryPoint(Firmware.ImageHandle(), Firmware.SystemTable());
  size_t Armed = 0;
  for (const fake::Event &Event : Firmware.Events()) Armed += Event.Tpl == TPL_CALLBACK && !Event.Closed;
  EXPECT_EQ(Armed, 2u);
}

}  // namespace
