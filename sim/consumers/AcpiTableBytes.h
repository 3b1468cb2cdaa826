// An ACPI table as bytes: the 36-byte description header, a body appended field by field in
// little-endian order, and the length and checksum settled once the body is complete.
#ifndef SIM_CONSUMERS_ACPI_TABLE_BYTES_H_
#define SIM_CONSUMERS_ACPI_TABLE_BYTES_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class AcpiTableBytes {
 public:
  AcpiTableBytes(const char (&Signature)[5], uint8_t Revision, const std::string &OemTableId);

  void Put8(uint8_t Value) { Bytes_.push_back(Value); }
  void Put16(uint16_t Value) { PutLittleEndian(Value, 2); }
  void Put32(uint32_t Value) { PutLittleEndian(Value, 4); }
  void Put64(uint64_t Value) { PutLittleEndian(Value, 8); }
  void PutBytes(const void *Data, size_t Size);
  void PutZeros(size_t Count) { Bytes_.insert(Bytes_.end(), Count, 0); }
  size_t Size() const { return Bytes_.size(); }
  uint8_t *At(size_t Offset) { return Bytes_.data() + Offset; }

  // Writes the length and the checksum that makes every byte of the table sum to 0.
  std::vector<uint8_t> Finish();

 private:
  void PutLittleEndian(uint64_t Value, unsigned Width);
  std::vector<uint8_t> Bytes_;
};

// The byte that makes Bytes sum to 0 modulo 256.
uint8_t ChecksumFor(const uint8_t *Bytes, size_t Size);

}  // namespace sim

#endif  // SIM_CONSUMERS_ACPI_TABLE_BYTES_H_
