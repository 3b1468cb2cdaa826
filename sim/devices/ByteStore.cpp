#include "sim/devices/ByteStore.h"

#include <stdexcept>
#include <string>

namespace sim {

void ByteStore::Check(uint64_t Offset, unsigned Width) const {
  if (Width == 0 || Width > 8 || Offset > Bytes_.size() || Width > Bytes_.size() - Offset) {
    throw std::out_of_range("register store of " + std::to_string(Bytes_.size()) +
                            " bytes: access of " + std::to_string(Width) + " bytes at offset " +
                            std::to_string(Offset));
  }
}

uint64_t ByteStore::Get(uint64_t Offset, unsigned Width) const {
  Check(Offset, Width);
  uint64_t Value = 0;
  for (unsigned I = 0; I < Width; ++I) {
    Value |= static_cast<uint64_t>(Bytes_[Offset + I]) << (8 * I);
  }
  return Value;
}

void ByteStore::Set(uint64_t Offset, unsigned Width, uint64_t Value) {
  Check(Offset, Width);
  for (unsigned I = 0; I < Width; ++I) {
    Bytes_[Offset + I] = static_cast<uint8_t>(Value >> (8 * I));
  }
}

}  // namespace sim
