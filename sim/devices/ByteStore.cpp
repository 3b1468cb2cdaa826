#include "sim/devices/ByteStore.h"

#include <stdexcept>
#include <string>

namespace sim {

void ByteStore::Check(uint64_t Offset, unsigned Width) const {
  if (Width == 0 || Width > 8 || Offset > Size_ || Width > Size_ - Offset) {
    throw std::out_of_range("register store of " + std::to_string(Size_) +
                            " bytes: access of " + std::to_string(Width) + " bytes at offset " +
                            std::to_string(Offset));
  }
}

uint8_t ByteStore::ByteAt(uint64_t Offset) const {
  const std::unique_ptr<uint8_t[]> &Page = Pages_[Offset / kPageSize];
  return Page ? Page[Offset % kPageSize] : 0;
}

uint64_t ByteStore::Get(uint64_t Offset, unsigned Width) const {
  Check(Offset, Width);
  uint64_t Value = 0;
  for (unsigned I = 0; I < Width; ++I) {
    Value |= static_cast<uint64_t>(ByteAt(Offset + I)) << (8 * I);
  }
  return Value;
}

void ByteStore::Set(uint64_t Offset, unsigned Width, uint64_t Value) {
  Check(Offset, Width);
  for (unsigned I = 0; I < Width; ++I) {
    std::unique_ptr<uint8_t[]> &Page = Pages_[(Offset + I) / kPageSize];
    if (!Page) Page = std::make_unique<uint8_t[]>(kPageSize);  // value-initialized: zero
    Page[(Offset + I) % kPageSize] = static_cast<uint8_t>(Value >> (8 * I));
  }
}

}  // namespace sim
