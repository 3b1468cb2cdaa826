#include "tests/options/FakeOptionService.h"

#include <algorithm>

namespace fake {
namespace {

EFI_STATUS EFIAPI Hook(EFI_BOOT_SERVICES *BootServices, ZRB_OPTION_HOOK_REQUEST *Request, UINT32 HookId,
                       QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This) {
  FakeOptionService *Service = reinterpret_cast<FakeOptionServiceRecord *>(This)->Owner;
  OptionCall Call = {BootServices, Request->Reserved, Request->Params, HookId, This, nullptr, 0};
  if (HookId != ZRB_HOOK_FETCH_NV_TABLE) {
    Service->Calls.push_back(Call);
    return Service->HookStatus;
  }
  auto *Fetch = static_cast<ZRB_NV_TABLE_REQUEST *>(Request->Params);
  Call.Buffer = Fetch->Buffer;
  Call.SizeIn = *Fetch->Size;
  Service->Calls.push_back(Call);
  if (Fetch->Buffer == nullptr) {
    *Fetch->Size = Service->SizeAnswer.value_or(static_cast<uint32_t>(Service->Table.size()));
    return Service->SizeStatus;
  }
  if (EFI_ERROR(Service->CopyStatus)) return Service->CopyStatus;
  auto *Buffer = static_cast<uint8_t *>(Fetch->Buffer);
  std::copy(Service->Table.begin(), Service->Table.end(), Buffer);
  std::copy(Service->Overrun.begin(), Service->Overrun.end(), Buffer + Service->Table.size());
  *Fetch->Size = Service->CopiedSizeAnswer.value_or(static_cast<uint32_t>(Service->Table.size()));
  return Service->CopyStatus;
}

}  // namespace

std::vector<uint8_t> NvEntry(uint16_t OptionId, unsigned SizeCode, uint64_t Value) {
  std::vector<uint8_t> Entry = {uint8_t(OptionId), uint8_t(OptionId >> 8), uint8_t(SizeCode)};
  for (unsigned Index = 0; Index < (1u << SizeCode); Index++) Entry.push_back(uint8_t(Value >> (8 * Index)));
  return Entry;
}

std::vector<uint8_t> NvTable(const std::vector<std::vector<uint8_t>> &Entries, bool Terminated) {
  std::vector<uint8_t> Table = {0x24, 0x4B, 0x4E, 0x56};  // "$KNV"
  Table.resize(ZRB_NV_TABLE_HEADER_SIZE, 0);
  for (const auto &Entry : Entries) Table.insert(Table.end(), Entry.begin(), Entry.end());
  if (Terminated) Table.insert(Table.end(), {0xFF, 0xFF});
  return Table;
}

FakeOptionService::FakeOptionService() : Record{{Hook}, this} {}

size_t FakeOptionService::FetchCalls() const {
  size_t Count = 0;
  for (const OptionCall &Call : Calls) Count += Call.HookId == ZRB_HOOK_FETCH_NV_TABLE;
  return Count;
}

}  // namespace fake
