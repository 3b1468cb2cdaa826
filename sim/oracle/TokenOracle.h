// What the token store must hold once the driver's end-of-initialization option hook (0x02) has
// copied the setup options and configuration items into configuration tokens, computed from the
// machine description alone: the option values the option service serves, the configuration
// items, the store the owner hands over and the sibling services present at start. The check
// compares the store after the boot with it token by token.
#ifndef SIM_ORACLE_TOKEN_ORACLE_H_
#define SIM_ORACLE_TOKEN_ORACLE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine/Machine.h"
#include "sim/siblings/TokenStoreOwner.h"

namespace sim {

// One token hook 0x02 sets, in the order it sets them. Value is unset when the machine does not
// fix it (an option table read past its buffer, configuration items without their protocol); such
// a token is then left out of the comparison.
struct TokenWrite {
  uint32_t Uid = 0;
  bool Wide = false;  // the 16-bit table
  std::optional<uint16_t> Value;
};

// The store as the driver finds it: the first live "ACDB" buffer of the heap HOBs. Unset when its
// bytes can't be known from the description (a record that claims another size than its data).
struct StoreAtStart {
  bool Known = true;
  TokenStoreView Store;  // Present is false when no store is handed over
};
StoreAtStart TokenStoreAtStart(const Machine &Description);

// Whether the initialization sequence reaches hook 0x02: the three fabric services it needs are
// there when the driver starts.
bool HookRunsAtEntry(const Machine &Description);

// The tokens hook 0x02 sets, in order, found options first and then every configuration item.
// Empty when the hook does not run.
std::vector<TokenWrite> ExpectedTokenWrites(const Machine &Description);

// The store after the first Count writes: values updated in place, new tokens appended while the
// table has room, nothing changed in a table that is not initialized or can't be read.
TokenStoreView ApplyTokenWrites(const TokenStoreView &Before, const std::vector<TokenWrite> &Writes, size_t Count);

// Compares the store after the boot with what hook 0x02 must have left, and adds one sentence per
// difference to Errors ("option hook 0x02 8-bit token 0x0AE23766 value: expected 2, received 3").
// EndedEarly: the boot ended inside the driver (a reset, a halting fatal stop); the store may then
// show any leading part of the hook's writes. Returns the number of differences.
size_t CheckTokenStore(const Machine &Description, const TokenStoreView &After, bool EndedEarly,
                       std::vector<std::string> &Errors);

// What hook 0x02 copies into the token Uid: "option 0xD018" for a setup option, the configuration
// item's name ("PcdCcxOcMode") for an item; empty for a token the hook does not set.
std::string TokenSource(uint32_t Uid);

}  // namespace sim

#endif  // SIM_ORACLE_TOKEN_ORACLE_H_
