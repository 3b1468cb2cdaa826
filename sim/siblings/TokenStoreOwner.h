// The component that owns the configuration token store (the ActDb): it lays the store out from
// the machine description and hands it over as heap buffer "ACDB" in a heap HOB, before any
// driver runs. The same layout is read back to show the store as a boot left it.
#ifndef SIM_SIBLINGS_TOKEN_STORE_OWNER_H_
#define SIM_SIBLINGS_TOKEN_STORE_OWNER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/machine/Machine.h"

namespace sim {

constexpr uint32_t kTokenStoreHandle = 0x42444341;  // "ACDB"
// The store's first word: the owner's own mark, which the driver never reads.
constexpr uint32_t kTokenStoreMark = 0x31424441;

struct TokenTableView {
  bool Initialized = false;
  uint32_t Offset = 0;
  uint32_t Capacity = 0;
  uint32_t Count = 0;
  std::vector<std::pair<uint32_t, uint16_t>> Tokens;  // (Uid, value) in entry order
  // Why the table can't be read as a whole, if it can't.
  std::string Problem;
};

struct TokenStoreView {
  bool Present = false;
  uint32_t Size = 0;
  TokenTableView Table8;
  TokenTableView Table16;
};

// The store's bytes: header {mark, 8-bit table offset, 16-bit table offset, 0}, then each present
// table {0, capacity, count, 0} followed by its capacity in entry bytes.
std::vector<uint8_t> LayOutTokenStore(const TokenStoreSettings &Settings);
// The heap HOB record that hands the store over, or none when the machine has no store.
std::optional<HeapHobRecord> TokenStoreHob(const TokenStoreSettings &Settings);
// Reads a store back without trusting its words: tables and entries outside the bytes are named
// as problems, not read.
TokenStoreView DecodeTokenStore(const std::vector<uint8_t> &Bytes);

}  // namespace sim

#endif  // SIM_SIBLINGS_TOKEN_STORE_OWNER_H_
