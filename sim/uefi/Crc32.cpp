#include "sim/uefi/Crc32.h"

#include <array>

namespace sim {

namespace {

constexpr uint32_t kReflectedPolynomial = 0xEDB88320U;

constexpr std::array<uint32_t, 256> MakeTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t index = 0; index < 256; index++) {
    uint32_t value = index;
    for (int bit = 0; bit < 8; bit++) {
      value = (value & 1U) ? (value >> 1) ^ kReflectedPolynomial : value >> 1;
    }
    table[index] = value;
  }
  return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();

}  // namespace

uint32_t Crc32(const void *data, size_t size) {
  const auto *bytes = static_cast<const uint8_t *>(data);
  uint32_t crc = 0xFFFFFFFFU;
  for (size_t index = 0; index < size; index++) {
    crc = kTable[(crc ^ bytes[index]) & 0xFFU] ^ (crc >> 8);
  }
  return crc ^ 0xFFFFFFFFU;
}

}  // namespace sim
