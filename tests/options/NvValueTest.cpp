// GetKtxNvValue against the fake firmware and the shared heap: the one fetch into heap buffer
// "NVDT", empty tables, a missing or failing service, the guard behind the table, and sizes the
// service misreports.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "driver/DriverEntry.h"
#include "driver/Heap.h"
#include "driver/ImageState.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/ZrbOptionHook.h"
#include "options/OptionHooks.h"
#include "tests/options/FakeOptionService.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;
using fake::NvEntry;
using fake::NvTable;

namespace {

class NvValue : public ::testing::Test {
 protected:
  void SetUp() override {
    ImageLoad();
    Firmware.AddProtocol(gQorvexZrbOptionHookProtocolGuid, Service.Protocol());
    CcxLibraryStartup(Firmware.ImageHandle(), Firmware.SystemTable());
    Firmware.PortWrites.clear();
    Service.Table = NvTable({NvEntry(0xD018, 0, 0x01), NvEntry(0x1234, 1, 0xBEEF), NvEntry(0xD019, 2, 0x89ABCDEF),
                             NvEntry(0xD01A, 3, 0x0123456789ABCDEFULL)});
  }

  UINT32 Get(UINT16 OptionId, UINT64 *Value = nullptr) {
    UINT64 Ignored = 0;
    return GetKtxNvValue(OptionId, Value != nullptr ? Value : &Ignored);
  }

  // The table's heap buffer, if there is one.
  HEAP_LOCATE_REQUEST TableBuffer() {
    HEAP_LOCATE_REQUEST Request = {};
    Request.Handle = HEAP_HANDLE_NV_TABLE;
    HeapLocateBuffer(&Request);
    return Request;
  }

  std::vector<uint32_t> FatalStops() const {
    std::vector<uint32_t> Codes;
    for (const fake::PortWrite &Write : Firmware.PortWrites) {
      if (Write.Port == 0x80 && Write.Width == 4) Codes.push_back(Write.Value);
    }
    return Codes;
  }

  fake::FakeFirmware Firmware;
  fake::FakeOptionService Service;
};

TEST_F(NvValue, FetchesTheTableOnceIntoItsHeapBuffer) {
  UINT64 Value = 0;
  ASSERT_EQ(Get(0x1234, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0xBEEFu);
  // The size query, then the copy into a buffer with room for the table and the guard behind it.
  ASSERT_EQ(Service.Calls.size(), 2u);
  const auto TableSize = static_cast<uint32_t>(Service.Table.size());
  EXPECT_EQ(Service.Calls[0].HookId, ZRB_HOOK_FETCH_NV_TABLE);
  EXPECT_EQ(Service.Calls[0].Buffer, nullptr);
  EXPECT_EQ(Service.Calls[0].SizeIn, 0u);
  EXPECT_EQ(Service.Calls[1].HookId, ZRB_HOOK_FETCH_NV_TABLE);
  EXPECT_EQ(Service.Calls[1].SizeIn, TableSize);
  const HEAP_LOCATE_REQUEST Buffer = TableBuffer();
  ASSERT_NE(Buffer.Buffer, 0u);
  EXPECT_EQ(reinterpret_cast<void *>(Buffer.Buffer), Service.Calls[1].Buffer);
  EXPECT_EQ(Buffer.Size, TableSize + 104);
  const auto *Bytes = reinterpret_cast<const uint8_t *>(Buffer.Buffer);
  EXPECT_EQ(std::vector<uint8_t>(Bytes, Bytes + TableSize), Service.Table);
  EXPECT_EQ(std::vector<uint8_t>(Bytes + TableSize + 100, Bytes + TableSize + 104),
            (std::vector<uint8_t>{0xAA, 0x55, 0x00, 0x00}));
  const auto *Header = reinterpret_cast<const HEAP_BUFFER_HEADER *>(Bytes - sizeof(HEAP_BUFFER_HEADER));
  EXPECT_EQ(Header->Persistence, 7);

  // Every later lookup, found or not, reads the kept table.
  EXPECT_EQ(Get(0x9999), KTX_NOT_FOUND);
  EXPECT_EQ(Get(0xD01A, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0x0123456789ABCDEFULL);
  EXPECT_EQ(Service.Calls.size(), 2u);
  EXPECT_TRUE(FatalStops().empty());
}

struct SizeCase {
  UINT16 OptionId;
  UINT64 Value;
};

class EachValueSize : public NvValue, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(EachValueSize, ComesBackZeroExtended) {
  UINT64 Value = ~0ULL;
  EXPECT_EQ(Get(GetParam().OptionId, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, GetParam().Value);
}

INSTANTIATE_TEST_SUITE_P(Sizes, EachValueSize,
                         ::testing::Values(SizeCase{0xD018, 0x01}, SizeCase{0x1234, 0xBEEF},
                                           SizeCase{0xD019, 0x89ABCDEF},
                                           SizeCase{0xD01A, 0x0123456789ABCDEFULL}));

TEST_F(NvValue, EmptyTableIsNotFoundAndNothingIsKept) {
  Service.Table.clear();
  EXPECT_EQ(Get(0xD018), KTX_NOT_FOUND);
  EXPECT_EQ(Service.Calls.size(), 1u) << "only the size query";
  EXPECT_EQ(TableBuffer().Buffer, 0u);
}

TEST_F(NvValue, HeaderOnlyTableFindsNothing) {
  Service.Table = NvTable({});
  EXPECT_EQ(Get(0xD018), KTX_NOT_FOUND);
  EXPECT_EQ(Get(0xD019), KTX_NOT_FOUND);
  EXPECT_EQ(Service.FetchCalls(), 2u) << "fetched once: size and copy";
}

TEST_F(NvValue, MissingServiceFailsTheFetch) {
  Firmware.RemoveProtocol(gQorvexZrbOptionHookProtocolGuid);
  EXPECT_EQ(Get(0xD018), KTX_FETCH_FAILED);
  EXPECT_EQ(TableBuffer().Buffer, 0u);
}

TEST_F(NvValue, FailedSizeQueryFailsTheFetch) {
  Service.SizeStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(Get(0xD018), KTX_FETCH_FAILED);
  EXPECT_EQ(Service.Calls.size(), 1u);
  EXPECT_EQ(TableBuffer().Buffer, 0u);
}

TEST_F(NvValue, FailedCopyStopsAndFailsTheFetch) {
  Service.CopyStatus = EFI_DEVICE_ERROR;
  EXPECT_EQ(Get(0xD018), KTX_FETCH_FAILED);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x20910168});
}

// A service that writes past the table: up to the guard it goes unnoticed, over it the fetch
// reports the overrun. Either way the buffer is kept and answers later lookups itself.
struct OverrunCase {
  size_t Bytes;
  UINT32 Result;
};

class Overrun : public NvValue, public ::testing::WithParamInterface<OverrunCase> {};

TEST_P(Overrun, IsCaughtByTheGuardAndTheBufferIsKept) {
  Service.Overrun.assign(GetParam().Bytes, 0xEE);
  EXPECT_EQ(Get(0xD018), GetParam().Result);
  const bool Caught = GetParam().Result == KTX_OVERRUN;
  EXPECT_EQ(FatalStops(), Caught ? std::vector<uint32_t>{0x20910176} : std::vector<uint32_t>{});
  UINT64 Value = 0;
  EXPECT_EQ(Get(0x1234, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0xBEEFu);
  EXPECT_EQ(Service.FetchCalls(), 2u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, Overrun,
                         ::testing::Values(OverrunCase{100, KTX_SUCCESS}, OverrunCase{101, KTX_OVERRUN},
                                           OverrunCase{104, KTX_OVERRUN}));

// A copy that reports a larger table than the size it announced claims bytes behind the room it
// was given; the guard would lie outside the buffer, so the fetch reports the overrun at once.
TEST_F(NvValue, CopiedSizeLargerThanAnnouncedIsAnOverrun) {
  Service.CopiedSizeAnswer = static_cast<uint32_t>(Service.Table.size()) + 8;
  EXPECT_EQ(Get(0xD018), KTX_OVERRUN);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x20910176});
}

// A copy that reports a smaller table than it announced leaves the guard where it was written,
// behind the announced size; the fetch finds it whole there and keeps every option.
class SmallerCopiedSize : public NvValue, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(SmallerCopiedSize, IsNoOverrun) {
  const auto Announced = static_cast<uint32_t>(Service.Table.size());
  Service.CopiedSizeAnswer = Announced - GetParam();
  UINT64 Value = 0;
  EXPECT_EQ(Get(0xD018, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0x01u);
  EXPECT_EQ(Get(0xD01A, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0x0123456789ABCDEFULL);
  EXPECT_TRUE(FatalStops().empty());
  EXPECT_EQ(TableBuffer().Size, Announced + 104);
}

INSTANTIATE_TEST_SUITE_P(ShortBy, SmallerCopiedSize, ::testing::Values(1u, 4u, 29u, 61u));

// The service's table lacks its end mark, and what it wrote behind the table (short of the guard)
// happens to look like the wanted entry. The lookup stays inside the table it was told about.
TEST_F(NvValue, UnterminatedTableIsNotReadPastItsSize) {
  Service.Table = NvTable({NvEntry(0x0001, 0, 1)}, false);
  Service.Overrun = NvEntry(0x0002, 0, 2);
  EXPECT_EQ(Get(0x0002), KTX_NOT_FOUND);
  UINT64 Value = 0;
  EXPECT_EQ(Get(0x0001, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 1u);
}

TEST_F(NvValue, TableWithoutSignatureStopsAndIsStillSearched) {
  Service.Table[0] = 'X';
  UINT64 Value = 0;
  EXPECT_EQ(Get(0x1234, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0xBEEFu);
  EXPECT_EQ(FatalStops(), std::vector<uint32_t>{0x20910182});
}

TEST_F(NvValue, TableAnotherDriverFetchedIsUsedWithoutAskingTheService) {
  const auto Table = NvTable({NvEntry(0x0042, 0, 0x42)});
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = static_cast<UINT32>(Table.size()) + 104;
  Request.Handle = HEAP_HANDLE_NV_TABLE;
  Request.Persistence = 7;
  ASSERT_EQ(HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  std::copy(Table.begin(), Table.end(), reinterpret_cast<uint8_t *>(Request.Buffer));
  UINT64 Value = 0;
  EXPECT_EQ(Get(0x0042, &Value), KTX_SUCCESS);
  EXPECT_EQ(Value, 0x42u);
  EXPECT_TRUE(Service.Calls.empty());
}

TEST_F(NvValue, HeapFailureIsReturnedWithItsStop) {
  Firmware.FailCall("AllocatePool", EFI_OUT_OF_RESOURCES);
  EXPECT_EQ(Get(0xD018), HEAP_NO_MEMORY);
  const std::vector<uint32_t> Stops = FatalStops();
  EXPECT_NE(std::find(Stops.begin(), Stops.end(), 0x20910158u), Stops.end());
  EXPECT_EQ(Service.FetchCalls(), 1u) << "no copy without a buffer";
}

// A size so large that the room behind the table would not fit in the heap's 32-bit size is
// refused before anything is allocated or copied.
TEST_F(NvValue, SizeWithoutRoomForTheGuardIsRefused) {
  Service.SizeAnswer = 0xFFFFFFF0u;
  EXPECT_EQ(Get(0xD018), HEAP_NO_MEMORY);
  EXPECT_EQ(Service.FetchCalls(), 1u);
  EXPECT_EQ(TableBuffer().Buffer, 0u);
}

}  // namespace
