// Plain register storage: bytes that read back what was written, accessed little-endian at any
// width up to 8. Devices use it for the registers that have no behaviour of their own.
#ifndef SIM_DEVICES_BYTE_STORE_H_
#define SIM_DEVICES_BYTE_STORE_H_

#include <cstdint>
#include <vector>

namespace sim {

class ByteStore {
 public:
  explicit ByteStore(uint64_t Size) : Bytes_(Size, 0) {}

  uint64_t Size() const { return Bytes_.size(); }
  // Both throw std::out_of_range for an access that does not lie inside the store.
  uint64_t Get(uint64_t Offset, unsigned Width) const;
  void Set(uint64_t Offset, unsigned Width, uint64_t Value);

 private:
  void Check(uint64_t Offset, unsigned Width) const;

  std::vector<uint8_t> Bytes_;
};

}  // namespace sim

#endif  // SIM_DEVICES_BYTE_STORE_H_
