// The CRC-32 that UEFI uses for table headers and CalculateCrc32: the IEEE 802.3 polynomial,
// reflected, initial value and final XOR all ones.
#ifndef SIM_UEFI_CRC32_H_
#define SIM_UEFI_CRC32_H_

#include <cstddef>
#include <cstdint>

namespace sim {

uint32_t Crc32(const void *data, size_t size);

}  // namespace sim

#endif  // SIM_UEFI_CRC32_H_
