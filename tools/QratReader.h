// A reader of the resource affinity table ("QRAT") as bytes in a file: the ACPI header, the two
// counters and the reserved bytes of the fixed part, then every compute-unit, cache and TLB entry
// with its fields named. It trusts nothing in the file: every field is read only after its bytes
// are known to be there, and a table that is cut short or contradicts itself is refused with the
// file, the offset and the field.
#ifndef TOOLS_QRAT_READER_H_
#define TOOLS_QRAT_READER_H_

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace ccxsim {

// One field as it lies in the table: where, how many bytes, its name, its value (for a field of up
// to eight bytes) and the text the listing shows for it.
struct QratField {
  size_t Offset = 0;
  size_t Width = 0;
  std::string Name;
  uint64_t Value = 0;
  std::string Text;
};

struct QratEntry {
  uint8_t Type = 0;
  std::string Kind;  // "Compute Unit", "Cache", "TLB"
  size_t Offset = 0;
  std::vector<QratField> Fields;

  // The field called Name; throws std::out_of_range when the entry has none.
  const QratField &Field(const std::string &Name) const;
};

struct QratTable {
  std::vector<QratField> Header;
  std::vector<QratEntry> Entries;
  // False when the bytes do not sum to 0; the listing says so, as iasl does.
  bool ChecksumCorrect = true;

  const QratField &HeaderField(const std::string &Name) const;
};

// Raised for a table that cannot be read: "FILE: offset 0x30: Compute Unit 0 Length: ...".
class QratError : public std::runtime_error {
 public:
  QratError(const std::string &Source, size_t Offset, const std::string &Field, const std::string &Problem);
  size_t Offset() const { return Offset_; }
  const std::string &Field() const { return Field_; }

 private:
  size_t Offset_;
  std::string Field_;
};

// Reads Bytes, which came from Source (a file name, for the messages).
QratTable ReadQrat(const std::vector<uint8_t> &Bytes, const std::string &Source);

// The table in the layout of iasl's disassembly: "[030h 0048   1]   Subtable Type : 00 [Compute Unit]".
std::string QratListing(const QratTable &Table, const std::string &Source);

}  // namespace ccxsim

#endif  // TOOLS_QRAT_READER_H_
