// Fuzzes the configuration token store ("ACDB") as another component leaves it in the shared
// heap: its header, both token tables (offsets, capacities, counts) and their entries, followed by
// a run of the four token operations on chosen UIDs and values. The heap is published by this
// target as an earlier driver would publish it, with the store's buffer in host memory of exactly
// its size, so that any access past the store is an address-sanitizer report. A token a set
// stored is found again with the value stored.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz/FuzzPlatform.h"
#include "fuzz/Outcome.h"
#include "interfaces/ActDb.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/QorvexGuids.h"
#include "options/TokenStore.h"

namespace {

enum class TokenOperation : uint8_t { Get8, Get16, Set8, Set16, kMaxValue = Set16 };

struct Step {
  TokenOperation Operation;
  UINT32 Uid;
  UINT16 Value;
};

// The value of entry Index of the 8-bit or 16-bit table, read from the store's bytes.
UINT16 StoredValue(const uint8_t *Store, bool Wide, UINT32 Index) {
  ACT_DB_HEADER Header;
  std::memcpy(&Header, Store, sizeof(Header));
  const uint64_t At = uint64_t{Wide ? Header.Table16Offset : Header.Table8Offset} + sizeof(ACT_DB_TABLE_HEADER) +
                      uint64_t{Index} * ACT_DB_ENTRY_SIZE + offsetof(ACT_DB_ENTRY8, Value);
  return Wide ? static_cast<UINT16>(Store[At] | Store[At + 1] << 8) : Store[At];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  std::vector<Step> Steps(Input.ConsumeIntegralInRange<size_t>(1, 8));
  for (Step &Next : Steps) {
    Next.Operation = Input.ConsumeEnum<TokenOperation>();
    Next.Uid = Input.ConsumeIntegral<UINT32>();
    Next.Value = Input.ConsumeIntegral<UINT16>();
  }
  const std::vector<uint8_t> Store = Input.ConsumeRemainingBytes<uint8_t>();

  // The heap of an earlier driver: its record, and one node that holds the store.
  QORVEX_HEAP_PROTOCOL Heap = {QORVEX_HEAP_PROTOCOL_REVISION, {}};
  std::unique_ptr<uint8_t[]> Node(new uint8_t[HEAP_NODE_DATA_OFFSET + Store.size()]);
  auto *Header = reinterpret_cast<HEAP_NODE *>(Node.get());
  Header->Header = {HEAP_SIGNATURE, HEAP_HANDLE_ACT_DB, static_cast<UINT32>(Store.size()), 4, HEAP_BUFFER_VALID, {0, 0}};
  if (!Store.empty()) std::memcpy(Node.get() + HEAP_NODE_DATA_OFFSET, Store.data(), Store.size());
  const uint8_t *Stored = Node.get() + HEAP_NODE_DATA_OFFSET;
  Heap.BufferList.ForwardLink = &Header->Link;
  Heap.BufferList.BackLink = &Header->Link;
  Header->Link.ForwardLink = &Heap.BufferList;
  Header->Link.BackLink = &Heap.BufferList;

  fuzz::FuzzRun Run;
  Run.Prepare = [&](sim::Platform &Platform) {
    Platform.PublishHobList();
    EFI_HANDLE Handle = nullptr;
    Platform.Core().InstallProtocol(Handle, gQorvexHeapProtocolGuid, &Heap);
  };
  Run.Drive = [&](sim::Platform &Platform, EFI_HANDLE ImageHandle) {
    CcxImageDescriptor.LibraryStartup(ImageHandle, Platform.Core().SystemTable());
    for (const Step &Next : Steps) {
      UINT32 Index = 0;
      UINT32 Result = 0;
      switch (Next.Operation) {
        case TokenOperation::Get8:
          Result = CcxImage::GetVeltaCfg8(Next.Uid, &Index);
          break;
        case TokenOperation::Get16:
          Result = CcxImage::GetVeltaCfg16(Next.Uid, &Index);
          break;
        case TokenOperation::Set8:
          Result = CcxImage::SetVeltaCfg8(Next.Uid, static_cast<UINT8>(Next.Value));
          if (Result == CcxImage::VELTA_SUCCESS &&
              (CcxImage::GetVeltaCfg8(Next.Uid, &Index) != CcxImage::VELTA_SUCCESS ||
               StoredValue(Stored, false, Index) != static_cast<UINT8>(Next.Value))) {
            fuzz::Fail("an 8-bit token that was set is not found with its value");
          }
          break;
        case TokenOperation::Set16:
          Result = CcxImage::SetVeltaCfg16(Next.Uid, Next.Value);
          if (Result == CcxImage::VELTA_SUCCESS &&
              (CcxImage::GetVeltaCfg16(Next.Uid, &Index) != CcxImage::VELTA_SUCCESS ||
               StoredValue(Stored, true, Index) != Next.Value)) {
            fuzz::Fail("a 16-bit token that was set is not found with its value");
          }
          break;
      }
      fuzz::Observe(Result);
      fuzz::Observe(Index);
      if (Result != CcxImage::VELTA_SUCCESS && Result != CcxImage::VELTA_NOT_FOUND &&
          Result != CcxImage::VELTA_NO_SPACE && Result != CcxImage::VELTA_NO_STORE) {
        fuzz::Fail("a token operation answered an unknown result");
      }
    }
  };
  fuzz::RunOnPlatform(fuzz::SmallMachine(), Run);
  fuzz::ObserveBytes(Stored, Store.size());
  return 0;
}
