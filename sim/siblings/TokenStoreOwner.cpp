#include "sim/siblings/TokenStoreOwner.h"

#include <algorithm>
#include <cstring>

namespace sim {
namespace {

constexpr size_t kStoreHeaderBytes = 16;
constexpr size_t kTableHeaderBytes = 16;
constexpr size_t kEntryBytes = 8;

void PutWord(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value) { std::memcpy(&Bytes[Offset], &Value, 4); }

uint32_t WordAt(const std::vector<uint8_t> &Bytes, size_t Offset) {
  uint32_t Value = 0;
  std::memcpy(&Value, &Bytes[Offset], 4);
  return Value;
}

void LayOutTable(std::vector<uint8_t> &Bytes, const TokenTableSetting &Table, bool Wide, size_t OffsetField) {
  if (!Table.Present) return;
  const size_t Offset = Bytes.size();
  // Room for the capacity, and for every token handed over even when they are more than it says.
  const size_t Room = std::max<size_t>(Table.Capacity, Table.Tokens.size() * kEntryBytes);
  Bytes.resize(Offset + kTableHeaderBytes + Room, 0);
  PutWord(Bytes, OffsetField, uint32_t(Offset));
  PutWord(Bytes, Offset + 4, Table.Capacity);
  PutWord(Bytes, Offset + 8, uint32_t(Table.Tokens.size()));
  for (size_t Index = 0; Index < Table.Tokens.size(); Index++) {
    const size_t Entry = Offset + kTableHeaderBytes + Index * kEntryBytes;
    PutWord(Bytes, Entry, Table.Tokens[Index].Uid);
    Bytes[Entry + 4] = uint8_t(Table.Tokens[Index].Value);
    if (Wide) Bytes[Entry + 5] = uint8_t(Table.Tokens[Index].Value >> 8);
  }
}

TokenTableView ReadTable(const std::vector<uint8_t> &Bytes, size_t OffsetField, bool Wide) {
  TokenTableView View;
  View.Offset = WordAt(Bytes, OffsetField);
  if (View.Offset == 0) return View;
  if (uint64_t(View.Offset) + kTableHeaderBytes > Bytes.size()) {
    View.Problem = "the table's header lies outside the store";
    return View;
  }
  View.Capacity = WordAt(Bytes, View.Offset + 4);
  View.Count = WordAt(Bytes, View.Offset + 8);
  const uint64_t Room = Bytes.size() - View.Offset - kTableHeaderBytes;
  if (uint64_t(View.Count) * kEntryBytes > Room) {
    View.Problem = "the count reaches past the store";
    return View;
  }
  View.Initialized = true;
  for (uint32_t Index = 0; Index < View.Count; Index++) {
    const size_t Entry = View.Offset + kTableHeaderBytes + size_t(Index) * kEntryBytes;
    const uint16_t Value = Wide ? uint16_t(Bytes[Entry + 4] | Bytes[Entry + 5] << 8) : Bytes[Entry + 4];
    View.Tokens.emplace_back(WordAt(Bytes, Entry), Value);
  }
  return View;
}

}  // namespace

std::vector<uint8_t> LayOutTokenStore(const TokenStoreSettings &Settings) {
  std::vector<uint8_t> Bytes(kStoreHeaderBytes, 0);
  PutWord(Bytes, 0, kTokenStoreMark);
  LayOutTable(Bytes, Settings.Table8, false, 4);
  LayOutTable(Bytes, Settings.Table16, true, 8);
  return Bytes;
}

std::optional<HeapHobRecord> TokenStoreHob(const TokenStoreSettings &Settings) {
  if (!Settings.Present) return std::nullopt;
  HeapHobRecord Record;
  Record.Handle = kTokenStoreHandle;
  // Kept for the whole boot and beyond, as the components that read the tokens later need it.
  Record.Persistence = 4;
  Record.Data = LayOutTokenStore(Settings);
  return Record;
}

TokenStoreView DecodeTokenStore(const std::vector<uint8_t> &Bytes) {
  TokenStoreView View;
  View.Present = true;
  View.Size = uint32_t(Bytes.size());
  if (Bytes.size() < 12) {
    View.Table8.Problem = View.Table16.Problem = "the store is shorter than its header";
    return View;
  }
  View.Table8 = ReadTable(Bytes, 4, false);
  View.Table16 = ReadTable(Bytes, 8, true);
  return View;
}

}  // namespace sim
