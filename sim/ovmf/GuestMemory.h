// The RAM of the QEMU machine, seen by ccxsim: QEMU maps it from a file with share=on, and so does
// ccxsim, so both see every byte the other writes. The pc machine puts RAM below 4 GB at guest
// physical address 0 with file offset equal to the address.
#ifndef SIM_OVMF_GUEST_MEMORY_H_
#define SIM_OVMF_GUEST_MEMORY_H_

#include <cstdint>
#include <filesystem>

namespace sim {

class GuestMemory {
 public:
  // Creates File with Size bytes (sparse) and maps it. Throws std::runtime_error naming the file.
  GuestMemory(const std::filesystem::path &File, uint64_t Size);
  ~GuestMemory();
  GuestMemory(const GuestMemory &) = delete;
  GuestMemory &operator=(const GuestMemory &) = delete;

  uint64_t Size() const { return Size_; }
  // The bytes at guest physical Address; throws std::out_of_range naming the range when any of
  // [Address, Address + Length) lies outside the RAM.
  uint8_t *At(uint64_t Address, uint64_t Length) const;

 private:
  uint8_t *Base_ = nullptr;
  uint64_t Size_ = 0;
};

}  // namespace sim

#endif  // SIM_OVMF_GUEST_MEMORY_H_
