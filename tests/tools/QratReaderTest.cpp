// The reader of the resource affinity table on tables made here byte by byte: a sound table is
// read field by field, and every kind of damage is refused with the offset and the field.
#include "tools/QratReader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace ccxsim {
namespace {

void Put(std::vector<uint8_t> &Bytes, size_t Offset, uint64_t Value, size_t Width) {
  for (size_t Index = 0; Index < Width; Index++) Bytes[Offset + Index] = uint8_t(Value >> (8 * Index));
}

void Seal(std::vector<uint8_t> &Bytes) {
  Put(Bytes, 4, Bytes.size(), 4);
  Bytes[9] = 0;
  uint8_t Sum = 0;
  for (uint8_t Byte : Bytes) Sum = uint8_t(Sum + Byte);
  Bytes[9] = uint8_t(-Sum);
}

// A table of one compute unit (domain 1, APIC ID 0x10, 16 threads), one cache shared by threads
// 2 and 3 and one TLB, as the builder lays it out.
std::vector<uint8_t> SoundTable() {
  std::vector<uint8_t> Bytes(48 + 40 + 64 + 64, 0);
  std::memcpy(Bytes.data(), "QRAT", 4);
  Bytes[8] = 1;
  std::memcpy(Bytes.data() + 10, "CCXSIM", 6);
  std::memcpy(Bytes.data() + 16, "CCXQRAT ", 8);
  Put(Bytes, 36, 3, 4);  // total entries
  Put(Bytes, 40, 1, 2);  // compute units
  size_t Unit = 48;
  Bytes[Unit] = 0, Bytes[Unit + 1] = 40;
  Put(Bytes, Unit + 4, 5, 4);
  Put(Bytes, Unit + 8, 1, 4);
  Put(Bytes, Unit + 12, 0x10, 4);
  Put(Bytes, Unit + 16, 16, 2);
  Bytes[Unit + 28] = 4;
  size_t Cache = Unit + 40;
  Bytes[Cache] = 2, Bytes[Cache + 1] = 64;
  Put(Bytes, Cache + 4, 0xB, 4);
  Put(Bytes, Cache + 8, 2, 4);
  Bytes[Cache + 12] = 0x0C;
  Put(Bytes, Cache + 44, 1024, 4);
  Bytes[Cache + 48] = 2;
  Put(Bytes, Cache + 50, 64, 2);
  Bytes[Cache + 52] = 8;
  size_t Tlb = Cache + 64;
  Bytes[Tlb] = 3, Bytes[Tlb + 1] = 64;
  Put(Bytes, Tlb + 4, 0x2B, 4);
  Put(Bytes, Tlb + 44, 2, 4);
  Bytes[Tlb + 52] = 8, Bytes[Tlb + 53] = 8;
  Seal(Bytes);
  return Bytes;
}

TEST(QratReaderTest, ReadsEveryEntryWithItsFieldsNamed) {
  const QratTable Table = ReadQrat(SoundTable(), "QRAT.dat");
  EXPECT_TRUE(Table.ChecksumCorrect);
  EXPECT_EQ(Table.HeaderField("Signature").Text, "\"QRAT\"");
  EXPECT_EQ(Table.HeaderField("Total Entries").Value, 3u);
  EXPECT_EQ(Table.HeaderField("Compute Unit Count").Offset, 40u);
  ASSERT_EQ(Table.Entries.size(), 3u);
  EXPECT_EQ(Table.Entries[0].Kind, "Compute Unit");
  EXPECT_EQ(Table.Entries[0].Field("Proximity Domain").Value, 1u);
  EXPECT_EQ(Table.Entries[0].Field("APIC ID").Value, 0x10u);
  EXPECT_EQ(Table.Entries[0].Field("Thread Count").Value, 16u);
  EXPECT_EQ(Table.Entries[1].Field("Sibling Map").Text, "positions 2-3");
  EXPECT_EQ(Table.Entries[1].Field("Cache Size (KB)").Value, 1024u);
  EXPECT_EQ(Table.Entries[1].Field("Flags").Text, "0000000B [data]");
  EXPECT_EQ(Table.Entries[2].Field("TLB Level").Value, 2u);
  EXPECT_EQ(Table.Entries[2].Field("Data 4K Entries").Value, 8u);
  EXPECT_EQ(Table.Entries[2].Field("Flags").Text, "0000002B [data, 4K count x256]");

  const std::string Listing = QratListing(Table, "QRAT.dat");
  EXPECT_NE(Listing.find("[030h 0048   1]                Subtable Type : 00 [Compute Unit]\n"), std::string::npos)
      << Listing;
  EXPECT_NE(Listing.find("[034h 0052   4]                        Flags : 00000005\n"), std::string::npos) << Listing;
  EXPECT_EQ(Listing.find("Incorrect checksum"), std::string::npos);
}

TEST(QratReaderTest, AWrongChecksumIsShownAndTheTableStillRead) {
  std::vector<uint8_t> Bytes = SoundTable();
  Bytes[9] ^= 1;
  const QratTable Table = ReadQrat(Bytes, "QRAT.dat");
  EXPECT_FALSE(Table.ChecksumCorrect);
  EXPECT_NE(QratListing(Table, "QRAT.dat").find("Checksum : "), std::string::npos);
  EXPECT_NE(QratListing(Table, "QRAT.dat").find("Incorrect checksum"), std::string::npos);
}

struct Damage {
  const char *Name;
  void (*Apply)(std::vector<uint8_t> &);
  size_t Offset;
  const char *Field;
  const char *Problem;
};

const Damage kDamages[] = {
    {"CutInsideTheHeader", [](std::vector<uint8_t> &B) { B.resize(30); }, 0x1C, "Asl Compiler ID",
     "needs 4 bytes, but the table ends at offset 0x1E (30)"},
    {"CutShortOfItsLength", [](std::vector<uint8_t> &B) { B.resize(100); }, 4, "Table Length",
     "216 bytes, but the file has 100 (cut short)"},
    {"CutInsideAnEntryWithTheLengthToMatch",
     [](std::vector<uint8_t> &B) {
       B.resize(48 + 40 + 30);
       Seal(B);
     },
     88, "entry 1 (Cache, 64 bytes)", "needs 64 bytes, but the table ends at offset 0x76 (118)"},
    {"CutAfterAnEntrysType",
     [](std::vector<uint8_t> &B) {
       B.resize(48 + 40 + 1);
       Seal(B);
     },
     89, "entry 1 Length", "needs 1 byte, but the table ends at offset 0x59 (89)"},
    {"AnEntryLengthOfZero",
     [](std::vector<uint8_t> &B) {
       B[89] = 0;
       Seal(B);
     },
     89, "entry 1 Length", "0, but a Cache entry is 64 bytes"},
    {"AnUnknownEntryType",
     [](std::vector<uint8_t> &B) {
       B[152] = 5;
       Seal(B);
     },
     152, "entry 2 Type", "unknown entry type 05"},
    {"MoreEntriesCountedThanThereAre",
     [](std::vector<uint8_t> &B) {
       Put(B, 36, 4, 4);
       Seal(B);
     },
     36, "Total Entries", "4, but the table holds 3 entries"},
    {"ComputeUnitsCountedWrong",
     [](std::vector<uint8_t> &B) {
       Put(B, 40, 2, 2);
       Seal(B);
     },
     40, "Compute Unit Count", "2, but the table holds 1 compute-unit entries"},
    {"AnotherSignature",
     [](std::vector<uint8_t> &B) { std::memcpy(B.data(), "SRAT", 4); }, 0, "Signature",
     "\"SRAT\" is not \"QRAT\""},
    {"AnEmptyFile", [](std::vector<uint8_t> &B) { B.clear(); }, 0, "Signature",
     "needs 4 bytes, but the table ends at offset 0x0 (0)"},
};

void PrintTo(const Damage &Case, std::ostream *Out) { *Out << Case.Name; }

class QratDamageTest : public testing::TestWithParam<Damage> {};

TEST_P(QratDamageTest, IsRefusedWithTheFileTheOffsetAndTheField) {
  std::vector<uint8_t> Bytes = SoundTable();
  GetParam().Apply(Bytes);
  try {
    ReadQrat(Bytes, "out/acpi/QRAT.dat");
    FAIL() << "the damaged table was read";
  } catch (const QratError &Error) {
    EXPECT_EQ(Error.Offset(), GetParam().Offset);
    EXPECT_EQ(Error.Field(), GetParam().Field);
    const std::string Expected = "out/acpi/QRAT.dat: offset 0x" + [&] {
      char Text[16];
      std::snprintf(Text, sizeof(Text), "%zX (%zu)", GetParam().Offset, GetParam().Offset);
      return std::string(Text);
    }() + ": " + GetParam().Field + ": " + GetParam().Problem;
    EXPECT_EQ(Error.what(), Expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Damages, QratDamageTest, testing::ValuesIn(kDamages),
                         [](const testing::TestParamInfo<Damage> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace ccxsim
