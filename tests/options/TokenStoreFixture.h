// A driver image with debug output over the fake firmware and the shared heap, and an ActDb token
// store laid out in a heap buffer the way its owner lays it out: the store header, then the 8-bit
// table, then the 16-bit table, each with its header and capacity.
#ifndef TESTS_OPTIONS_TOKEN_STORE_FIXTURE_H_
#define TESTS_OPTIONS_TOKEN_STORE_FIXTURE_H_

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "tests/driver/DriverFixture.h"

struct TokenTableShape {
  uint32_t Capacity = 0;
  std::vector<std::pair<uint32_t, uint16_t>> Tokens;
};

class TokenStoreFixture : public DriverFixture {
 protected:
  TokenStoreFixture();

  // Makes the ActDb heap buffer; an absent table gets offset 0. Slack bytes follow the tables.
  void MakeStore(std::optional<TokenTableShape> Table8, std::optional<TokenTableShape> Table16, uint32_t Slack = 0);
  // Makes an ActDb from raw bytes.
  void MakeRawStore(const std::vector<uint8_t> &Bytes);

  // The store's bytes as they are now.
  std::vector<uint8_t> StoreBytes() const;
  uint32_t Count(bool Wide) const;
  // The tokens of one table in entry order: (Uid, value).
  std::vector<std::pair<uint32_t, uint16_t>> Tokens(bool Wide) const;

 private:
  uint32_t TableOffset(bool Wide) const;
  uint8_t *Store_ = nullptr;
  uint32_t Size_ = 0;
};

#endif  // TESTS_OPTIONS_TOKEN_STORE_FIXTURE_H_
