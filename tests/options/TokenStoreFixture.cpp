#include "tests/options/TokenStoreFixture.h"

#include <cstring>

#include "driver/Heap.h"
#include "interfaces/ActDb.h"

namespace {

void PutWord(std::vector<uint8_t> &Bytes, size_t Offset, uint32_t Value) { std::memcpy(&Bytes[Offset], &Value, 4); }

uint32_t WordAt(const uint8_t *Bytes) {
  uint32_t Value = 0;
  std::memcpy(&Value, Bytes, 4);
  return Value;
}

// A token table: header {reserved, capacity, count, reserved} and room for Capacity bytes.
void AppendTable(std::vector<uint8_t> &Bytes, const TokenTableShape &Shape, bool Wide, size_t OffsetField) {
  const size_t Offset = Bytes.size();
  PutWord(Bytes, OffsetField, static_cast<uint32_t>(Offset));
  Bytes.resize(Offset + 16 + Shape.Capacity, 0xEE);
  PutWord(Bytes, Offset, 0);
  PutWord(Bytes, Offset + 4, Shape.Capacity);
  PutWord(Bytes, Offset + 8, static_cast<uint32_t>(Shape.Tokens.size()));
  PutWord(Bytes, Offset + 12, 0);
  for (size_t Index = 0; Index < Shape.Tokens.size(); Index++) {
    const size_t Entry = Offset + 16 + Index * 8;
    PutWord(Bytes, Entry, Shape.Tokens[Index].first);
    Bytes[Entry + 4] = static_cast<uint8_t>(Shape.Tokens[Index].second);
    if (Wide) Bytes[Entry + 5] = static_cast<uint8_t>(Shape.Tokens[Index].second >> 8);
  }
}

}  // namespace

TokenStoreFixture::TokenStoreFixture() {
  image::HeapStartup();
  Firmware.PortWrites.clear();
}

void TokenStoreFixture::MakeStore(std::optional<TokenTableShape> Table8, std::optional<TokenTableShape> Table16,
                                  uint32_t Slack) {
  std::vector<uint8_t> Bytes(16, 0);
  PutWord(Bytes, 0, 0x31424441);
  if (Table8) AppendTable(Bytes, *Table8, false, 4);
  if (Table16) AppendTable(Bytes, *Table16, true, 8);
  Bytes.resize(Bytes.size() + Slack, 0xEE);
  MakeRawStore(Bytes);
}

void TokenStoreFixture::MakeRawStore(const std::vector<uint8_t> &Bytes) {
  HEAP_ALLOCATE_REQUEST Request = {};
  Request.Size = static_cast<uint32_t>(Bytes.size());
  Request.Handle = HEAP_HANDLE_ACT_DB;
  Request.Persistence = 4;
  ASSERT_EQ(image::HeapAllocateBuffer(&Request), HEAP_SUCCESS);
  Store_ = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Request.Buffer));
  Size_ = Request.Size;
  std::memcpy(Store_, Bytes.data(), Bytes.size());
}

std::vector<uint8_t> TokenStoreFixture::StoreBytes() const { return {Store_, Store_ + Size_}; }

uint32_t TokenStoreFixture::TableOffset(bool Wide) const { return WordAt(Store_ + (Wide ? 8 : 4)); }

uint32_t TokenStoreFixture::Count(bool Wide) const { return WordAt(Store_ + TableOffset(Wide) + 8); }

std::vector<std::pair<uint32_t, uint16_t>> TokenStoreFixture::Tokens(bool Wide) const {
  std::vector<std::pair<uint32_t, uint16_t>> Result;
  const uint8_t *Entries = Store_ + TableOffset(Wide) + 16;
  for (uint32_t Index = 0; Index < Count(Wide); Index++) {
    const uint8_t *Entry = Entries + Index * 8;
    const uint16_t Value = Wide ? static_cast<uint16_t>(Entry[4] | Entry[5] << 8) : Entry[4];
    Result.emplace_back(WordAt(Entry), Value);
  }
  return Result;
}
