#include "sim/consumers/AcpiTableBytes.h"

#include <cstring>

namespace sim {
namespace {

constexpr size_t kLengthOffset = 4;
constexpr size_t kChecksumOffset = 9;

void PutText(std::vector<uint8_t> &Bytes, const std::string &Text, size_t Width) {
  for (size_t Index = 0; Index < Width; Index++) Bytes.push_back(Index < Text.size() ? uint8_t(Text[Index]) : ' ');
}

}  // namespace

AcpiTableBytes::AcpiTableBytes(const char (&Signature)[5], uint8_t Revision, const std::string &OemTableId) {
  Bytes_.reserve(64);
  for (unsigned Index = 0; Index < 4; Index++) Bytes_.push_back(uint8_t(Signature[Index]));
  Put32(0);  // length, settled by Finish
  Put8(Revision);
  Put8(0);  // checksum, settled by Finish
  PutText(Bytes_, "QORVEX", 6);
  PutText(Bytes_, OemTableId, 8);
  Put32(1);  // OEM revision
  PutText(Bytes_, "QVSM", 4);
  Put32(1);  // creator revision
}

void AcpiTableBytes::PutBytes(const void *Data, size_t Size) {
  const auto *Source = static_cast<const uint8_t *>(Data);
  for (size_t Index = 0; Index < Size; Index++) Bytes_.push_back(Source[Index]);
}

void AcpiTableBytes::PutLittleEndian(uint64_t Value, unsigned Width) {
  for (unsigned Index = 0; Index < Width; Index++) Bytes_.push_back(uint8_t(Value >> (8 * Index)));
}

std::vector<uint8_t> AcpiTableBytes::Finish() {
  const uint32_t Length = static_cast<uint32_t>(Bytes_.size());
  std::memcpy(Bytes_.data() + kLengthOffset, &Length, sizeof(Length));
  Bytes_[kChecksumOffset] = 0;
  Bytes_[kChecksumOffset] = ChecksumFor(Bytes_.data(), Bytes_.size());
  return Bytes_;
}

uint8_t ChecksumFor(const uint8_t *Bytes, size_t Size) {
  uint8_t Sum = 0;
  for (size_t Index = 0; Index < Size; Index++) Sum = uint8_t(Sum + Bytes[Index]);
  return uint8_t(0x100 - Sum);
}

}  // namespace sim
