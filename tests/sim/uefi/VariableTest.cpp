#include <unistd.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "UefiTestSupport.h"
#include "sim/uefi/VariableStoreFile.h"

namespace sim::test {
namespace {

constexpr uint32_t kNvBsRt = EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_BOOTSERVICE_ACCESS | EFI_VARIABLE_RUNTIME_ACCESS;
constexpr uint32_t kBs = EFI_VARIABLE_BOOTSERVICE_ACCESS;

class VariableTest : public UefiTest {
 protected:
  EFI_STATUS Set(const char16_t *name, uint32_t attributes, std::vector<uint8_t> data) {
    return Runtime().SetVariable(const_cast<CHAR16 *>(name), &vendor_, attributes, data.size(),
                                 data.empty() ? nullptr : data.data());
  }
  EFI_STATUS Get(const char16_t *name, std::vector<uint8_t> &data, UINT32 *attributes = nullptr) {
    UINTN size = data.size();
    EFI_STATUS status = Runtime().GetVariable(const_cast<CHAR16 *>(name), &vendor_, attributes, &size, data.data());
    data.resize(size);
    return status;
  }

  EFI_GUID vendor_ = MakeGuid(0x7A);
};

TEST_F(VariableTest, TooSmallBufferReportsTheNeededSizeAndTheAttributes) {
  ASSERT_EQ(Set(u"DownCoreStatus", kNvBsRt, {1, 2, 3}), EFI_SUCCESS);
  UINT32 attributes = 0;
  UINTN size = 2;
  uint8_t data[3] = {};
  EXPECT_EQ(Runtime().GetVariable(const_cast<CHAR16 *>(u"DownCoreStatus"), &vendor_, &attributes, &size, data),
            EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, 3u);
  EXPECT_EQ(attributes, kNvBsRt);
  EXPECT_EQ(data[0], 0);  // nothing is copied into a buffer that is too small
  EXPECT_EQ(Runtime().GetVariable(const_cast<CHAR16 *>(u"DownCoreStatus"), &vendor_, nullptr, &size, data),
            EFI_SUCCESS);
  EXPECT_EQ(data[2], 3);
  std::vector<uint8_t> other(4);
  EXPECT_EQ(Get(u"Missing", other), EFI_NOT_FOUND);
  EFI_GUID otherVendor = MakeGuid(0x7B);
  EXPECT_EQ(Runtime().GetVariable(const_cast<CHAR16 *>(u"DownCoreStatus"), &otherVendor, nullptr, &size, data),
            EFI_NOT_FOUND);
}

struct DeleteCase {
  const char *what;
  uint32_t attributes;
  bool withData;
};

class DeleteTest : public VariableTest, public ::testing::WithParamInterface<DeleteCase> {};

TEST_P(DeleteTest, DeletesTheVariableAndThenFindsNothingToDelete) {
  ASSERT_EQ(Set(u"Setup", kNvBsRt, {7}), EFI_SUCCESS);
  const std::vector<uint8_t> data = GetParam().withData ? std::vector<uint8_t>{9} : std::vector<uint8_t>{};
  EXPECT_EQ(Set(u"Setup", GetParam().attributes, data), EFI_SUCCESS) << GetParam().what;
  std::vector<uint8_t> read(1);
  EXPECT_EQ(Get(u"Setup", read), EFI_NOT_FOUND);
  EXPECT_EQ(Set(u"Setup", GetParam().attributes, data), EFI_NOT_FOUND) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Ways, DeleteTest,
                         ::testing::Values(DeleteCase{"size zero", kNvBsRt, false},
                                           DeleteCase{"attributes zero", 0, false},
                                           DeleteCase{"attributes zero with data", 0, true},
                                           DeleteCase{"no access attribute", EFI_VARIABLE_NON_VOLATILE, true}));

TEST_F(VariableTest, ReplaceKeepsOneVariableWithTheNewValue) {
  ASSERT_EQ(Set(u"Mode", kBs, {1, 1, 1, 1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Mode", kBs, {2}), EFI_SUCCESS);
  std::vector<uint8_t> read(8);
  ASSERT_EQ(Get(u"Mode", read), EFI_SUCCESS);
  EXPECT_EQ(read, std::vector<uint8_t>{2});
  ASSERT_EQ(Set(u"Mode", kBs | EFI_VARIABLE_APPEND_WRITE, {3, 4}), EFI_SUCCESS);
  read.resize(8);
  ASSERT_EQ(Get(u"Mode", read), EFI_SUCCESS);
  EXPECT_EQ(read, (std::vector<uint8_t>{2, 3, 4}));
}

struct AttributeCase {
  const char *what;
  uint32_t attributes;
  EFI_STATUS status;
};

class AttributeTest : public VariableTest, public ::testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeTest, InvalidCombinationIsRefusedAndStoresNothing) {
  ASSERT_EQ(Set(u"Existing", kBs, {1}), EFI_SUCCESS);
  const char16_t *name = GetParam().attributes == (kNvBsRt) ? u"Existing" : u"Fresh";
  EXPECT_EQ(Set(name, GetParam().attributes, {5}), GetParam().status) << GetParam().what;
  std::vector<uint8_t> read(4);
  EXPECT_EQ(Get(u"Fresh", read), EFI_NOT_FOUND);
  read.resize(4);
  ASSERT_EQ(Get(u"Existing", read), EFI_SUCCESS);
  EXPECT_EQ(read, std::vector<uint8_t>{1});
}

INSTANTIATE_TEST_SUITE_P(
    Combinations, AttributeTest,
    ::testing::Values(
        AttributeCase{"runtime without boot-service access", EFI_VARIABLE_RUNTIME_ACCESS, EFI_INVALID_PARAMETER},
        AttributeCase{"non-volatile runtime without boot-service access",
                      EFI_VARIABLE_NON_VOLATILE | EFI_VARIABLE_RUNTIME_ACCESS, EFI_INVALID_PARAMETER},
        AttributeCase{"hardware error record without runtime access",
                      EFI_VARIABLE_HARDWARE_ERROR_RECORD | EFI_VARIABLE_NON_VOLATILE | kBs, EFI_INVALID_PARAMETER},
        AttributeCase{"undefined bit", kBs | 0x100, EFI_INVALID_PARAMETER},
        AttributeCase{"existing variable with other attributes", kNvBsRt, EFI_INVALID_PARAMETER},
        AttributeCase{"time-based authenticated write", kBs | EFI_VARIABLE_TIME_BASED_AUTHENTICATED_WRITE_ACCESS,
                      EFI_UNSUPPORTED}));

TEST_F(VariableTest, NamesMustBeNonEmptyAndTerminated) {
  EXPECT_EQ(Set(u"", kBs, {1}), EFI_INVALID_PARAMETER);
  std::vector<char16_t> unterminated(0x8000, u'A');
  EXPECT_EQ(Runtime().SetVariable(unterminated.data(), &vendor_, kBs, 1, unterminated.data()), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Runtime().SetVariable(const_cast<CHAR16 *>(u"X"), &vendor_, kBs, 1, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(VariableTest, GetNextVariableNameVisitsEveryVariableOnce) {
  ASSERT_EQ(Set(u"Beta", kBs, {1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Alpha", kNvBsRt, {1}), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Gamma", kBs, {1}), EFI_SUCCESS);
  CHAR16 name[16] = {0};
  EFI_GUID guid{};
  std::vector<std::u16string> seen;
  UINTN size = 2;
  EXPECT_EQ(Runtime().GetNextVariableName(&size, name, &guid), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof(u"Alpha"));
  for (;;) {
    size = sizeof(name);
    EFI_STATUS status = Runtime().GetNextVariableName(&size, name, &guid);
    if (status == EFI_NOT_FOUND) {
      break;
    }
    ASSERT_EQ(status, EFI_SUCCESS);
    seen.emplace_back(name);
  }
  EXPECT_EQ(seen, (std::vector<std::u16string>{u"Alpha", u"Beta", u"Gamma"}));
  std::u16string unknown = u"Delta";
  size = sizeof(name);
  std::copy(unknown.begin(), unknown.end() + 1, name);
  EXPECT_EQ(Runtime().GetNextVariableName(&size, name, &guid), EFI_INVALID_PARAMETER);
}

TEST_F(VariableTest, QueryVariableInfoAccountsForStoredVariables) {
  UINT64 maximum = 0, before = 0, after = 0, largest = 0;
  ASSERT_EQ(Runtime().QueryVariableInfo(kNvBsRt, &maximum, &before, &largest), EFI_SUCCESS);
  ASSERT_EQ(Set(u"Big", kNvBsRt, std::vector<uint8_t>(1000, 0)), EFI_SUCCESS);
  ASSERT_EQ(Runtime().QueryVariableInfo(kNvBsRt, &maximum, &after, &largest), EFI_SUCCESS);
  EXPECT_EQ(before - after, VariableStore::kHeaderBytes + sizeof(u"Big") + 1000);
  EXPECT_EQ(Set(u"Huge", kNvBsRt, std::vector<uint8_t>(largest + 1, 0)), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Runtime().QueryVariableInfo(EFI_VARIABLE_RUNTIME_ACCESS, &maximum, &after, &largest),
            EFI_INVALID_PARAMETER);
}

// A directory of its own for each test's store file, removed afterwards.
class StoreFileTest : public ::testing::Test {
 protected:
  StoreFileTest()
      : directory_(std::filesystem::temp_directory_path() /
                   ("ccx-sim-uefi-" + std::to_string(getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::remove_all(directory_);
    std::filesystem::create_directories(directory_);
  }
  ~StoreFileTest() override { std::filesystem::remove_all(directory_); }
  std::filesystem::path File() const { return directory_ / "variables.txt"; }
  void Write(const std::string &text) const { std::ofstream(File()) << text; }
  // The names in the store's folder.
  std::set<std::string> Entries() const {
    std::set<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(directory_)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  // The message AttachFile refuses the store with; empty when it takes it.
  std::string Refusal() { return Refusal(File()); }
  std::string Refusal(const std::filesystem::path &file) {
    VariableStore store(collect_);
    try {
      store.AttachFile(file);
    } catch (const VariableStoreError &error) {
      return error.what();
    }
    return {};
  }

  std::filesystem::path directory_;
  EFI_GUID vendor_ = MakeGuid(0x7C);
  std::vector<std::string> messages_;
  Diagnostics collect_ = [this](const std::string &message) { messages_.push_back(message); };
};

TEST_F(StoreFileTest, NonVolatileVariablesPersistAcrossTwoStores) {
  {
    VariableStore first(collect_);
    first.AttachFile(File());
    ASSERT_EQ(first.Set(u"DownCoreStatus", vendor_, kNvBsRt, std::vector<uint8_t>{4}), EFI_SUCCESS);
    ASSERT_EQ(first.Set(u"Gone", vendor_, kNvBsRt, std::vector<uint8_t>{1}), EFI_SUCCESS);
    ASSERT_EQ(first.Set(u"Gone", vendor_, 0, {}), EFI_SUCCESS);
    ASSERT_EQ(first.Set(u"Volatile", vendor_, kBs, std::vector<uint8_t>{2}), EFI_SUCCESS);
    ASSERT_EQ(first.Set(u"50% of \u00e9", vendor_, EFI_VARIABLE_NON_VOLATILE | kBs, std::vector<uint8_t>{0, 255}),
              EFI_SUCCESS);
  }
  VariableStore second(collect_);
  second.AttachFile(File());
  ASSERT_NE(second.Find(u"DownCoreStatus", vendor_), nullptr);
  EXPECT_EQ(second.Find(u"DownCoreStatus", vendor_)->data, std::vector<uint8_t>{4});
  EXPECT_EQ(second.Find(u"DownCoreStatus", vendor_)->attributes, kNvBsRt);
  ASSERT_NE(second.Find(u"50% of \u00e9", vendor_), nullptr);
  EXPECT_EQ(second.Find(u"50% of \u00e9", vendor_)->data, (std::vector<uint8_t>{0, 255}));
  EXPECT_EQ(second.Find(u"Gone", vendor_), nullptr);
  EXPECT_EQ(second.Find(u"Volatile", vendor_), nullptr);
  // No temporary file is left beside the store.
  EXPECT_EQ(Entries(), std::set<std::string>{"variables.txt"});
}

TEST_F(StoreFileTest, FailedSaveUndoesTheChangeAndKeepsTheFile) {
  VariableStore store(collect_);
  store.AttachFile(File());
  ASSERT_EQ(store.Set(u"Kept", vendor_, kNvBsRt, std::vector<uint8_t>{1}), EFI_SUCCESS);
  EXPECT_FALSE(store.WriteFailure());
  // A store marked read-only after it was attached makes every save fail, even for root.
  std::filesystem::permissions(File(), std::filesystem::perms::owner_read);
  EXPECT_EQ(store.Set(u"Kept", vendor_, kNvBsRt, std::vector<uint8_t>{2}), EFI_DEVICE_ERROR);
  EXPECT_EQ(store.Set(u"New", vendor_, kNvBsRt, std::vector<uint8_t>{3}), EFI_DEVICE_ERROR);
  EXPECT_EQ(store.Set(u"Kept", vendor_, 0, {}), EFI_DEVICE_ERROR);
  EXPECT_EQ(store.Find(u"Kept", vendor_)->data, std::vector<uint8_t>{1});
  EXPECT_EQ(store.Find(u"New", vendor_), nullptr);
  ASSERT_FALSE(messages_.empty());
  EXPECT_NE(messages_[0].find("variables.txt"), std::string::npos);
  ASSERT_TRUE(store.WriteFailure());
  EXPECT_NE(store.WriteFailure()->find("variables.txt' cannot be written: it is read-only"), std::string::npos)
      << *store.WriteFailure();
  EXPECT_EQ(Entries(), std::set<std::string>{"variables.txt"});
  std::filesystem::permissions(File(), std::filesystem::perms::owner_write, std::filesystem::perm_options::add);
  VariableStore reread(collect_);
  reread.AttachFile(File());
  EXPECT_EQ(reread.Find(u"Kept", vendor_)->data, std::vector<uint8_t>{1});
}

TEST_F(StoreFileTest, AVersionOneStoreIsReadAndWrittenBackAsVersionTwo) {
  Write("ccx-variable-store 1\n" + GuidToString(vendor_) + " 00000007 Old 0A0B\n");
  VariableStore store(collect_);
  store.AttachFile(File());
  ASSERT_NE(store.Find(u"Old", vendor_), nullptr);
  EXPECT_EQ(store.Find(u"Old", vendor_)->data, (std::vector<uint8_t>{0x0A, 0x0B}));
  ASSERT_EQ(store.Set(u"New", vendor_, kNvBsRt, std::vector<uint8_t>{1}), EFI_SUCCESS);
  std::ifstream in(File());
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_TRUE(text.starts_with("ccx-variable-store 2\n")) << text;
  EXPECT_TRUE(text.ends_with("\nend\n")) << text;
}

// Refused when attached, before the driver could make a change the store would not keep.
TEST_F(StoreFileTest, AStoreThatCannotBeWrittenIsRefusedWhenAttached) {
  Write("ccx-variable-store 2\nend\n");
  std::filesystem::permissions(File(), std::filesystem::perms::owner_read | std::filesystem::perms::group_read);
  EXPECT_NE(Refusal().find("variables.txt' cannot be written: it is read-only"), std::string::npos) << Refusal();
  std::filesystem::remove(File());

  std::filesystem::create_symlink(directory_ / "elsewhere.txt", File());
  EXPECT_NE(Refusal().find("variables.txt' cannot be written: it is a symbolic link"), std::string::npos) << Refusal();
  std::filesystem::remove(File());

  EXPECT_NE(Refusal(directory_ / "missing" / "variables.txt")
                .find("cannot be written: its folder '" + (directory_ / "missing").string() + "' does not exist"),
            std::string::npos)
      << Refusal(directory_ / "missing" / "variables.txt");
}

TEST_F(StoreFileTest, AFifoIsRefusedWithoutWaitingForAWriter) {
  ASSERT_EQ(mkfifo(File().c_str(), 0600), 0);
  EXPECT_NE(Refusal().find("variables.txt (variable store): is a FIFO, not a regular file"), std::string::npos)
      << Refusal();
}

// Whatever lies at the name the old code used for its temporary file, or any other, stays untouched.
TEST_F(StoreFileTest, APlantedSymlinkAtATemporaryNameIsNotFollowed) {
  const std::filesystem::path victim = directory_ / "victim";
  std::ofstream(victim) << "keep me\n";
  std::filesystem::create_symlink(victim, File().string() + ".tmp");
  VariableStore store(collect_);
  store.AttachFile(File());
  ASSERT_EQ(store.Set(u"Stored", vendor_, kNvBsRt, std::vector<uint8_t>{7}), EFI_SUCCESS);
  std::ifstream in(victim);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()), "keep me\n");
  EXPECT_TRUE(std::filesystem::is_symlink(File().string() + ".tmp"));
  EXPECT_EQ(Entries(), (std::set<std::string>{"variables.txt", "variables.txt.tmp", "victim"}));
  VariableStore reread(collect_);
  reread.AttachFile(File());
  ASSERT_NE(reread.Find(u"Stored", vendor_), nullptr);
}

struct MalformedCase {
  const char *what;
  const char *text;
  const char *message;
};

class MalformedStoreTest : public StoreFileTest, public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedStoreTest, IsAClearErrorNamingFileAndLine) {
  Write(GetParam().text);
  VariableStore store(collect_);
  try {
    store.AttachFile(File());
    FAIL() << GetParam().what << " was accepted";
  } catch (const VariableStoreError &error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(File().string()), std::string::npos) << message;
    EXPECT_NE(message.find(GetParam().message), std::string::npos) << message;
  }
  EXPECT_TRUE(store.All().empty());
}

#define GOOD_GUID "51A0F07C-1234-5678-0102-030405060708"
INSTANTIATE_TEST_SUITE_P(
    Files, MalformedStoreTest,
    ::testing::Values(
        MalformedCase{"empty file", "", "is empty"},
        MalformedCase{"wrong header", "ccx-variable-store 3\n", "line 1: expected the header"},
        MalformedCase{"cut before the end line", "ccx-variable-store 2\n" GOOD_GUID " 00000007 Name 01\n",
                      "is truncated: it ends at line 2 without the line 'end'"},
        MalformedCase{"cut inside a value", "ccx-variable-store 2\n" GOOD_GUID " 00000007 Name 0102",
                      "is truncated: it ends at line 2"},
        MalformedCase{"version 1 cut inside its last line", "ccx-variable-store 1\n" GOOD_GUID " 00000007 Name 0102",
                      "is truncated: its last line (2) does not end with a newline"},
        MalformedCase{"a variable after the end", "ccx-variable-store 2\nend\n# note\n" GOOD_GUID " 00000007 N 01\n",
                      "line 4: nothing but comments may follow the line 'end'"},
        MalformedCase{"binary garbage", "\x7f" "ELF\x02\x01\x01", "line 1: expected the header"},
        MalformedCase{"bad GUID", "ccx-variable-store 1\n51A0F07C-1234 00000007 Name 01\n", "line 2: '51A0F07C-1234'"},
        MalformedCase{"missing data", "ccx-variable-store 1\n# comment\n" GOOD_GUID " 00000007 Name\n",
                      "line 3: expected 4"},
        MalformedCase{"odd data digits", "ccx-variable-store 1\n" GOOD_GUID " 00000007 Name 012\n", "line 2: data"},
        MalformedCase{"short attributes", "ccx-variable-store 1\n" GOOD_GUID " 7 Name 01\n", "line 2: attributes '7'"},
        MalformedCase{"volatile variable", "ccx-variable-store 1\n" GOOD_GUID " 00000002 Name 01\n",
                      "line 2: attributes 00000002"},
        MalformedCase{"bad escape", "ccx-variable-store 1\n" GOOD_GUID " 00000007 Na%zzzz 01\n", "line 2: name"},
        MalformedCase{"duplicate", "ccx-variable-store 1\n" GOOD_GUID " 00000007 N 01\n" GOOD_GUID " 00000007 N 02\n",
                      "line 3: variable 'N'"}));

}  // namespace
}  // namespace sim::test
