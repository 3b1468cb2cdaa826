#include "tools/QratReader.h"

#include <cstdio>
#include <cstring>

#include "interfaces/AcpiStructures.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "sim/HexText.h"
#include "sim/consumers/AffinityTableBuilder.h"

namespace ccxsim {
namespace {

// The fixed part the table's builder writes: the ACPI header, the total entry count, the
// compute-unit count and reserved bytes up to the first entry.
constexpr size_t kCountersEnd = sizeof(CCX_RESOURCE_AFFINITY_TABLE_HEADER);
constexpr size_t kFixedSize = sim::kAffinityTableFixedSize;
constexpr size_t kSiblingMapBytes = sizeof(CCX_AFFINITY_CACHE_ENTRY::SiblingMap);

std::string HexDigits(uint64_t Value, size_t Width) {
  char Text[24];
  std::snprintf(Text, sizeof(Text), "%0*llX", int(Width * 2), static_cast<unsigned long long>(Value));
  return Text;
}

std::string Printable(const uint8_t *Bytes, size_t Count) {
  std::string Text;
  for (size_t Index = 0; Index < Count; Index++) {
    Text += (Bytes[Index] >= 0x20 && Bytes[Index] < 0x7F) ? char(Bytes[Index]) : '.';
  }
  return Text;
}

// The walk positions a sibling map names, runs written as ranges: "0-7, 16".
std::string MapPositions(const uint8_t *Map) {
  std::string Text;
  for (size_t Bit = 0; Bit < kSiblingMapBytes * 8;) {
    if ((Map[Bit / 8] >> (Bit % 8) & 1) == 0) {
      Bit++;
      continue;
    }
    size_t End = Bit;
    while (End + 1 < kSiblingMapBytes * 8 && (Map[(End + 1) / 8] >> ((End + 1) % 8) & 1) != 0) End++;
    Text += (Text.empty() ? "" : ", ") + std::to_string(Bit) + (End > Bit ? "-" + std::to_string(End) : "");
    Bit = End + 1;
  }
  return Text.empty() ? "none" : Text;
}

std::string FlagNames(uint32_t Flags) {
  std::string Text;
  auto Add = [&](uint32_t Bit, const char *Name) {
    if ((Flags & Bit) != 0) Text += (Text.empty() ? "" : ", ") + std::string(Name);
  };
  Add(CCX_AFFINITY_FLAG_DATA, "data");
  Add(CCX_AFFINITY_FLAG_INSTRUCTION, "instruction");
  Add(CCX_AFFINITY_TLB_FLAG_4K_IN_256, "4K count x256");
  Add(CCX_AFFINITY_TLB_FLAG_2M_IN_256, "2M count x256");
  Add(CCX_AFFINITY_TLB_FLAG_1G_IN_256, "1G count x256");
  return Text.empty() ? "" : " [" + Text + "]";
}

// Reads named fields of the table, each only once its bytes are known to lie inside the table.
class FieldReader {
 public:
  FieldReader(const std::vector<uint8_t> &Bytes, size_t End, const std::string &Source)
      : Bytes_(Bytes), End_(End), Source_(Source) {}

  void SetEnd(size_t End) { End_ = End; }

  // A little-endian number of Width bytes (1 to 8) at Offset.
  QratField Number(size_t Offset, size_t Width, const std::string &Name) {
    Require(Offset, Width, Name);
    QratField Field{Offset, Width, Name, 0, ""};
    for (size_t Index = 0; Index < Width; Index++) Field.Value |= uint64_t(Bytes_[Offset + Index]) << (8 * Index);
    Field.Text = HexDigits(Field.Value, Width);
    return Field;
  }

  // Width bytes shown as text ("QRAT") or as hexadecimal bytes.
  QratField Text(size_t Offset, size_t Width, const std::string &Name) {
    Require(Offset, Width, Name);
    return {Offset, Width, Name, 0, "\"" + Printable(Bytes_.data() + Offset, Width) + "\""};
  }
  QratField Raw(size_t Offset, size_t Width, const std::string &Name) {
    Require(Offset, Width, Name);
    std::string Text;
    for (size_t Index = 0; Index < Width; Index++) Text += (Index ? " " : "") + HexDigits(Bytes_[Offset + Index], 1);
    return {Offset, Width, Name, 0, Text};
  }
  const uint8_t *At(size_t Offset) const { return Bytes_.data() + Offset; }

  void Require(size_t Offset, size_t Width, const std::string &Name) const {
    if (Offset > End_ || Width > End_ - Offset) {
      throw QratError(Source_, Offset, Name,
                      "needs " + std::to_string(Width) + (Width == 1 ? " byte" : " bytes") +
                          ", but the table ends at offset " + sim::Hex(End_) + " (" + std::to_string(End_) + ")");
    }
  }

 private:
  const std::vector<uint8_t> &Bytes_;
  size_t End_;
  const std::string &Source_;
};

std::vector<QratField> ReadHeader(FieldReader &Reader) {
  using Header = EFI_ACPI_DESCRIPTION_HEADER;
  return {Reader.Text(offsetof(Header, Signature), 4, "Signature"),
          Reader.Number(offsetof(Header, Length), 4, "Table Length"),
          Reader.Number(offsetof(Header, Revision), 1, "Revision"),
          Reader.Number(offsetof(Header, Checksum), 1, "Checksum"),
          Reader.Text(offsetof(Header, OemId), 6, "Oem ID"),
          Reader.Text(offsetof(Header, OemTableId), 8, "Oem Table ID"),
          Reader.Number(offsetof(Header, OemRevision), 4, "Oem Revision"),
          Reader.Text(offsetof(Header, CreatorId), 4, "Asl Compiler ID"),
          Reader.Number(offsetof(Header, CreatorRevision), 4, "Asl Compiler Revision"),
          Reader.Number(offsetof(CCX_RESOURCE_AFFINITY_TABLE_HEADER, TotalEntries), 4, "Total Entries"),
          Reader.Number(offsetof(CCX_RESOURCE_AFFINITY_TABLE_HEADER, ComputeUnitEntries), 2, "Compute Unit Count"),
          Reader.Raw(kCountersEnd, kFixedSize - kCountersEnd, "Reserved")};
}

// The fields of one entry at Base, laid out as the entry types define them.
void ReadEntryFields(FieldReader &Reader, QratEntry &Entry, const std::string &Prefix) {
  const size_t Base = Entry.Offset;
  auto Number = [&](size_t Offset, size_t Width, const std::string &Name) {
    Entry.Fields.push_back(Reader.Number(Base + Offset, Width, Prefix + Name));
    Entry.Fields.back().Name = Name;
  };
  auto SiblingMap = [&](size_t Offset) {
    Reader.Require(Base + Offset, kSiblingMapBytes, Prefix + "Sibling Map");
    Entry.Fields.push_back({Base + Offset, kSiblingMapBytes, "Sibling Map", 0,
                            "positions " + MapPositions(Reader.At(Base + Offset))});
  };
  // The data, instruction and count bits belong to caches and TLBs; a compute unit's flags are
  // shown as they stand.
  auto Flags = [&](size_t Offset) {
    Number(Offset, 4, "Flags");
    QratField &Field = Entry.Fields.back();
    if (Entry.Type != CCX_AFFINITY_TYPE_COMPUTE_UNIT) Field.Text += FlagNames(uint32_t(Field.Value));
  };
  switch (Entry.Type) {
    case CCX_AFFINITY_TYPE_COMPUTE_UNIT: {
      using Unit = CCX_AFFINITY_COMPUTE_UNIT_ENTRY;
      Flags(offsetof(Unit, Flags));
      Number(offsetof(Unit, ProximityDomain), 4, "Proximity Domain");
      Number(offsetof(Unit, ApicId), 4, "APIC ID");
      Number(offsetof(Unit, ThreadCount), 2, "Thread Count");
      Number(offsetof(Unit, Byte28), 1, "Byte 28");
      break;
    }
    case CCX_AFFINITY_TYPE_CACHE: {
      using Cache = CCX_AFFINITY_CACHE_ENTRY;
      Flags(offsetof(Cache, Flags));
      Number(offsetof(Cache, ApicId), 4, "APIC ID");
      SiblingMap(offsetof(Cache, SiblingMap));
      Number(offsetof(Cache, CacheSizeInKb), 4, "Cache Size (KB)");
      Number(offsetof(Cache, CacheLevel), 1, "Cache Level");
      Number(offsetof(Cache, Byte49), 1, "Byte 49");
      Number(offsetof(Cache, LineSize), 2, "Line Size");
      Number(offsetof(Cache, Associativity), 1, "Associativity");
      Number(offsetof(Cache, InclusiveFlag), 1, "Inclusive");
      Number(offsetof(Cache, Word54), 2, "Word 54");
      break;
    }
    case CCX_AFFINITY_TYPE_TLB: {
      using Tlb = CCX_AFFINITY_TLB_ENTRY;
      Flags(offsetof(Tlb, Flags));
      Number(offsetof(Tlb, ApicId), 4, "APIC ID");
      SiblingMap(offsetof(Tlb, SiblingMap));
      Number(offsetof(Tlb, TlbLevel), 4, "TLB Level");
      const std::pair<size_t, const char *> Pairs[] = {
          {offsetof(Tlb, DataTlb2M), "Data 2M"},          {offsetof(Tlb, InstructionTlb2M), "Instruction 2M"},
          {offsetof(Tlb, DataTlb4K), "Data 4K"},          {offsetof(Tlb, InstructionTlb4K), "Instruction 4K"},
          {offsetof(Tlb, DataTlb1G), "Data 1G"},          {offsetof(Tlb, InstructionTlb1G), "Instruction 1G"}};
      for (const auto &[Offset, Name] : Pairs) {
        Number(Offset + offsetof(CCX_AFFINITY_TLB_PAIR, Associativity), 1, std::string(Name) + " Associativity");
        Number(Offset + offsetof(CCX_AFFINITY_TLB_PAIR, Entries), 1, std::string(Name) + " Entries");
      }
      break;
    }
    default:
      break;  // type 4 has a length but no fields of its own
  }
}

struct EntryKind {
  uint8_t Type;
  const char *Name;
  size_t Length;
};
// Type 4 is accepted by the services' append routine with a 64-byte length but never written.
constexpr EntryKind kKinds[] = {
    {CCX_AFFINITY_TYPE_COMPUTE_UNIT, "Compute Unit", sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY)},
    {CCX_AFFINITY_TYPE_CACHE, "Cache", sizeof(CCX_AFFINITY_CACHE_ENTRY)},
    {CCX_AFFINITY_TYPE_TLB, "TLB", sizeof(CCX_AFFINITY_TLB_ENTRY)},
    {4, "Type 4", sizeof(CCX_AFFINITY_TLB_ENTRY)}};

const EntryKind *KindOf(uint8_t Type) {
  for (const EntryKind &Kind : kKinds) {
    if (Kind.Type == Type) return &Kind;
  }
  return nullptr;
}

}  // namespace

QratError::QratError(const std::string &Source, size_t Offset, const std::string &Field, const std::string &Problem)
    : std::runtime_error(Source + ": offset " + sim::Hex(Offset) + " (" + std::to_string(Offset) + "): " + Field +
                         ": " + Problem),
      Offset_(Offset),
      Field_(Field) {}

const QratField &QratEntry::Field(const std::string &Name) const {
  for (const QratField &Candidate : Fields) {
    if (Candidate.Name == Name) return Candidate;
  }
  throw std::out_of_range(Kind + " entry has no field " + Name);
}

const QratField &QratTable::HeaderField(const std::string &Name) const {
  for (const QratField &Candidate : Header) {
    if (Candidate.Name == Name) return Candidate;
  }
  throw std::out_of_range("the header has no field " + Name);
}

QratTable ReadQrat(const std::vector<uint8_t> &Bytes, const std::string &Source) {
  QratTable Table;
  FieldReader Reader(Bytes, Bytes.size(), Source);
  const QratField Signature = Reader.Text(offsetof(EFI_ACPI_DESCRIPTION_HEADER, Signature), 4, "Signature");
  if (std::memcmp(Bytes.data(), sim::kAffinityTableSignature, 4) != 0) {
    throw QratError(Source, 0, "Signature",
                    Signature.Text + " is not \"" + std::string(sim::kAffinityTableSignature) + "\"");
  }
  Table.Header = ReadHeader(Reader);
  const uint64_t Length = Table.HeaderField("Table Length").Value;
  if (Length != Bytes.size()) {
    throw QratError(Source, offsetof(EFI_ACPI_DESCRIPTION_HEADER, Length), "Table Length",
                    std::to_string(Length) + " bytes, but the file has " + std::to_string(Bytes.size()) +
                        (Length > Bytes.size() ? " (cut short)" : ""));
  }
  uint8_t Sum = 0;
  for (uint8_t Byte : Bytes) Sum = uint8_t(Sum + Byte);
  Table.ChecksumCorrect = Sum == 0;
  Reader.SetEnd(Length);

  size_t ComputeUnits = 0;
  for (size_t Offset = kFixedSize; Offset < Length;) {
    const std::string Prefix = "entry " + std::to_string(Table.Entries.size()) + " ";
    const QratField Type = Reader.Number(Offset + offsetof(CCX_AFFINITY_ENTRY_HEADER, Type), 1, Prefix + "Type");
    const QratField Size = Reader.Number(Offset + offsetof(CCX_AFFINITY_ENTRY_HEADER, Length), 1, Prefix + "Length");
    const EntryKind *Kind = KindOf(uint8_t(Type.Value));
    if (Kind == nullptr) throw QratError(Source, Type.Offset, Prefix + "Type", "unknown entry type " + Type.Text);
    if (Size.Value != Kind->Length) {
      throw QratError(Source, Size.Offset, Prefix + "Length",
                      std::to_string(Size.Value) + ", but a " + Kind->Name + " entry is " +
                          std::to_string(Kind->Length) + " bytes");
    }
    Reader.Require(Offset, Kind->Length, Prefix + "(" + Kind->Name + ", " + std::to_string(Kind->Length) + " bytes)");
    QratEntry &Entry = Table.Entries.emplace_back();
    Entry.Type = uint8_t(Type.Value);
    Entry.Kind = Kind->Name;
    Entry.Offset = Offset;
    Entry.Fields = {Type, Size};
    Entry.Fields[0].Name = "Subtable Type";
    Entry.Fields[0].Text += std::string(" [") + Kind->Name + "]";
    Entry.Fields[1].Name = "Length";
    ReadEntryFields(Reader, Entry, Prefix);
    ComputeUnits += Entry.Type == CCX_AFFINITY_TYPE_COMPUTE_UNIT;
    Offset += Kind->Length;
  }

  const QratField &Total = Table.HeaderField("Total Entries");
  if (Total.Value != Table.Entries.size()) {
    throw QratError(Source, Total.Offset, Total.Name,
                    std::to_string(Total.Value) + ", but the table holds " + std::to_string(Table.Entries.size()) +
                        " entries");
  }
  const QratField &Units = Table.HeaderField("Compute Unit Count");
  if (Units.Value != ComputeUnits) {
    throw QratError(Source, Units.Offset, Units.Name,
                    std::to_string(Units.Value) + ", but the table holds " + std::to_string(ComputeUnits) +
                        " compute-unit entries");
  }
  return Table;
}

std::string QratListing(const QratTable &Table, const std::string &Source) {
  std::string Text = "/*\n * Resource affinity table, decoded by ccxsim tables\n *\n * From " + Source + "\n */\n\n";
  auto Line = [&](const QratField &Field, const std::string &Suffix) {
    char Prefix[64];
    std::snprintf(Prefix, sizeof(Prefix), "[%03zXh %04zu %3zu] %28s : ", Field.Offset, Field.Offset, Field.Width,
                  Field.Name.c_str());
    Text += Prefix + Field.Text + Suffix + "\n";
  };
  for (const QratField &Field : Table.Header) {
    Line(Field, Field.Name == "Checksum" && !Table.ChecksumCorrect ? "     /* Incorrect checksum */" : "");
  }
  for (const QratEntry &Entry : Table.Entries) {
    Text += "\n";
    for (const QratField &Field : Entry.Fields) Line(Field, "");
  }
  return Text;
}

}  // namespace ccxsim
