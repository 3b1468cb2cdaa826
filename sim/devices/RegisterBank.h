// A device's registers stated by name in offset order, each with its own reader and writer, in
// the manner of gem5's register banks. The bank cuts an access into the registers it covers:
// a narrower access reads the register and keeps its bytes, a narrower write merges its bytes
// into what the register reads, and bytes between registers go to an optional plain store.
#ifndef SIM_DEVICES_REGISTER_BANK_H_
#define SIM_DEVICES_REGISTER_BANK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/devices/ByteStore.h"

namespace sim {

struct Register {
  std::string Name;
  uint64_t Offset = 0;
  unsigned Size = 4;
  // An empty reader reads as zero (a write-only register); an empty writer ignores writes (a
  // read-only register).
  std::function<uint64_t()> Read;
  std::function<void(uint64_t)> Write;
};

class RegisterBank {
 public:
  explicit RegisterBank(std::string Name) : Name_(std::move(Name)) {}

  // Registers are stated in rising offset order without overlap; a register out of order or
  // overlapping the previous one throws std::logic_error, as does a size of 0 or above 8.
  RegisterBank &Define(Register Entry);
  // Bytes no register covers are kept here (offsets as in the bank); without a store they read
  // as zero and writes to them are dropped.
  void SetBackingStore(ByteStore *Store) { Store_ = Store; }

  uint64_t Read(uint64_t Offset, unsigned Width);
  void Write(uint64_t Offset, unsigned Width, uint64_t Value);

  // The register that holds the byte at Offset, or null.
  const Register *Find(uint64_t Offset) const;
  const std::vector<Register> &Registers() const { return Registers_; }
  const std::string &Name() const { return Name_; }

 private:
  // The first register that ends after Offset, or null.
  const Register *FirstEndingAfter(uint64_t Offset) const;
  uint64_t ReadGap(uint64_t Offset, unsigned Width) const;
  void WriteGap(uint64_t Offset, unsigned Width, uint64_t Value);

  std::string Name_;
  std::vector<Register> Registers_;
  ByteStore *Store_ = nullptr;
};

}  // namespace sim

#endif  // SIM_DEVICES_REGISTER_BANK_H_
