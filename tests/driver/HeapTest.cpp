// The shared heap: allocation and lookup by handle, the buffers restored from heap HOBs, and a
// second driver of the same boot joining the published list.
#include "driver/Heap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "tests/driver/HeapTestSupport.h"
#include "tests/driver/PeerHeap.h"
#include "uefi/StandardGuids.h"

using namespace CcxImage;

namespace {

constexpr uint64_t kUntouched = 0x1234;

HEAP_ALLOCATE_REQUEST AllocateRequest(uint32_t Handle, uint32_t Size, uint8_t Persistence) {
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = Size;
  Request.Handle = Handle;
  Request.Persistence = Persistence;
  Request.Buffer = kUntouched;
  return Request;
}

// The request records are packed; gtest binds what it compares to references, so their fields are
// read out by value first.
template <typename Request>
uint64_t BufferOf(const Request &Made) {
  return Made.Buffer;
}
template <typename Request>
uint32_t SizeOf(const Request &Made) {
  return Made.Size;
}

// The bytes of the buffer with this handle; empty when there is none.
std::vector<uint8_t> BufferBytes(uint32_t Handle) {
  HEAP_LOCATE_REQUEST Request = {Handle, 0, 0};
  if (HeapLocateBuffer(&Request) != HEAP_SUCCESS) return {};
  const auto *Data = reinterpret_cast<const uint8_t *>(Request.Buffer);
  return std::vector<uint8_t>(Data, Data + Request.Size);
}

// The handles of a list, oldest first.
std::vector<uint32_t> ListHandles(LIST_ENTRY *Head) {
  std::vector<uint32_t> Handles;
  for (LIST_ENTRY *Link = Head->ForwardLink; Link != Head; Link = Link->ForwardLink) {
    Handles.push_back(reinterpret_cast<HEAP_NODE *>(Link)->Header.Handle);
  }
  return Handles;
}

size_t HeapPublications(const fake::FakeFirmware &Firmware) {
  return std::count_if(Firmware.Installed().begin(), Firmware.Installed().end(),
                       [](const auto &Entry) { return Entry.second == "Heap"; });
}

class Heap : public heaptest::HeapFixture {
 protected:
  // Publishes a HOB list with one heap HOB per record, then runs this driver's heap start-up.
  void StartWithHobs(const std::vector<std::vector<uint8_t>> &Records) {
    sim::HobListBuilder Builder;
    for (const auto &Record : Records) Builder.AddGuidHob(gQorvexHeapHobGuid, Record);
    PublishHobList(Builder);
    HeapStartup();
  }
};

TEST_F(Heap, SizeZeroBufferHasAnAddressAndLocatesWithSizeZero) {
  StartWithHobs({});
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x100, 0, 4);
  ASSERT_EQ(HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  EXPECT_NE(BufferOf(Request), 0u);
  EXPECT_EQ(Pool.back().Size, HEAP_NODE_DATA_OFFSET) << "the node is the link and the header alone";
  HEAP_LOCATE_REQUEST Locate = {0x100, 77, 0};
  EXPECT_EQ(HeapLocateBuffer(&Locate), HEAP_SUCCESS);
  EXPECT_EQ(SizeOf(Locate), 0u);
  EXPECT_EQ(BufferOf(Locate), BufferOf(Request));
}

TEST_F(Heap, NewBufferIsZeroFilledBehindItsHeaderAndFoundByHandle) {
  StartWithHobs({});
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0xA02B, 24, 4);
  ASSERT_EQ(HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  EXPECT_EQ(BufferBytes(0xA02B), std::vector<uint8_t>(24, 0)) << "pool memory comes filled with 0xA5";
  // The node: forward and back links, then the 16-byte header, then the data.
  const auto *Node = reinterpret_cast<const uint8_t *>(Request.Buffer) - HEAP_NODE_DATA_OFFSET;
  EXPECT_EQ(static_cast<const void *>(Node), Pool.back().Address);
  const uint8_t Header[13] = {'H', 'E', 'A', 'P', 0x2B, 0xA0, 0, 0, 24, 0, 0, 0, 4};
  EXPECT_EQ(0, std::memcmp(Node + 16, Header, sizeof(Header)));
  EXPECT_EQ(Node[16 + 13], HEAP_BUFFER_VALID);
  LIST_ENTRY *Head = gImage.Heap.BufferList;
  EXPECT_EQ(static_cast<const void *>(Head->ForwardLink), Node);
  EXPECT_EQ(static_cast<const void *>(Head->BackLink), Node);
}

class PersistenceChoice : public Heap, public ::testing::WithParamInterface<uint8_t> {};

// Persistence 8 keeps the buffer in runtime memory; 1 to 7 are stored and treated alike.
TEST_P(PersistenceChoice, PicksTheMemoryTypeOfTheNode) {
  StartWithHobs({});
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x200, 5, GetParam());
  ASSERT_EQ(HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  ASSERT_EQ(Pool.size(), 1u);
  EXPECT_EQ(Pool[0].Type, GetParam() == HEAP_PERSIST_RUNTIME ? EfiRuntimeServicesData : EfiBootServicesData);
  EXPECT_EQ(Pool[0].Size, HEAP_NODE_DATA_OFFSET + 5);
  EXPECT_EQ(reinterpret_cast<const HEAP_BUFFER_HEADER *>(BufferOf(Request) - 16)->Persistence, GetParam());
}

INSTANTIATE_TEST_SUITE_P(OneToEight, PersistenceChoice, ::testing::Range<uint8_t>(1, 9));

class BadPersistence : public Heap, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(BadPersistence, IsRefusedWithoutTouchingTheRequestOrThePool) {
  StartWithHobs({});
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x300, 4, GetParam());
  EXPECT_EQ(HeapAllocateBuffer(&Request), HEAP_BAD_PERSISTENCE);
  EXPECT_EQ(BufferOf(Request), kUntouched);
  EXPECT_TRUE(Pool.empty());
}

INSTANTIATE_TEST_SUITE_P(OutOfRange, BadPersistence, ::testing::Values(0, 9, 0xFF));

enum class Origin { ThisDriver, HeapHob, OtherDriver };

std::string OriginName(Origin Which) {
  switch (Which) {
    case Origin::ThisDriver: return "ThisDriver";
    case Origin::HeapHob: return "HeapHob";
    case Origin::OtherDriver: return "OtherDriver";
  }
  return "?";
}

class DuplicateHandle : public Heap, public ::testing::WithParamInterface<Origin> {
 protected:
  // Makes handle 0x55 exist, made by the origin under test, with this driver's heap started.
  void Arrange() {
    HEAP_ALLOCATE_REQUEST First = AllocateRequest(0x55, 1, 4);
    switch (GetParam()) {
      case Origin::ThisDriver:
        StartWithHobs({});
        ASSERT_EQ(HeapAllocateBuffer(&First), HEAP_SUCCESS);
        break;
      case Origin::HeapHob:
        StartWithHobs({heaptest::HeapRecord(0x55, 2, {9})});
        break;
      case Origin::OtherDriver:
        PublishHobList(sim::HobListBuilder());
        peerheap::Start(Firmware.SystemTable());
        ASSERT_EQ(peerheap::Allocate(&First), HEAP_SUCCESS);
        HeapStartup();
        break;
    }
  }
};

// A handle can be allocated once, whoever made the buffer: this driver, the pre-memory phase or
// another driver of the boot.
TEST_P(DuplicateHandle, ConflictsWithoutAllocatingOrTouchingTheRequest) {
  Arrange();
  const size_t PoolBefore = Pool.size();
  HEAP_ALLOCATE_REQUEST Second = AllocateRequest(0x55, 8, 4);
  EXPECT_EQ(HeapAllocateBuffer(&Second), HEAP_HANDLE_CONFLICT);
  EXPECT_EQ(BufferOf(Second), kUntouched);
  EXPECT_EQ(Pool.size(), PoolBefore);
}

INSTANTIATE_TEST_SUITE_P(Origins, DuplicateHandle,
                         ::testing::Values(Origin::ThisDriver, Origin::HeapHob, Origin::OtherDriver),
                         [](const auto &Info) { return OriginName(Info.param); });

struct PoolFailureCase {
  uint8_t Persistence;
  uint32_t PoolType;
  uint32_t FatalStop;
};

class PoolFailure : public Heap, public ::testing::WithParamInterface<PoolFailureCase> {};

TEST_P(PoolFailure, ReturnsNoMemoryAfterTheFatalStopOfItsMemoryType) {
  StartWithHobs({});
  FailingPoolTypes = {GetParam().PoolType};
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x400, 16, GetParam().Persistence);
  EXPECT_EQ(HeapAllocateBuffer(&Request), HEAP_NO_MEMORY);
  EXPECT_EQ(BufferOf(Request), 0u);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{GetParam().FatalStop});
  EXPECT_TRUE(ListHandles(gImage.Heap.BufferList).empty());
}

INSTANTIATE_TEST_SUITE_P(Types, PoolFailure,
                         ::testing::Values(PoolFailureCase{HEAP_PERSIST_RUNTIME, EfiRuntimeServicesData, 0x80134},
                                           PoolFailureCase{3, EfiBootServicesData, 0x80137}));

TEST_F(Heap, LocatingAMissingHandleClearsBothOutputs) {
  StartWithHobs({heaptest::HeapRecord(0x10, 4, {1, 2})});
  HEAP_LOCATE_REQUEST Request = {0x11, 99, kUntouched};
  EXPECT_EQ(HeapLocateBuffer(&Request), HEAP_HANDLE_CONFLICT);
  EXPECT_EQ(SizeOf(Request), 0u);
  EXPECT_EQ(BufferOf(Request), 0u);
}

TEST_F(Heap, BeforeTheStartupNothingIsFoundAndNothingAllocated) {
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x12, 4, 4);
  EXPECT_EQ(HeapAllocateBuffer(&Request), HEAP_NO_MEMORY);
  EXPECT_EQ(BufferOf(Request), 0u);
  EXPECT_TRUE(BufferBytes(0x12).empty());
  EXPECT_TRUE(Pool.empty());
}

// Every valid record is restored in HOB order, duplicates included; the oldest of a handle wins.
TEST_F(Heap, ValidHobRecordsAreRestoredInHobOrder) {
  sim::HobListBuilder Builder;
  Builder.AddGuidHob(gQorvexHeapHobGuid, heaptest::HeapRecord(0x10, 2, {1, 2, 3}));
  Builder.AddResourceDescriptor(EFI_RESOURCE_SYSTEM_MEMORY, 0, 0x100000, 0x100000);
  Builder.AddGuidHob(gQorvexHeapHobGuid, heaptest::HeapRecord(0x20, HEAP_PERSIST_RUNTIME, {9}));
  // The same record under another name is not a heap HOB.
  Builder.AddGuidHob(gEfiHobListGuid, heaptest::HeapRecord(0x30, 4, {5}));
  Builder.AddGuidHob(gQorvexHeapHobGuid, heaptest::HeapRecord(0x10, 4, {7, 7}));
  PublishHobList(Builder);
  HeapStartup();
  EXPECT_EQ(ListHandles(gImage.Heap.BufferList), (std::vector<uint32_t>{0x10, 0x20, 0x10}));
  EXPECT_EQ(BufferBytes(0x10), (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_EQ(BufferBytes(0x20), std::vector<uint8_t>{9});
  ASSERT_EQ(Pool.size(), 3u);
  EXPECT_EQ(Pool[1].Type, EfiRuntimeServicesData);
  EXPECT_EQ(Pool[2].Size, HEAP_NODE_DATA_OFFSET + 2);
  EXPECT_EQ(HeapPublications(Firmware), 1u);
}

struct RecordCase {
  const char *Name;
  std::vector<uint8_t> Data;  // the heap HOB's data
  bool Restored;
};

class HobRecord : public Heap, public ::testing::WithParamInterface<RecordCase> {};

// A record is restored only when it is valid, signed and carries the data it claims; the walk goes
// on to the records after it either way.
TEST_P(HobRecord, IsRestoredOnlyWhenWholeAndValid) {
  StartWithHobs({GetParam().Data, heaptest::HeapRecord(0x31, 4, {5})});
  const std::vector<uint32_t> Expected =
      GetParam().Restored ? std::vector<uint32_t>{0x30, 0x31} : std::vector<uint32_t>{0x31};
  EXPECT_EQ(ListHandles(gImage.Heap.BufferList), Expected);
}

// A record with 4 data bytes lies in a HOB padded to 48 bytes: 8 bytes of room behind its header.
INSTANTIATE_TEST_SUITE_P(
    Records, HobRecord,
    ::testing::Values(RecordCase{"Valid", heaptest::HeapRecord(0x30, 4, {1, 2, 3, 4}), true},
                      RecordCase{"ValidZero", heaptest::HeapRecord(0x30, 4, {1}, {}, 0), false},
                      RecordCase{"ValidTwo", heaptest::HeapRecord(0x30, 4, {1}, {}, 2), false},
                      RecordCase{"OtherSignature", heaptest::HeapRecord(0x30, 4, {1}, {}, 1, 0x51414548), false},
                      RecordCase{"SizeFillsItsHob", heaptest::HeapRecord(0x30, 4, {1, 2, 3, 4}, 8), true},
                      RecordCase{"SizeBeyondItsHob", heaptest::HeapRecord(0x30, 4, {1, 2, 3, 4}, 9), false},
                      RecordCase{"SizeFarBeyondItsHob", heaptest::HeapRecord(0x30, 4, {1}, 0xFFFFFFF0u), false},
                      RecordCase{"HeaderCutShort", std::vector<uint8_t>{'H', 'E', 'A', 'P', 0x30, 0, 0, 0}, false}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(Heap, RecordSizeIsTakenFromTheHeaderNotTheHob) {
  StartWithHobs({heaptest::HeapRecord(0x40, 4, {1, 2, 3, 4}, 2)});
  EXPECT_EQ(BufferBytes(0x40), (std::vector<uint8_t>{1, 2}));
}

TEST_F(Heap, StartupPublishesItsOwnListOnANewHandle) {
  StartWithHobs({});
  ASSERT_EQ(HeapPublications(Firmware), 1u);
  EXPECT_EQ(gImage.Heap.BufferList, &gImage.Heap.Protocol.BufferList);
  EXPECT_EQ(gImage.Heap.Protocol.Revision, QORVEX_HEAP_PROTOCOL_REVISION);
  EXPECT_NE(Firmware.Installed().back().first, Firmware.ImageHandle());
  EXPECT_TRUE(FatalStops().empty());
}

TEST_F(Heap, FailedPublicationStopsButTheListStillServesThisDriver) {
  Firmware.FailCall("InstallProtocolInterface:Heap", EFI_OUT_OF_RESOURCES);
  StartWithHobs({heaptest::HeapRecord(0x50, 4, {4})});
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x80225});
  HEAP_ALLOCATE_REQUEST Request = AllocateRequest(0x51, 2, 4);
  EXPECT_EQ(HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  EXPECT_EQ(BufferBytes(0x50), std::vector<uint8_t>{4});
}

// The second driver of the boot finds the published list: it neither restores the HOB buffers a
// second time nor publishes a list of its own, and both drivers see each other's buffers.
TEST_F(Heap, SecondDriverJoinsThePublishedList) {
  StartWithHobs({heaptest::HeapRecord(0xA036, 1, {1})});
  peerheap::Start(Firmware.SystemTable());
  EXPECT_EQ(peerheap::ListInUse(), &gImage.Heap.Protocol.BufferList);
  EXPECT_EQ(ListHandles(gImage.Heap.BufferList), std::vector<uint32_t>{0xA036});
  EXPECT_EQ(HeapPublications(Firmware), 1u);

  HEAP_LOCATE_REQUEST FromHob = {0xA036, 0, 0};
  EXPECT_EQ(peerheap::Locate(&FromHob), HEAP_SUCCESS);
  HEAP_ALLOCATE_REQUEST PeerBuffer = AllocateRequest(0x77, 3, 4);
  ASSERT_EQ(peerheap::Allocate(&PeerBuffer), HEAP_SUCCESS);
  HEAP_LOCATE_REQUEST Found = {0x77, 0, 0};
  ASSERT_EQ(HeapLocateBuffer(&Found), HEAP_SUCCESS);
  EXPECT_EQ(BufferOf(Found), BufferOf(PeerBuffer));
  HEAP_ALLOCATE_REQUEST Again = AllocateRequest(0x77, 3, 4);
  EXPECT_EQ(HeapAllocateBuffer(&Again), HEAP_HANDLE_CONFLICT);
  EXPECT_EQ(ListHandles(gImage.Heap.BufferList), (std::vector<uint32_t>{0xA036, 0x77}));
}

}  // namespace
