// Plain register storage: bytes that read back what was written, accessed little-endian at any
// width up to 8. Devices use it for the registers that have no behaviour of their own.
#ifndef SIM_DEVICES_BYTE_STORE_H_
#define SIM_DEVICES_BYTE_STORE_H_

#include <cstdint>
#include <memory>
#include <vector>

namespace sim {

// The bytes are kept in 4 KB pages made on the first write into them: a device's register block
// may be a megabyte of which a boot writes a few registers, and every platform builds its devices
// anew, so zeroing the whole block up front was a large part of a small machine's boot.
class ByteStore {
 public:
  explicit ByteStore(uint64_t Size) : Size_(Size), Pages_((Size + kPageSize - 1) / kPageSize) {}

  uint64_t Size() const { return Size_; }
  // Both throw std::out_of_range for an access that does not lie inside the store.
  uint64_t Get(uint64_t Offset, unsigned Width) const;
  void Set(uint64_t Offset, unsigned Width, uint64_t Value);

 private:
  static constexpr uint64_t kPageSize = 4096;

  void Check(uint64_t Offset, unsigned Width) const;
  uint8_t ByteAt(uint64_t Offset) const;

  uint64_t Size_;
  // One entry per page; null until the page is first written (a page never written reads 0).
  std::vector<std::unique_ptr<uint8_t[]>> Pages_;
};

}  // namespace sim

#endif  // SIM_DEVICES_BYTE_STORE_H_
