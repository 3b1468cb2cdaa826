// Hook 0x02: option values and configuration items copied into tokens, in table order, with the
// one 16-bit row in the 16-bit table, options missing from the NV table left alone, and the hook
// taken locally without reaching the option service.
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "options/HookTable.h"
#include "options/OptionHandlers.h"
#include "options/OptionHooks.h"
#include "tests/options/FakeOptionService.h"
#include "tests/options/TokenStoreFixture.h"

namespace {

using TokenList = std::vector<std::pair<uint32_t, uint16_t>>;

// The rows of the item-to-token list in order: item, Uid, and whether it is read as a boolean.
struct ItemRow {
  UINTN Item;
  uint32_t Uid;
  bool Boolean;
};
const ItemRow kRows8[] = {
    {PcdCcxOcMode, 0x8043E855, false},           {PcdCcxOption368, 0x48E285FF, false},
    {PcdCcxOption379, 0xAB65D40A, false},        {PcdCcxOption383, 0x24CC76B0, true},
    {PcdCcxOption422, 0xE8519572, true},         {PcdCcxOption424, 0x5782CE7B, true},
    {PcdCcxOption425, 0x7E9F07EE, true},         {PcdCcxOption423, 0xD1DC9E4A, true},
    {PcdCcxOption426, 0x56E61482, true},         {PcdCcxOption427, 0x5C9BB154, true},
    {PcdCcxOption374, 0x827B9158, true},         {PcdCcxOption454, 0x8EC38C6B, false},
    {PcdCcxHeapA02BValue, 0xBAAA911F, true},     {PcdCcxOption371, 0x74701E51, false},
    {PcdCcxIoPowerStateMode, 0xE21E3E0A, false}, {PcdCcxOption445, 0xB0FB9774, false},
    {PcdCcxOption463, 0xBDE0F8F0, false},        {PcdCcxOption361, 0x60A5C019, true},
    {PcdCcxOption518, 0x5B2B2F79, true},         {PcdCcxSnpMode, 0x4C8E4576, false},
    {PcdCcxOption457, 0xC5164DD4, true},         {PcdCcxOption382, 0xA81B7C1D, true},
    {PcdCcxOption381, 0x6492BA42, true},         {PcdCcxOption464, 0x4F99941E, true},
};

class TokensFromOptions : public TokenStoreFixture {
 protected:
  TokensFromOptions() {
    Firmware.RemoveProtocol(gQorvexZrbOptionHookProtocolGuid);
    Firmware.AddProtocol(gQorvexZrbOptionHookProtocolGuid, Service.Protocol());
    // Every item gets a distinct value; the booleans a value other than 1 so that the conversion shows.
    uint64_t Value = 0x10;
    for (const ItemRow &Row : kRows8) Firmware.Pcd[Row.Item] = Value++;
    Firmware.Pcd[PcdCcxOption375] = 0xABCD;
  }

  // The item tokens expected in the 8-bit table, appended in row order.
  static TokenList ItemTokens() {
    TokenList Tokens;
    uint16_t Value = 0x10;
    for (const ItemRow &Row : kRows8) {
      Tokens.emplace_back(Row.Uid, Row.Boolean ? 1 : Value);
      Value++;
    }
    return Tokens;
  }

  fake::FakeOptionService Service;
};

TEST_F(TokensFromOptions, CopiesOptionsThenItemsInTableOrder) {
  Service.Table = fake::NvTable({fake::NvEntry(0xD019, 2, 0x12345678), fake::NvEntry(0xD018, 1, 0xBEEF)});
  MakeStore(TokenTableShape{40 * 8, {}}, TokenTableShape{4 * 8, {}});
  EXPECT_EQ(image::CcxKtxTokensFromOptions(image::KTX_HOOK_END_OF_INIT, nullptr, nullptr), 0u);
  // Option rows come in the option-to-token table's order (0xD018 before 0xD019), each the low byte.
  TokenList Expected = {{0x0AE23766, 0xEF}, {0xA0A9E098, 0x78}};
  const TokenList Items = ItemTokens();
  Expected.insert(Expected.end(), Items.begin(), Items.end());
  EXPECT_EQ(Tokens(false), Expected);
  EXPECT_EQ(Tokens(true), (TokenList{{0x5A9DD6C9, 0xABCD}}));
}

TEST_F(TokensFromOptions, OptionMissingFromTheTableLeavesItsTokenUntouched) {
  Service.Table = fake::NvTable({fake::NvEntry(0xD01A, 0, 0x44)});
  MakeStore(TokenTableShape{40 * 8, {{0x0AE23766, 9}, {0x3BED107B, 8}}}, TokenTableShape{4 * 8, {}});
  image::CcxKtxTokensFromOptions(image::KTX_HOOK_END_OF_INIT, nullptr, nullptr);
  const TokenList Tokens8 = Tokens(false);
  ASSERT_GE(Tokens8.size(), 3u);
  EXPECT_EQ(Tokens8[0], (std::pair<uint32_t, uint16_t>{0x0AE23766, 9}));
  EXPECT_EQ(Tokens8[1], (std::pair<uint32_t, uint16_t>{0x3BED107B, 8}));
  EXPECT_EQ(Tokens8[2], (std::pair<uint32_t, uint16_t>{0xCCD6584C, 0x44}));
}

TEST_F(TokensFromOptions, WithoutTheOptionServiceOnlyItemsAreCopied) {
  Firmware.RemoveProtocol(gQorvexZrbOptionHookProtocolGuid);
  MakeStore(TokenTableShape{40 * 8, {}}, TokenTableShape{4 * 8, {}});
  image::CcxKtxTokensFromOptions(image::KTX_HOOK_END_OF_INIT, nullptr, nullptr);
  EXPECT_EQ(Tokens(false), ItemTokens());
  EXPECT_EQ(Tokens(true).size(), 1u);
}

TEST_F(TokensFromOptions, FullTableDoesNotStopTheRowsBehindIt) {
  Service.Table = fake::NvTable({});
  // Room for three 8-bit tokens: the rest are refused, and the 16-bit row still goes in.
  MakeStore(TokenTableShape{3 * 8, {}}, TokenTableShape{4 * 8, {}});
  image::CcxKtxTokensFromOptions(image::KTX_HOOK_END_OF_INIT, nullptr, nullptr);
  EXPECT_EQ(Tokens(false).size(), 3u);
  EXPECT_EQ(Tokens(true), (TokenList{{0x5A9DD6C9, 0xABCD}}));
}

TEST_F(TokensFromOptions, HookIsTakenLocallyAndNeverReachesTheOptionService) {
  Service.Table = fake::NvTable({});
  MakeStore(TokenTableShape{40 * 8, {}}, TokenTableShape{4 * 8, {}});
  EXPECT_EQ(image::KtxHookFunc(image::KTX_HOOK_END_OF_INIT, nullptr), image::KTX_HANDLED_LOCALLY);
  for (const fake::OptionCall &Call : Service.Calls) EXPECT_NE(Call.HookId, image::KTX_HOOK_END_OF_INIT);
  EXPECT_EQ(Tokens(false).size(), std::size(kRows8));
}

}  // namespace
