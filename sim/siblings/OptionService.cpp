#include "sim/siblings/OptionService.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

// What a service that writes past its table leaves there: anything but the driver's guard word.
constexpr uint8_t kOverrunFill = 0xEE;

EFI_STATUS EFIAPI ZrbOptionHook(EFI_BOOT_SERVICES *, ZRB_OPTION_HOOK_REQUEST *Request, UINT32 HookId,
                                QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This) {
  return reinterpret_cast<OptionServiceRecord *>(This)->Owner->Receive(Request, HookId);
}

// The attribute byte's size code: the value size as a power of two.
uint8_t SizeCode(unsigned Size) {
  uint8_t Code = 0;
  while ((1u << Code) < Size) Code++;
  return Code;
}

void Append(std::vector<uint8_t> &Bytes, uint64_t Value, unsigned Size) {
  for (unsigned Index = 0; Index < Size; Index++) Bytes.push_back(uint8_t(Value >> (8 * Index)));
}

}  // namespace

const char *OptionRequestName(OptionHookCall::Kind Request) {
  switch (Request) {
    case OptionHookCall::Hook: return "hook";
    case OptionHookCall::TableSize: return "table size";
    case OptionHookCall::TableCopy: return "table copy";
  }
  return "?";
}

std::vector<uint8_t> BuildOptionNvTable(const std::vector<OptionValue> &Values) {
  std::vector<uint8_t> Table(ZRB_NV_TABLE_HEADER_SIZE, 0);
  std::memcpy(Table.data(), &ZRB_NV_TABLE_SIGNATURE, sizeof(ZRB_NV_TABLE_SIGNATURE));
  for (const OptionValue &Option : Values) {
    Append(Table, Option.Id, 2);
    Table.push_back(uint8_t(ZrbNvValueSizeCode::Set(0, SizeCode(Option.Size))));
    Append(Table, Option.Value, Option.Size);
  }
  // The end mark is a whole entry of its own, with a one-byte value, so that a reader that takes
  // whole entries finds it too.
  Append(Table, ZRB_NV_OPTION_END, 2);
  Append(Table, 0, 2);
  return Table;
}

OptionService::OptionService(const OptionServiceSettings &Settings, FaultInjector &Faults)
    : Record_{{ZrbOptionHook}, this},
      Settings_(Settings),
      Faults_(Faults),
      Table_(BuildOptionNvTable(Settings.Values)) {}

std::vector<OptionHookCall> OptionService::Calls() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Calls_;
}

EFI_STATUS OptionService::Receive(ZRB_OPTION_HOOK_REQUEST *Request, UINT32 HookId) {
  OptionHookCall::Kind Kind = OptionHookCall::Hook;
  if (HookId == ZRB_HOOK_FETCH_NV_TABLE) {
    const auto *Fetch = Request != nullptr ? static_cast<ZRB_NV_TABLE_REQUEST *>(Request->Params) : nullptr;
    Kind = Fetch != nullptr && Fetch->Buffer != nullptr ? OptionHookCall::TableCopy : OptionHookCall::TableSize;
  }
  const EFI_STATUS Status = Answer(Kind, Request);
  std::lock_guard<std::mutex> Guard(Lock_);
  Calls_.push_back({Kind, HookId, Status});
  return Status;
}

std::optional<EFI_STATUS> OptionService::Failure(OptionHookCall::Kind Request) {
  static const char *kFailNames[] = {"hooks", "size", "copy"};
  static const SiblingQuery kQueries[] = {SiblingQuery::OptionRunHook, SiblingQuery::OptionTableSize,
                                          SiblingQuery::OptionCopyTable};
  // Every call counts with the fault injector, also those that fail for good.
  if (auto Injected = Faults_.Call(kQueries[Request])) return *Injected;
  if (std::find(Settings_.Fail.begin(), Settings_.Fail.end(), kFailNames[Request]) != Settings_.Fail.end()) {
    return EFI_DEVICE_ERROR;
  }
  return std::nullopt;
}

EFI_STATUS OptionService::Answer(OptionHookCall::Kind Request, ZRB_OPTION_HOOK_REQUEST *Hook) {
  if (Hook == nullptr) return EFI_INVALID_PARAMETER;
  if (Request != OptionHookCall::Hook) return AnswerFetch(Request, static_cast<ZRB_NV_TABLE_REQUEST *>(Hook->Params));
  if (auto Failed = Failure(Request)) return *Failed;
  // Ordinary hooks carry no parameters; the service only takes note of them.
  return Hook->Params == nullptr ? EFI_SUCCESS : EFI_INVALID_PARAMETER;
}

EFI_STATUS OptionService::AnswerFetch(OptionHookCall::Kind Request, ZRB_NV_TABLE_REQUEST *Fetch) {
  if (Fetch == nullptr || Fetch->Size == nullptr) return EFI_INVALID_PARAMETER;
  if (auto Failed = Failure(Request)) return *Failed;
  const auto TableSize = static_cast<UINT32>(Table_.size());
  if (Request == OptionHookCall::TableSize) {
    *Fetch->Size = TableSize;
    return EFI_SUCCESS;
  }
  // A buffer smaller than the table gets nothing but the size it needs.
  if (*Fetch->Size < TableSize) {
    *Fetch->Size = TableSize;
    return EFI_BUFFER_TOO_SMALL;
  }
  auto *Buffer = static_cast<uint8_t *>(Fetch->Buffer);
  std::memcpy(Buffer, Table_.data(), Table_.size());
  std::memset(Buffer + Table_.size(), kOverrunFill, Settings_.Overrun);
  *Fetch->Size = Settings_.SizeAfterCopy.value_or(TableSize);
  return EFI_SUCCESS;
}

}  // namespace sim
