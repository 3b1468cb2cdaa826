// A register field defined once by its bit range, high bit first as in the manuals. Call sites
// read and change fields by name; read-modify-write keeps every bit the field does not own.
#ifndef ARCH_REGISTERS_H_
#define ARCH_REGISTERS_H_

#include <cstdint>

template <unsigned High, unsigned Low>
struct RegisterField {
  static_assert(High >= Low && High < 64, "field bits lie inside a 64-bit register");
  static constexpr unsigned Shift = Low;
  static constexpr unsigned Width = High - Low + 1;
  static constexpr uint64_t Max = Width == 64 ? ~0ULL : ((1ULL << Width) - 1);
  static constexpr uint64_t Mask = Max << Low;

  static constexpr uint64_t Get(uint64_t Register) { return (Register >> Low) & Max; }
  static constexpr uint64_t Set(uint64_t Register, uint64_t Value) {
    return (Register & ~Mask) | ((Value & Max) << Low);
  }
  static constexpr bool IsSet(uint64_t Register) { return Get(Register) != 0; }
};

template <unsigned Bit>
using RegisterBit = RegisterField<Bit, Bit>;

#endif  // ARCH_REGISTERS_H_
