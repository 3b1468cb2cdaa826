#include "sim/machine/S3TokenSettings.h"

#include "sim/machine/JsonFields.h"

namespace sim {
namespace {

// A part that may be switched off with the string "absent" instead of its object.
bool IsAbsent(const JsonCursor &Node) {
  if (Node.Value().is_string()) {
    if (Node.String() != "absent") Node.Fail("expected an object or \"absent\"");
    return true;
  }
  Node.ExpectObject();
  return false;
}

// A token table: {"capacity": 64, "tokens": [{"uid": "0x8043E855", "value": 1}]}.
void ReadTokenTable(const JsonCursor &Node, TokenTableSetting &Table, uint64_t MostValue) {
  if (IsAbsent(Node)) {
    Table.Present = false;
    return;
  }
  Node.OnlyKeys({"capacity", "tokens"});
  if (Node.Has("capacity")) Table.Capacity = uint32_t(Node.Field("capacity").Unsigned(0, kMostTokenTableBytes));
  if (!Node.Has("tokens")) return;
  const JsonCursor Tokens = Node.Field("tokens");
  Tokens.ExpectArray();
  for (size_t Index = 0; Index < Tokens.Value().size(); Index++) {
    const JsonCursor Entry = Tokens.Element(Index);
    Entry.OnlyKeys({"uid", "value"});
    Table.Tokens.push_back({uint32_t(Entry.Field("uid").Unsigned(0, 0xFFFFFFFF)),
                            uint16_t(Entry.Field("value").Unsigned(0, MostValue))});
  }
  // The owner may hand over more tokens than its capacity claims, but never more than the table holds.
  if (Table.Tokens.size() * 8 > kMostTokenTableBytes) Tokens.Fail("more tokens than a table can hold");
}

}  // namespace

void ReadTokenStore(const JsonCursor &Node, TokenStoreSettings &Settings) {
  if (IsAbsent(Node)) {
    Settings.Present = false;
    return;
  }
  Node.OnlyKeys({"table8", "table16"});
  if (Node.Has("table8")) ReadTokenTable(Node.Field("table8"), Settings.Table8, 0xFF);
  if (Node.Has("table16")) ReadTokenTable(Node.Field("table16"), Settings.Table16, 0xFFFF);
}

void ReadOcMessages(const JsonCursor &Node, OcMessageSettings &Settings) {
  if (IsAbsent(Node)) {
    Settings.Present = false;
    return;
  }
  Node.OnlyKeys({"revision", "first", "voltage", "frequency"});
  if (Node.Has("revision")) Settings.Revision = uint32_t(Node.Field("revision").Unsigned(0, 0xFFFFFFFF));
  if (Node.Has("first")) Settings.First = uint32_t(Node.Field("first").Unsigned(0, 0xFFFFFFFF));
  if (Node.Has("voltage")) Settings.Voltage = uint32_t(Node.Field("voltage").Unsigned(0, 0xFFFFFFFF));
  if (Node.Has("frequency")) Settings.Frequency = uint32_t(Node.Field("frequency").Unsigned(0, 0xFFFFFFFF));
}

// {"comm_buffer": true, "entries": [{"kind": 1, "data": [1, 2]}], "next_offset": "0x4000"}.
void ReadS3Platform(const JsonCursor &Node, S3PlatformSettings &Settings) {
  Node.OnlyKeys({"comm_buffer", "entries", "next_offset"});
  if (Node.Has("comm_buffer")) Settings.CommBuffer = Node.Field("comm_buffer").Boolean();
  if (Node.Has("next_offset")) Settings.NextOffset = Node.Field("next_offset").Unsigned();
  if (!Node.Has("entries")) return;
  const JsonCursor Entries = Node.Field("entries");
  Entries.ExpectArray();
  for (size_t Index = 0; Index < Entries.Value().size(); Index++) {
    const JsonCursor Entry = Entries.Element(Index);
    Entry.OnlyKeys({"kind", "data"});
    S3EntrySetting Setting;
    // Kind 0xFFFF is the end mark of the entry list, so no entry may carry it.
    Setting.Kind = uint16_t(Entry.Field("kind").Unsigned(0, 0xFFFE));
    if (Entry.Has("data")) {
      const JsonCursor Data = Entry.Field("data");
      Data.ExpectArray();
      if (Data.Value().size() > kMostS3EntryBytes) Data.Fail("more data than one entry may carry");
      for (size_t Byte = 0; Byte < Data.Value().size(); Byte++) {
        Setting.Data.push_back(uint8_t(Data.Element(Byte).Unsigned(0, 0xFF)));
      }
    }
    Settings.Entries.push_back(Setting);
  }
}

}  // namespace sim
