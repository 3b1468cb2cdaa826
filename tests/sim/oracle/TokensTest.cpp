// The token store check: a token changed, dropped or added after the boot is named with its
// expected and received value; the store of every example machine, and of machines whose option
// service, store or configuration items are unusual, agrees with the driver's hook.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "driver/ImageDescriptor.h"
#include "sim/oracle/TokenOracle.h"
#include "sim/platform/BootRunner.h"
#include "tools/BootExpectation.h"
#include "tools/S3TokensReport.h"

namespace sim {
namespace {

constexpr size_t kEntriesAt = 16;
constexpr size_t kEntryBytes = 8;

uint32_t Word(const uint8_t *Bytes) {
  uint32_t Value = 0;
  std::memcpy(&Value, Bytes, 4);
  return Value;
}

// Boots Description and lets Edit change the token store (its bytes) once the boot is done.
BootRecord BootAndEdit(const Machine &Description, std::function<void(uint8_t *)> Edit = {}) {
  BootOptions Options;
  if (Edit) {
    Options.AfterBoot = [&Edit](Platform &Machine) {
      for (const HeapBufferView &Buffer : TakeHeapSnapshot(Machine.Core()).Buffers) {
        if (Buffer.Handle != kTokenStoreHandle) continue;
        Edit(reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Buffer.Address)));
        return;
      }
      ADD_FAILURE() << "no token store in the heap";
    };
  }
  return RunBoot(Description, CcxImageDescriptor, Options);
}

// The entry of Uid in the table whose offset word is at OffsetField.
uint8_t *Entry(uint8_t *Store, size_t OffsetField, uint32_t Uid) {
  uint8_t *Table = Store + Word(Store + OffsetField);
  for (uint32_t Index = 0; Index < Word(Table + 8); Index++) {
    uint8_t *At = Table + kEntriesAt + Index * kEntryBytes;
    if (Word(At) == Uid) return At;
  }
  ADD_FAILURE() << "token " << Uid << " is not in the store";
  static uint8_t Nowhere[kEntryBytes];
  return Nowhere;
}

void ExpectOnlyError(const BootRecord &Boot, const std::string &Sentence) {
  EXPECT_EQ(Boot.S3Tokens.TokenErrors, std::vector<std::string>{Sentence});
}

TEST(TokenCheck, ChangedOptionTokenIsNamed) {
  // Option 0xD018 is 2 on the default machine.
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](uint8_t *Store) { Entry(Store, 4, 0x0AE23766)[4] = 3; });
  ExpectOnlyError(Boot, "option hook 0x02 8-bit token 0x0AE23766 value: expected 2, received 3");
}

TEST(TokenCheck, ChangedItemTokenIsNamed) {
  // PcdCcxSnpMode is 2 on the default machine.
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](uint8_t *Store) { Entry(Store, 4, 0x4C8E4576)[4] = 5; });
  ExpectOnlyError(Boot, "option hook 0x02 8-bit token 0x4C8E4576 value: expected 2, received 5");
}

TEST(TokenCheck, ChangedWideTokenIsNamedWithBothBytes) {
  Machine Description = DefaultMachine();
  Description.Pcd[375] = 0x1234;
  const BootRecord Boot = BootAndEdit(Description, [](uint8_t *Store) { Entry(Store, 8, 0x5A9DD6C9)[5] = 0x56; });
  ExpectOnlyError(Boot, "option hook 0x02 16-bit token 0x5A9DD6C9 value: expected 4660, received 22068");
}

TEST(TokenCheck, DroppedTokenIsMissing) {
  // The last item row appends the last entry; a count one lower drops it.
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](uint8_t *Store) {
    uint8_t *Table = Store + Word(Store + 4);
    const uint32_t Count = Word(Table + 8) - 1;
    std::memcpy(Table + 8, &Count, 4);
  });
  ExpectOnlyError(Boot, "option hook 0x02 8-bit token 0x4F99941E: missing from the store after the boot "
                        "(expected value 0)");
}

TEST(TokenCheck, AddedTokenIsNamed) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](uint8_t *Store) {
    uint8_t *Table = Store + Word(Store + 4);
    const uint32_t Count = Word(Table + 8);
    const uint32_t Uid = 0x12345678;
    std::memcpy(Table + kEntriesAt + Count * kEntryBytes, &Uid, 4);
    Table[kEntriesAt + Count * kEntryBytes + 4] = 7;
    const uint32_t NewCount = Count + 1;
    std::memcpy(Table + 8, &NewCount, 4);
  });
  ExpectOnlyError(Boot, "option hook 0x02 8-bit token 0x12345678: in the store after the boot with value 7, but "
                        "neither handed over nor set by the hook");
}

TEST(TokenCheck, ChangedCapacityIsNamedAndReported) {
  const BootRecord Boot = BootAndEdit(DefaultMachine(), [](uint8_t *Store) { Store[Word(Store + 8) + 4] = 0x48; });
  ExpectOnlyError(Boot, "option hook 0x02 16-bit token table capacity: expected 64, received 72");
  std::ostringstream Report;
  ccxsim::PrintS3Tokens(Report, Boot);
  EXPECT_NE(Report.str().find("  ERROR: option hook 0x02 16-bit token table capacity: expected 64, received 72\n"),
            std::string::npos)
      << Report.str();
  EXPECT_TRUE(ccxsim::ShowsErrors(Report.str())) << "the line makes the run exit 1";
}

// A store with a handed-over token and room for only two more: the hook updates in place and
// stops appending when the table is full.
TEST(TokenOracle, FullTableKeepsItsTokensAndUpdatesInPlace) {
  Machine Description = DefaultMachine();
  Description.TokenStore.Table8 = {true, 3 * 8, {{0xA0A9E098, 9}}};
  const std::vector<TokenWrite> Writes = ExpectedTokenWrites(Description);
  const TokenStoreView After =
      ApplyTokenWrites(TokenStoreAtStart(Description).Store, Writes, Writes.size());
  const std::vector<std::pair<uint32_t, uint16_t>> Tokens = {{0xA0A9E098, 0}, {0x0AE23766, 2}, {0xCCD6584C, 1}};
  EXPECT_EQ(After.Table8.Tokens, Tokens);
  const BootRecord Boot = BootAndEdit(Description);
  EXPECT_EQ(Boot.S3Tokens.TokensAfter.Table8.Tokens, Tokens);
  EXPECT_TRUE(Boot.S3Tokens.TokenErrors.empty()) << Boot.S3Tokens.TokenErrors.front();
}

// Without the simulation back-door the overrun's fatal stop halts the boot in the hook's first
// lookup: the untouched store is a stage of the hook's writes, a changed one is not.
TEST(TokenCheck, HaltedBootMayEndBeforeTheHookIsDone) {
  Machine Description = DefaultMachine();
  Description.Options.Overrun = 101;
  Description.SimulationBackdoor = false;
  const BootRecord Halted = BootAndEdit(Description);
  ASSERT_EQ(Halted.End.How, BootEnd::FatalHalt);
  EXPECT_TRUE(Halted.S3Tokens.TokensAfter.Table8.Tokens.empty());
  EXPECT_TRUE(Halted.S3Tokens.TokenErrors.empty()) << Halted.S3Tokens.TokenErrors.front();

  // A store that shows the hook's first write (option 0xD01A, as the overrun hid 0xD018) is a
  // stage too; one with another value is none.
  TokenStoreView FirstWrite = Halted.S3Tokens.TokensAfter;
  FirstWrite.Table8.Tokens = {{0xCCD6584C, 1}};
  std::vector<std::string> Errors;
  EXPECT_EQ(CheckTokenStore(Description, FirstWrite, true, Errors), 0u);
  FirstWrite.Table8.Tokens = {{0xCCD6584C, 3}};
  EXPECT_GT(CheckTokenStore(Description, FirstWrite, true, Errors), 1u);
  ASSERT_FALSE(Errors.empty());
  EXPECT_EQ(Errors.front(), "option hook 0x02 8-bit token 0xCCD6584C value: expected 1, received 3");
  EXPECT_EQ(Errors.back(), "option hook 0x02 token store: matches no stage of the hook's writes, though the boot "
                           "ended inside the driver");
}

// Machines whose option service, store or configuration differ from the default's.
struct Variant {
  const char *Name;
  std::function<void(Machine &)> Change;
  // What the hook must set on that machine, checked apart from the boot.
  std::function<void(const std::vector<TokenWrite> &)> Expect;
};

bool Sets(const std::vector<TokenWrite> &Writes, uint32_t Uid) {
  return std::any_of(Writes.begin(), Writes.end(), [Uid](const TokenWrite &Write) { return Write.Uid == Uid; });
}

const Variant kVariants[] = {
    {"OptionServiceAbsent", [](Machine &M) { M.Siblings["option_hook"] = {SiblingArrival::Absent, ""}; },
     [](const std::vector<TokenWrite> &W) { EXPECT_EQ(W.size(), 25u); }},
    // A guard overwritten on the first fetch loses the first option only.
    {"OverrunHidesFirstOption", [](Machine &M) { M.Options.Overrun = 101; },
     [](const std::vector<TokenWrite> &W) {
       EXPECT_FALSE(Sets(W, 0x0AE23766));
       EXPECT_TRUE(Sets(W, 0xCCD6584C));
     }},
    // A smaller size after the copy moves nothing; a larger one is an overrun on the first fetch.
    {"SmallerSizeAfterCopy", [](Machine &M) { M.Options.SizeAfterCopy = 40; },
     [](const std::vector<TokenWrite> &W) { EXPECT_TRUE(Sets(W, 0x0AE23766)); }},
    {"LargerSizeAfterCopy", [](Machine &M) { M.Options.SizeAfterCopy = 200; },
     [](const std::vector<TokenWrite> &W) {
       EXPECT_FALSE(Sets(W, 0x0AE23766));
       EXPECT_TRUE(Sets(W, 0xCCD6584C));
     }},
    // A failed copy leaves an empty buffer that later lookups walk off its end: the option tokens
    // are open, the items' are not.
    {"CopyFails", [](Machine &M) { M.Options.Fail = {"copy"}; },
     [](const std::vector<TokenWrite> &W) {
       EXPECT_EQ(W.size(), 28u);
       EXPECT_FALSE(W[0].Value);
       EXPECT_TRUE(W.back().Value);
     }},
    // The first size request fails; the next lookup fetches the table again.
    {"FirstSizeRequestFails",
     [](Machine &M) { M.Faults.push_back({"option_hook", "GetTableSize", 1, 0x8000000000000007ull}); },
     [](const std::vector<TokenWrite> &W) {
       EXPECT_FALSE(Sets(W, 0x0AE23766));
       EXPECT_TRUE(Sets(W, 0xCCD6584C));
     }},
    // Only the low byte of a wider option reaches its 8-bit token; the first entry of an id counts.
    {"WideAndRepeatedOptions",
     [](Machine &M) { M.Options.Values = {{0xD01A, 2, 0x1234}, {0xD018, 8, 0x1FF}, {0xD018, 1, 7}}; },
     [](const std::vector<TokenWrite> &W) {
       EXPECT_EQ(W[0].Value, 0xFF);
       EXPECT_EQ(W[1].Value, 0x34);
       EXPECT_FALSE(Sets(W, 0x3BED107B));
     }},
    {"ItemsReadAsTheirAccessors",
     [](Machine &M) {
       M.Pcd[369] = 0x1FF;  // Get8
       M.Pcd[383] = 4;      // GetBool
       M.Pcd[375] = 0x12345;  // Get16
     },
     [](const std::vector<TokenWrite> &W) {
       auto Value = [&W](uint32_t Uid) {
         return std::find_if(W.begin(), W.end(), [Uid](const TokenWrite &Write) { return Write.Uid == Uid; })->Value;
       };
       EXPECT_EQ(Value(0x8043E855), 0xFF);
       EXPECT_EQ(Value(0x24CC76B0), 1);
       EXPECT_EQ(Value(0x5A9DD6C9), 0x2345);
     }},
    {"WideTableNotInitialized", [](Machine &M) { M.TokenStore.Table16.Present = false; }, {}},
    {"NoStore", [](Machine &M) { M.TokenStore.Present = false; }, {}},
    {"FabricMissing", [](Machine &M) { M.Siblings["fabric_numa"] = {SiblingArrival::Absent, ""}; },
     [](const std::vector<TokenWrite> &W) { EXPECT_TRUE(W.empty()); }},
};

class TokenVariant : public testing::TestWithParam<Variant> {};

TEST_P(TokenVariant, StoreAgreesWithTheHook) {
  Machine Description = DefaultMachine();
  GetParam().Change(Description);
  if (GetParam().Expect) GetParam().Expect(ExpectedTokenWrites(Description));
  const BootRecord Boot = BootAndEdit(Description);
  EXPECT_TRUE(Boot.S3Tokens.TokenErrors.empty()) << Boot.S3Tokens.TokenErrors.front();
}

INSTANTIATE_TEST_SUITE_P(Machines, TokenVariant, testing::ValuesIn(kVariants),
                         [](const testing::TestParamInfo<Variant> &Info) { return std::string(Info.param.Name); });

std::vector<std::string> ExampleMachines() {
  std::vector<std::string> Paths;
  for (const auto &File : std::filesystem::directory_iterator(CCX_MACHINES_DIR)) {
    if (File.path().extension() == ".json") Paths.push_back(File.path());
  }
  std::sort(Paths.begin(), Paths.end());
  return Paths;
}

class ExampleMachineTokens : public testing::TestWithParam<std::string> {};

TEST_P(ExampleMachineTokens, StoreAgreesWithTheHook) {
  const Machine Description = LoadMachineFile(GetParam());
  // Every boot of a run of boots.
  for (uint64_t Number = 1; Number <= std::max<size_t>(1, Description.Boots.size()); Number++) {
    const BootRecord Boot = BootAndEdit(MachineForBoot(Description, Number));
    EXPECT_TRUE(Boot.S3Tokens.TokenErrors.empty()) << "boot " << Number << ": " << Boot.S3Tokens.TokenErrors.front();
    EXPECT_TRUE(Boot.S3Tokens.TokensAfter.Present);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, ExampleMachineTokens, testing::ValuesIn(ExampleMachines()),
                         [](const testing::TestParamInfo<std::string> &Info) {
                           std::string Name = std::filesystem::path(Info.param).stem();
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

}  // namespace
}  // namespace sim
