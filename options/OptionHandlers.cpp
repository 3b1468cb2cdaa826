// Hook 0x02: copies setup options and configuration items into configuration tokens, so that the
// components that read the tokens later see the user's settings. The values are copied as they
// are; this driver gives them no meaning.
#include "options/OptionHandlers.h"

#include "interfaces/PcdAccess.h"
#include "options/OptionHooks.h"
#include "options/TokenStore.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

struct OPTION_TOKEN {
  UINT32 Uid;
  UINT16 OptionId;
};

// Setup options from the option NV table; all of them are 8-bit tokens.
constexpr OPTION_TOKEN kOptionTokens[] = {
    {0x0AE23766, 0xD018},
    {0xCCD6584C, 0xD01A},
    {0x3BED107B, 0xD017},
    {0xA0A9E098, 0xD019},
};

enum class ITEM_ACCESSOR : UINT8 { Get8, GetBool, Get16 };

struct ITEM_TOKEN {
  PCD_TOKEN Item;
  ITEM_ACCESSOR Accessor;
  UINT32 Uid;
};

// Configuration items, in the order they are applied. Only the one read with Get16 goes into a
// 16-bit token.
constexpr ITEM_TOKEN kItemTokens[] = {
    {PcdCcxOcMode, ITEM_ACCESSOR::Get8, 0x8043E855},
    {PcdCcxOption368, ITEM_ACCESSOR::Get8, 0x48E285FF},
    {PcdCcxOption379, ITEM_ACCESSOR::Get8, 0xAB65D40A},
    {PcdCcxOption383, ITEM_ACCESSOR::GetBool, 0x24CC76B0},
    {PcdCcxOption422, ITEM_ACCESSOR::GetBool, 0xE8519572},
    {PcdCcxOption424, ITEM_ACCESSOR::GetBool, 0x5782CE7B},
    {PcdCcxOption425, ITEM_ACCESSOR::GetBool, 0x7E9F07EE},
    {PcdCcxOption423, ITEM_ACCESSOR::GetBool, 0xD1DC9E4A},
    {PcdCcxOption426, ITEM_ACCESSOR::GetBool, 0x56E61482},
    {PcdCcxOption427, ITEM_ACCESSOR::GetBool, 0x5C9BB154},
    {PcdCcxOption374, ITEM_ACCESSOR::GetBool, 0x827B9158},
    {PcdCcxOption375, ITEM_ACCESSOR::Get16, 0x5A9DD6C9},
    {PcdCcxOption454, ITEM_ACCESSOR::Get8, 0x8EC38C6B},
    {PcdCcxHeapA02BValue, ITEM_ACCESSOR::GetBool, 0xBAAA911F},
    {PcdCcxOption371, ITEM_ACCESSOR::Get8, 0x74701E51},
    {PcdCcxIoPowerStateMode, ITEM_ACCESSOR::Get8, 0xE21E3E0A},
    {PcdCcxOption445, ITEM_ACCESSOR::Get8, 0xB0FB9774},
    {PcdCcxOption463, ITEM_ACCESSOR::Get8, 0xBDE0F8F0},
    {PcdCcxOption361, ITEM_ACCESSOR::GetBool, 0x60A5C019},
    {PcdCcxOption518, ITEM_ACCESSOR::GetBool, 0x5B2B2F79},
    {PcdCcxSnpMode, ITEM_ACCESSOR::Get8, 0x4C8E4576},
    {PcdCcxOption457, ITEM_ACCESSOR::GetBool, 0xC5164DD4},
    {PcdCcxOption382, ITEM_ACCESSOR::GetBool, 0xA81B7C1D},
    {PcdCcxOption381, ITEM_ACCESSOR::GetBool, 0x6492BA42},
    {PcdCcxOption464, ITEM_ACCESSOR::GetBool, 0x4F99941E},
};

}  // namespace

// A token that can't be written (no store, no room) is reported by the token store itself; the
// handler goes on with the next row either way.
UINT32 EFIAPI CcxKtxTokensFromOptions(UINT32 HookId, VOID *Data, VOID *Context) {
  for (const OPTION_TOKEN &Row : kOptionTokens) {
    UINT64 Value = 0;
    if (GetKtxNvValue(Row.OptionId, &Value) == KTX_SUCCESS) {
      SetVeltaCfg8(Row.Uid, static_cast<UINT8>(Value));
    }
  }
  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  for (const ITEM_TOKEN &Row : kItemTokens) {
    switch (Row.Accessor) {
      case ITEM_ACCESSOR::Get8:
        SetVeltaCfg8(Row.Uid, Pcd->Get8(Row.Item));
        break;
      case ITEM_ACCESSOR::GetBool:
        SetVeltaCfg8(Row.Uid, Pcd->GetBool(Row.Item) ? 1 : 0);
        break;
      case ITEM_ACCESSOR::Get16:
        SetVeltaCfg16(Row.Uid, Pcd->Get16(Row.Item));
        break;
    }
  }
  return KTX_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
