// The RAM of the QEMU machine, seen by ccxsim: QEMU maps it from a file with share=on, and so does
// ccxsim, so both see every byte the other writes. The pc machine puts RAM below 4 GB at guest
// physical address 0 with file offset equal to the address. Above 1 MB the RAM is mapped a second
// time at the very addresses the guest uses, so that a sibling component can follow a pointer the
// driver passes it as it does in a simulator boot.
#ifndef SIM_OVMF_GUEST_MEMORY_H_
#define SIM_OVMF_GUEST_MEMORY_H_

#include <cstdint>
#include <filesystem>

namespace sim {

class GuestMemory {
 public:
  // Lowest address mapped at itself.
  static constexpr uint64_t kIdentityFloor = 0x100000;

  // Creates File with Size bytes (sparse) and maps it twice. Throws std::runtime_error naming the
  // file, or the range this process already uses.
  GuestMemory(const std::filesystem::path &File, uint64_t Size);
  ~GuestMemory();
  GuestMemory(const GuestMemory &) = delete;
  GuestMemory &operator=(const GuestMemory &) = delete;

  uint64_t Size() const { return Size_; }
  // Whether [Address, Address + Length) lies in the RAM this process maps at its own addresses.
  bool Holds(uint64_t Address, uint64_t Length) const {
    return Address >= kIdentityFloor && Address <= Size_ && Length <= Size_ - Address;
  }
  // The bytes at guest physical Address; throws std::out_of_range naming the range when any of
  // [Address, Address + Length) lies outside the RAM.
  uint8_t *At(uint64_t Address, uint64_t Length) const;

 private:
  uint8_t *Base_ = nullptr;
  uint64_t Size_ = 0;
  bool Identity_ = false;
};

}  // namespace sim

#endif  // SIM_OVMF_GUEST_MEMORY_H_
