// Fuzzes the option NV table as the option service hands it over: the size it reports, the size
// it reports again after copying, the bytes it copies (up to the room behind the table that the
// guard word lives in), and which requests it fails. The driver fetches the table through
// GetKtxNvValue into the shared heap and searches it; a lookup either finds a value, or reports
// the failure by its code, and a second lookup of the same option gives the same answer.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>
#include <vector>

#include "fuzz/FuzzPlatform.h"
#include "fuzz/Outcome.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/ZrbOptionHook.h"
#include "options/OptionHooks.h"

namespace {

struct ServedTable {
  bool SizeFails = false;
  bool CopyFails = false;
  uint32_t ReportedSize = 0;
  uint32_t SizeAfterCopy = 0;
  uint32_t Overrun = 0;
  std::vector<uint8_t> Bytes;
  uint64_t BytesWritten = 0;
  bool Copied = false;
};

// The option service of this run; the record comes first so the This pointer leads back to it.
struct FakeOptionService {
  QORVEX_ZRB_OPTION_HOOK_PROTOCOL Protocol;
  ServedTable *Table;
};

EFI_STATUS EFIAPI ServeOptions(EFI_BOOT_SERVICES *, ZRB_OPTION_HOOK_REQUEST *Request, UINT32 HookId,
                               QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This) {
  ServedTable &Table = *reinterpret_cast<FakeOptionService *>(This)->Table;
  if (HookId != ZRB_HOOK_FETCH_NV_TABLE) return EFI_SUCCESS;
  auto *Fetch = static_cast<ZRB_NV_TABLE_REQUEST *>(Request->Params);
  if (Fetch->Buffer == nullptr) {
    if (Table.SizeFails) return EFI_DEVICE_ERROR;
    *Fetch->Size = Table.ReportedSize;
    return EFI_SUCCESS;
  }
  if (Table.CopyFails) return EFI_DEVICE_ERROR;
  // The buffer is the size announced plus the room behind it; a service that writes further
  // would corrupt memory no check can protect.
  const uint64_t Room = uint64_t{*Fetch->Size} + ZRB_NV_TABLE_SLACK;
  uint64_t Written = uint64_t{*Fetch->Size} + Table.Overrun;
  if (Written > Room) Written = Room;
  if (Written > Table.Bytes.size()) Written = Table.Bytes.size();
  if (Written != 0) std::memcpy(Fetch->Buffer, Table.Bytes.data(), Written);
  Table.BytesWritten = Written;
  Table.Copied = true;
  *Fetch->Size = Table.SizeAfterCopy;
  return EFI_SUCCESS;
}

// Whether the guard word behind the announced size holds anything but the guard after the copy
// (the service's bytes may go over it), or the size reported after the copy claims more than the
// buffer was made for: either is an overrun. A smaller size after the copy moves nothing.
bool GuardOverwritten(const ServedTable &Table) {
  if (Table.SizeAfterCopy > Table.ReportedSize) return true;
  static const uint8_t kGuard[4] = {0xAA, 0x55, 0x00, 0x00};
  const uint64_t GuardAt = uint64_t{Table.ReportedSize} + ZRB_NV_TABLE_GUARD_OFFSET;
  for (uint64_t Byte = GuardAt; Byte < GuardAt + 4; Byte++) {
    const uint8_t Held = Byte < Table.BytesWritten ? Table.Bytes[Byte] : kGuard[Byte - GuardAt];
    if (Held != kGuard[Byte - GuardAt]) return true;
  }
  return false;
}

// What a lookup must answer once the table is in its buffer, worked out independently of the
// driver: the buffer holds the copied bytes over zeros; entries follow the 32-byte header up to
// the end mark, and only entries wholly inside the announced size count.
struct Expected {
  UINT32 Result;
  UINT64 Value;
};
Expected LookUp(const ServedTable &Table, uint16_t Option) {
  std::vector<uint8_t> Buffer(Table.ReportedSize, 0);
  const uint64_t Copied = std::min<uint64_t>(Table.BytesWritten, Buffer.size());
  std::copy(Table.Bytes.begin(), Table.Bytes.begin() + static_cast<ptrdiff_t>(Copied), Buffer.begin());
  size_t At = ZRB_NV_TABLE_HEADER_SIZE;
  while (At + 2 <= Buffer.size()) {
    const uint16_t Id = static_cast<uint16_t>(Buffer[At] | Buffer[At + 1] << 8);
    if (Id == ZRB_NV_OPTION_END || At + 3 > Buffer.size()) return {1, 0};
    const size_t Width = size_t{1} << (Buffer[At + 2] & 3);
    if (At + 3 + Width > Buffer.size()) return {1, 0};
    if (Id == Option) {
      UINT64 Value = 0;
      for (size_t Byte = 0; Byte < Width; Byte++) Value |= UINT64{Buffer[At + 3 + Byte]} << (8 * Byte);
      return {0, Value};
    }
    At += 3 + Width;
  }
  return {1, 0};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  ServedTable Table;
  const uint8_t Mode = Input.ConsumeIntegral<uint8_t>();
  Table.SizeFails = Mode == 1;
  Table.CopyFails = Mode == 2;
  // Sizes beyond what the machine's memory holds: no buffer can be made for them, or the guard
  // behind them would not fit a 32-bit size.
  static const uint32_t kHugeSizes[] = {0xFFFFFFFF, 0xFFFFFF98, 0xFFFFFF97, 0x80000000};
  Table.ReportedSize =
      Mode == 3 ? Input.PickValueInArray(kHugeSizes) : Input.ConsumeIntegralInRange<uint32_t>(0, 2048);
  Table.SizeAfterCopy = Input.ConsumeBool() ? Input.ConsumeIntegralInRange<uint32_t>(0, Table.ReportedSize + 200)
                                            : Table.ReportedSize;
  Table.Overrun = Input.ConsumeIntegralInRange<uint32_t>(0, ZRB_NV_TABLE_SLACK);
  uint16_t Options[4];
  for (uint16_t &Option : Options) Option = Input.ConsumeIntegral<uint16_t>();
  Table.Bytes = Input.ConsumeRemainingBytes<uint8_t>();

  // The small machine without its own option service: this target installs the service it fuzzes.
  static const sim::Machine Machine = [] {
    sim::Machine WithoutOptions = fuzz::SmallMachine();
    WithoutOptions.Siblings["option_hook"].When = sim::SiblingArrival::Absent;
    return WithoutOptions;
  }();
  FakeOptionService Service = {{ServeOptions}, &Table};
  fuzz::FuzzRun Run;
  Run.Prepare = [&](sim::Platform &Platform) {
    Platform.PublishHobList();
    EFI_HANDLE Handle = nullptr;
    Platform.Core().InstallProtocol(Handle, gQorvexZrbOptionHookProtocolGuid, &Service.Protocol);
  };
  Run.Drive = [&](sim::Platform &Platform, EFI_HANDLE ImageHandle) {
    CcxImageDescriptor.LibraryStartup(ImageHandle, Platform.Core().SystemTable());
    bool Fetching = true;
    for (uint16_t Option : Options) {
      UINT64 First = 0, Second = 0;
      const UINT32 Found = CcxImage::GetKtxNvValue(Option, &First);
      const UINT32 Again = CcxImage::GetKtxNvValue(Option, &Second);
      for (uint64_t Seen : {uint64_t{Found}, First, uint64_t{Again}, Second}) fuzz::Observe(Seen);
      if (Found != 0 && Found != 1 && Found != 2 && Found != 4 && Found != 7) fuzz::Fail("unknown result code");
      // Once a table is in the heap, every lookup answers from it.
      if (Table.Copied && (Found == 0 || Found == 1)) {
        const Expected Answer = LookUp(Table, Option);
        if (Found != Answer.Result || (Found == 0 && First != Answer.Value)) fuzz::Fail("a lookup answered wrongly");
      }
      if (Found == 0 && (Again != 0 || First != Second)) fuzz::Fail("a found option changed between lookups");
      // Only the first lookup fetches; later ones answer from the heap buffer.
      if (Fetching && Table.Copied && GuardOverwritten(Table) && Found != 2) {
        fuzz::Fail("a service that wrote past its table went unnoticed");
      }
      Fetching = false;
    }
  };
  fuzz::RunOnPlatform(Machine, Run);
  fuzz::Observe(Table.BytesWritten);
  fuzz::Observe(Table.Copied);
  return 0;
}
