#include "sim/devices/ChipsetRegisters.h"

#include <stdexcept>
#include <string>

#include "arch/Chipset.h"

namespace sim {

namespace {

const AddressRange ChipsetRanges[2] = {{Chipset::MiscRangeBase, Chipset::MiscRangeSize},
                                       {Chipset::SerialRangeBase, Chipset::SerialRangeSize}};

}  // namespace

ChipsetRegisters::ChipsetRegisters()
    : Device("chipset registers"), Stores_{ByteStore(ChipsetRanges[0].Size), ByteStore(ChipsetRanges[1].Size)} {}

std::vector<AddressRange> ChipsetRegisters::Ranges() const { return {ChipsetRanges[0], ChipsetRanges[1]}; }

size_t ChipsetRegisters::Locate(uint64_t Address, unsigned Width, uint64_t &Offset) {
  for (size_t I = 0; I < 2; ++I) {
    if (ChipsetRanges[I].ContainsAccess(Address, Width)) {
      Offset = Address - ChipsetRanges[I].Base;
      return I;
    }
  }
  throw std::out_of_range("no chipset register holds " + std::to_string(Width) + " bytes at address " +
                          std::to_string(Address));
}

uint64_t ChipsetRegisters::Get(uint64_t Address, unsigned Width) const {
  std::lock_guard<std::mutex> Guard(Lock());
  uint64_t Offset = 0;
  size_t Range = Locate(Address, Width, Offset);
  return Stores_[Range].Get(Offset, Width);
}

void ChipsetRegisters::Set(uint64_t Address, unsigned Width, uint64_t Value) {
  std::lock_guard<std::mutex> Guard(Lock());
  uint64_t Offset = 0;
  size_t Range = Locate(Address, Width, Offset);
  Stores_[Range].Set(Offset, Width, Value);
}

std::vector<ChipsetWrite> ChipsetRegisters::Writes() const {
  std::lock_guard<std::mutex> Guard(Lock());
  return Writes_;
}

void ChipsetRegisters::ClearWrites() {
  std::lock_guard<std::mutex> Guard(Lock());
  Writes_.clear();
}

uint64_t ChipsetRegisters::OnRead(uint64_t Address, unsigned Width) {
  uint64_t Offset = 0;
  size_t Range = Locate(Address, Width, Offset);
  return Stores_[Range].Get(Offset, Width);
}

void ChipsetRegisters::OnWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  Writes_.push_back({Address, Width, Value});
  uint64_t Offset = 0;
  size_t Range = Locate(Address, Width, Offset);
  Stores_[Range].Set(Offset, Width, Value);
}

}  // namespace sim
