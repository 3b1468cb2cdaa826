// What a machine description says about the configuration token store, the SOC service's
// overclocking message numbers and the S3 save table's surroundings: the communication buffer the
// platform provides and the entries other drivers of the boot add to the table.
#ifndef SIM_MACHINE_S3_TOKEN_SETTINGS_H_
#define SIM_MACHINE_S3_TOKEN_SETTINGS_H_

#include <cstdint>
#include <optional>
#include <vector>

namespace sim {

class JsonCursor;

struct TokenSetting {
  uint32_t Uid = 0;
  uint16_t Value = 0;
};

// One table of the store: its capacity in bytes and the tokens already in it. An absent table is
// left at offset 0 ("not initialized").
struct TokenTableSetting {
  bool Present = true;
  uint32_t Capacity = 0;
  std::vector<TokenSetting> Tokens;
};

// The ActDb that the token-store owner hands over as heap buffer "ACDB" (absent: no store at all).
struct TokenStoreSettings {
  bool Present = true;
  TokenTableSetting Table8{true, 64 * 8, {}};
  TokenTableSetting Table16{true, 8 * 8, {}};
};

// The SOC service's overclocking message table (absent: the service hands back none).
struct OcMessageSettings {
  bool Present = true;
  uint32_t Revision = 1;
  uint32_t First = 0x5A;
  uint32_t Voltage = 0x5B;
  uint32_t Frequency = 0x5C;
};

// One entry another driver adds to the S3 save table: a kind word, a length word counting the
// four header bytes, then the data.
struct S3EntrySetting {
  uint16_t Kind = 1;
  std::vector<uint8_t> Data;
};

struct S3PlatformSettings {
  // Whether the platform sets the SMM communication buffer's address.
  bool CommBuffer = true;
  std::vector<S3EntrySetting> Entries;
  // Where a careless driver leaves the table's next-entry offset after its entries.
  std::optional<uint64_t> NextOffset;
};

// The most bytes one token table or one S3 entry may hold in a machine description.
constexpr uint32_t kMostTokenTableBytes = 0x4000;
constexpr uint32_t kMostS3EntryBytes = 0x1000;

// Readers of "token_store", "soc.oc_messages" and "s3".
void ReadTokenStore(const JsonCursor &Node, TokenStoreSettings &Settings);
void ReadOcMessages(const JsonCursor &Node, OcMessageSettings &Settings);
void ReadS3Platform(const JsonCursor &Node, S3PlatformSettings &Settings);

}  // namespace sim

#endif  // SIM_MACHINE_S3_TOKEN_SETTINGS_H_
