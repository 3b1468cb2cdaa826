#include "sim/ovmf/GuestMemory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "sim/HexText.h"

namespace sim {

GuestMemory::GuestMemory(const std::filesystem::path &File, uint64_t Size) : Size_(Size) {
  const int Descriptor = open(File.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (Descriptor < 0) throw std::runtime_error(File.string() + ": cannot create the guest's RAM file: " + std::strerror(errno));
  if (ftruncate(Descriptor, static_cast<off_t>(Size)) != 0) {
    const int Error = errno;
    close(Descriptor);
    throw std::runtime_error(File.string() + ": cannot size the guest's RAM file: " + std::strerror(Error));
  }
  void *Mapped = mmap(nullptr, Size, PROT_READ | PROT_WRITE, MAP_SHARED, Descriptor, 0);
  int Error = errno;
  if (Mapped == MAP_FAILED) {
    close(Descriptor);
    throw std::runtime_error(File.string() + ": cannot map the guest's RAM: " + std::strerror(Error));
  }
  Base_ = static_cast<uint8_t *>(Mapped);
  void *Wanted = reinterpret_cast<void *>(kIdentityFloor);
  void *Identity = Size > kIdentityFloor ? mmap(Wanted, Size - kIdentityFloor, PROT_READ | PROT_WRITE,
                                                MAP_SHARED | MAP_FIXED_NOREPLACE, Descriptor, kIdentityFloor)
                                         : MAP_FAILED;
  Error = errno;
  close(Descriptor);
  if (Identity != Wanted) {
    if (Identity != MAP_FAILED) munmap(Identity, Size - kIdentityFloor);
    munmap(Base_, Size_);
    throw std::runtime_error("cannot map the guest's RAM at its own addresses " + Hex(kIdentityFloor) + "-" +
                             Hex(Size - 1) + " in ccxsim: " + std::strerror(Error));
  }
  Identity_ = true;
}

GuestMemory::~GuestMemory() {
  if (Identity_) munmap(reinterpret_cast<void *>(kIdentityFloor), Size_ - kIdentityFloor);
  munmap(Base_, Size_);
}

uint8_t *GuestMemory::At(uint64_t Address, uint64_t Length) const {
  if (Address > Size_ || Length > Size_ - Address) {
    throw std::out_of_range("guest memory " + Hex(Address) + "+" + Hex(Length) + " lies outside the guest's " +
                            Hex(Size_) + " bytes of RAM");
  }
  return Base_ + Address;
}

}  // namespace sim
