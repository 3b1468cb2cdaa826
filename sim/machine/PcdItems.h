// The platform configuration items a machine description may set ("pcd"), one row each: name,
// token number, the width the driver reads it with, the values it can use and what it means.
// The driver's token numbers come from interfaces/PlatformConfig.h; this table holds everything
// else about an item, and it is checked at compile time to have exactly one row for each of them.
#ifndef SIM_MACHINE_PCD_ITEMS_H_
#define SIM_MACHINE_PCD_ITEMS_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace sim {

struct PcdItemDefinition {
  const char *Name;
  uint64_t Token;
  // Bytes of the value as the driver reads it (Get8 or GetBool 1, Get16 2, Get32 4, Get64 8).
  unsigned Width;
  // A boolean (GetBool) takes false or true, 0 or 1; any other item takes Min to Max.
  bool Boolean;
  uint64_t Min;
  uint64_t Max;
  // What particular values mean, when they differ in meaning ("0 or 1: xAPIC; 2: x2APIC"); may be empty.
  const char *ValueMeanings;
  // What the item does, in a sentence without its final full stop.
  const char *Meaning;
};

// Every item, in the order of docs/machines.md.
std::span<const PcdItemDefinition> PcdItems();
// The item of that name or token number, or nullptr.
const PcdItemDefinition *FindPcdItem(std::string_view Name);
const PcdItemDefinition *FindPcdItem(uint64_t Token);

// Whether the driver can use Value for Item.
bool PcdValueAccepted(const PcdItemDefinition &Item, uint64_t Value);
// The valid values, as the loader's errors and the documentation's table say them:
// "false or true (0 or 1)", "0 to 2 (0 or 1: xAPIC; 2: x2APIC)", "0 to 0xFFFF".
std::string PcdValidValues(const PcdItemDefinition &Item);
// A value as the documentation and the loader write it: "true"/"false" for a boolean, decimal up
// to 4095, hexadecimal above.
std::string PcdValueText(const PcdItemDefinition &Item, uint64_t Value);

// The name of a configuration item ("PcdCcxPpinSocket0"), or its token number in decimal.
std::string PcdItemName(uint64_t Token);

}  // namespace sim

#endif  // SIM_MACHINE_PCD_ITEMS_H_
