#include "sim/machine/PcdItems.h"

#include <cstdio>
#include <iterator>

#include "interfaces/PlatformConfig.h"

namespace sim {
namespace {

// The name and token number of a driver item, spelt once.
#define CCX_ITEM(Name) #Name, ::Name
// How the driver reads an item: a boolean, or an unsigned value of so many bytes (every value of
// those bytes usable unless a row narrows it).
#define CCX_BOOLEAN 1, true, 0, 1
#define CCX_BYTES(Width) Width, false, 0, (UINT64_MAX >> (64 - 8 * (Width)))
#define CCX_UP_TO(Width, Max) Width, false, 0, Max

// Hook 0x02 copies these items into configuration tokens for later components, which give them
// their meaning; a value is therefore refused only where the driver's own reading leaves it
// nothing to mean.
constexpr PcdItemDefinition kItems[] = {
    // Processor numbering and the tables that name processors.
    {CCX_ITEM(PcdCcxApicMode), CCX_UP_TO(1, 2), "0 or 1: xAPIC; 2: x2APIC",
     "the APIC mode the processors run in: in x2APIC mode the SRAT gets an x2APIC entry for every "
     "processor, otherwise a local APIC entry only for processors whose APIC ID is below 255"},
    {CCX_ITEM(PcdCcxAcpiPstatePolicy), CCX_UP_TO(1, 2), "1: policy flag 1; 0 or 2: policy flag 0",
     "the P-state policy flag of every socket record of the P-state information buffer (another value "
     "stops fatally)"},
    {CCX_ITEM(PcdCcxIoPowerStateMode), CCX_BYTES(1), "1: on; any other: off",
     "the I/O power-state mode: 1 with a non-zero base address marks the power-state record enabled; "
     "copied into token 0xE21E3E0A"},
    {CCX_ITEM(PcdCcxIoPowerStateBaseAddress), CCX_BYTES(2), "0: none",
     "the I/O base address of the power-state registers, carried in the power-state record"},
    {CCX_ITEM(PcdCcxPowerStateWord1), CCX_BYTES(2), "", "carried in the power-state record at offset 7"},
    {CCX_ITEM(PcdCcxPowerStateWord2), CCX_BYTES(2), "", "carried in the power-state record at offset 9"},
    {CCX_ITEM(PcdCcxPowerStateWord3), CCX_BYTES(2), "", "carried in the power-state record at offset 11"},
    // Secure nested paging.
    {CCX_ITEM(PcdCcxSnpMode), CCX_BYTES(1), "0: no RMP; 2: cover PcdCcxSnpMemSizeToCover; any other: cover TOP_MEM2",
     "how much memory the SNP reverse-map table covers, on a processor with SNP; copied into token 0x4C8E4576"},
    {CCX_ITEM(PcdCcxSnpMemSizeToCover), CCX_BYTES(4), "",
     "megabytes the reverse-map table covers in SNP mode 2: at least 16, at most TOP_MEM2"},
    {CCX_ITEM(PcdCcxSnpRmpNoForce4G), CCX_BYTES(1), "0: place as 4 GB; any other: place at its size",
     "where a reverse-map table smaller than 4 GB is placed"},
    {CCX_ITEM(PcdCcxVmplEnable), CCX_BOOLEAN, "",
     "true on a processor with VMPL: sets SYSCFG bit 25 and makes reverse-map entries 16 bytes"},
    // Work on every processor, and SMRAM.
    {CCX_ITEM(PcdCcxRunApsSingleThreaded), CCX_BOOLEAN, "",
     "true: procedures run on the application processors one at a time; false: at the same time"},
    {CCX_ITEM(PcdCcxSmmLockHwcr), CCX_BOOLEAN, "", "true: locking SMRAM also sets HWCR bits 0 and 31 on every processor"},
    {CCX_ITEM(PcdCcxPpinSocket0), CCX_BYTES(8), "", "written by the driver: socket 0's PPIN"},
    {CCX_ITEM(PcdCcxPpinSocket1), CCX_BYTES(8), "", "written by the driver: socket 1's PPIN"},
    {CCX_ITEM(PcdCcxPpinSocket2), CCX_BYTES(8), "", "written by the driver: socket 2's PPIN"},
    {CCX_ITEM(PcdCcxPpinSocket3), CCX_BYTES(8), "", "written by the driver: socket 3's PPIN"},
    // Start-up.
    {CCX_ITEM(PcdCcxHeapA02BValue), CCX_BOOLEAN, "", "the one byte of heap buffer 0xA02B; copied into token 0xBAAA911F"},
    {CCX_ITEM(PcdCfgPcdBufField17), CCX_BYTES(4), "", "carried in the test-point configuration record"},
    {CCX_ITEM(PcdCfgPcdBufField21), CCX_BYTES(4), "", "carried in the test-point configuration record"},
    // The S3 save table.
    {CCX_ITEM(PcdQorvexS3LibPrivateDataAddress), CCX_BYTES(8), "0: not made yet",
     "the S3 save library's shared record, stored by the first driver that starts the library"},
    {CCX_ITEM(PcdQorvexS3LibTableAddress), CCX_BYTES(8), "0: not made yet",
     "the S3 save table, stored when the table is made"},
    {CCX_ITEM(PcdQorvexS3LibTableSize), CCX_BYTES(8), "below 0x4000: 0x4000", "the S3 save table's size in bytes"},
    // Overclocking.
    {CCX_ITEM(PcdCcxOcMode), CCX_BYTES(1), "1: on; any other: off",
     "overclocking: 1 applies the custom P-state 0 and reports its figures; copied into token 0x8043E855"},
    {CCX_ITEM(PcdCcxSkipCustomPstates), CCX_BOOLEAN, "", "true: the overclocking hook (0x11) does nothing"},
    {CCX_ITEM(PcdCcxOcP0Frequency), CCX_BYTES(4), "0 or 0xFFFFFFFF: leave it", "the custom P-state 0 frequency in MHz"},
    {CCX_ITEM(PcdCcxOcP0Vid), CCX_BYTES(4), "0xFFFFFFFF: leave it",
     "the custom P-state 0 voltage identifier (its low 9 bits)"},
    {CCX_ITEM(PcdCcxOcP0FrequencyAuto), CCX_BYTES(4), "",
     "the frequency that means automatic: a PcdCcxOcP0Frequency equal to it is not reported"},
    {CCX_ITEM(PcdCcxOcP0VidAuto), CCX_BYTES(4), "",
     "the voltage identifier that means automatic: a PcdCcxOcP0Vid equal to it is not reported"},
    {CCX_ITEM(PcdCcxOcFrequencyMax), CCX_BYTES(2), "0: no limit", "the highest custom P-state 0 frequency in MHz"},
    {CCX_ITEM(PcdCcxOcVoltageMax), CCX_BYTES(2), "0: no limit", "the highest custom P-state 0 voltage identifier"},
    // Setup options that hook 0x02 only copies into configuration tokens.
    {CCX_ITEM(PcdCcxOption361), CCX_BOOLEAN, "", "copied into token 0x60A5C019"},
    {CCX_ITEM(PcdCcxOption368), CCX_BYTES(1), "", "copied into token 0x48E285FF"},
    {CCX_ITEM(PcdCcxOption371), CCX_BYTES(1), "", "copied into token 0x74701E51"},
    {CCX_ITEM(PcdCcxOption374), CCX_BOOLEAN, "", "copied into token 0x827B9158"},
    {CCX_ITEM(PcdCcxOption375), CCX_BYTES(2), "", "copied into the 16-bit token 0x5A9DD6C9"},
    {CCX_ITEM(PcdCcxOption379), CCX_BYTES(1), "", "copied into token 0xAB65D40A"},
    {CCX_ITEM(PcdCcxOption381), CCX_BOOLEAN, "", "copied into token 0x6492BA42"},
    {CCX_ITEM(PcdCcxOption382), CCX_BOOLEAN, "", "copied into token 0xA81B7C1D"},
    {CCX_ITEM(PcdCcxOption383), CCX_BOOLEAN, "", "copied into token 0x24CC76B0"},
    {CCX_ITEM(PcdCcxOption422), CCX_BOOLEAN, "", "copied into token 0xE8519572"},
    {CCX_ITEM(PcdCcxOption423), CCX_BOOLEAN, "", "copied into token 0xD1DC9E4A"},
    {CCX_ITEM(PcdCcxOption424), CCX_BOOLEAN, "", "copied into token 0x5782CE7B"},
    {CCX_ITEM(PcdCcxOption425), CCX_BOOLEAN, "", "copied into token 0x7E9F07EE"},
    {CCX_ITEM(PcdCcxOption426), CCX_BOOLEAN, "", "copied into token 0x56E61482"},
    {CCX_ITEM(PcdCcxOption427), CCX_BOOLEAN, "", "copied into token 0x5C9BB154"},
    {CCX_ITEM(PcdCcxOption445), CCX_BYTES(1), "", "copied into token 0xB0FB9774"},
    {CCX_ITEM(PcdCcxOption454), CCX_BYTES(1), "", "copied into token 0x8EC38C6B"},
    {CCX_ITEM(PcdCcxOption457), CCX_BOOLEAN, "", "copied into token 0xC5164DD4"},
    {CCX_ITEM(PcdCcxOption463), CCX_BYTES(1), "", "copied into token 0xBDE0F8F0"},
    {CCX_ITEM(PcdCcxOption464), CCX_BOOLEAN, "", "copied into token 0x4F99941E"},
    {CCX_ITEM(PcdCcxOption518), CCX_BOOLEAN, "", "copied into token 0x5B2B2F79"},
};

#undef CCX_ITEM
#undef CCX_BOOLEAN
#undef CCX_BYTES
#undef CCX_UP_TO

// Every item the driver reads or writes has exactly one row, and every row is such an item.
constexpr bool EveryDriverItemHasOneRow() {
  constexpr uint64_t kDriverTokens[] = {
#define CCX_PCD_TOKEN(Name, Token) Token,
      CCX_PCD_ITEMS(CCX_PCD_TOKEN)
#undef CCX_PCD_TOKEN
  };
  if (std::size(kDriverTokens) != std::size(kItems)) return false;
  for (uint64_t Token : kDriverTokens) {
    int Rows = 0;
    for (const PcdItemDefinition &Item : kItems) Rows += Item.Token == Token ? 1 : 0;
    if (Rows != 1) return false;
  }
  return true;
}
static_assert(EveryDriverItemHasOneRow(), "every configuration item of interfaces/PlatformConfig.h needs one row here");

std::string Number(uint64_t Value) {
  if (Value < 0x1000) return std::to_string(Value);
  char Text[24];
  std::snprintf(Text, sizeof(Text), "0x%llX", static_cast<unsigned long long>(Value));
  return Text;
}

}  // namespace

std::span<const PcdItemDefinition> PcdItems() { return kItems; }

const PcdItemDefinition *FindPcdItem(std::string_view Name) {
  for (const PcdItemDefinition &Item : kItems) {
    if (Name == Item.Name) return &Item;
  }
  return nullptr;
}

const PcdItemDefinition *FindPcdItem(uint64_t Token) {
  for (const PcdItemDefinition &Item : kItems) {
    if (Token == Item.Token) return &Item;
  }
  return nullptr;
}

bool PcdValueAccepted(const PcdItemDefinition &Item, uint64_t Value) { return Value >= Item.Min && Value <= Item.Max; }

std::string PcdValidValues(const PcdItemDefinition &Item) {
  std::string Text = Item.Boolean ? "false or true (0 or 1)" : Number(Item.Min) + " to " + Number(Item.Max);
  if (*Item.ValueMeanings != '\0') Text += std::string(" (") + Item.ValueMeanings + ")";
  return Text;
}

std::string PcdValueText(const PcdItemDefinition &Item, uint64_t Value) {
  if (Item.Boolean && Value <= 1) return Value != 0 ? "true" : "false";
  return Number(Value);
}

std::string PcdItemName(uint64_t Token) {
  const PcdItemDefinition *Item = FindPcdItem(Token);
  return Item != nullptr ? Item->Name : std::to_string(Token);
}

}  // namespace sim
