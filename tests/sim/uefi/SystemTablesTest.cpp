#include <unistd.h>

#include <cstring>
#include <thread>

#include "UefiTestSupport.h"
#include "sim/uefi/Crc32.h"

namespace sim::test {
namespace {

using TablesTest = UefiTest;

// The CRC of a table as a consumer checks it: over HeaderSize bytes with the CRC field zero.
uint32_t RecomputedCrc(const EFI_TABLE_HEADER &header) {
  std::vector<uint8_t> copy(header.HeaderSize);
  std::memcpy(copy.data(), &header, header.HeaderSize);
  std::memset(copy.data() + offsetof(EFI_TABLE_HEADER, CRC32), 0, sizeof(UINT32));
  return Crc32(copy.data(), copy.size());
}

TEST_F(TablesTest, HeadersCarrySignatureSizeAndAValidCrc) {
  EFI_SYSTEM_TABLE &system = *core_.SystemTable();
  const struct {
    const EFI_TABLE_HEADER *header;
    uint64_t signature;
    uint32_t size;
  } tables[] = {{&system.Hdr, 0x5453595320494249ULL, sizeof(EFI_SYSTEM_TABLE)},
                {&system.BootServices->Hdr, 0x56524553544f4f42ULL, sizeof(EFI_BOOT_SERVICES)},
                {&system.RuntimeServices->Hdr, 0x56524553544e5552ULL, sizeof(EFI_RUNTIME_SERVICES)}};
  for (const auto &table : tables) {
    EXPECT_EQ(table.header->Signature, table.signature);
    EXPECT_EQ(table.header->HeaderSize, table.size);
    EXPECT_EQ(table.header->Revision, (2U << 16) | 100U);
    EXPECT_EQ(table.header->CRC32, RecomputedCrc(*table.header));
  }
  EXPECT_EQ(system.BootServices, &Boot());
  EXPECT_EQ(std::u16string(system.FirmwareVendor), std::u16string(SystemTables::kFirmwareVendor));
}

TEST_F(TablesTest, EveryServiceSlotIsFilled) {
  auto slotsOf = [](const void *table, size_t size) {
    std::vector<uintptr_t> slots((size - sizeof(EFI_TABLE_HEADER)) / sizeof(uintptr_t));
    std::memcpy(slots.data(), static_cast<const uint8_t *>(table) + sizeof(EFI_TABLE_HEADER), slots.size() * 8);
    return slots;
  };
  const std::vector<uintptr_t> boot = slotsOf(&Boot(), sizeof(EFI_BOOT_SERVICES));
  const size_t reserved = (offsetof(EFI_BOOT_SERVICES, Reserved) - sizeof(EFI_TABLE_HEADER)) / sizeof(uintptr_t);
  ASSERT_EQ(boot.size(), 44u);
  for (size_t index = 0; index < boot.size(); index++) {
    EXPECT_EQ(boot[index] == 0, index == reserved) << "boot-services slot " << index;
  }
  for (uintptr_t slot : slotsOf(&Runtime(), sizeof(EFI_RUNTIME_SERVICES))) {
    EXPECT_NE(slot, 0u);
  }
}

TEST_F(TablesTest, ConfigurationTableAddsReplacesAndDeletesEntries) {
  EFI_SYSTEM_TABLE &system = *core_.SystemTable();
  EFI_GUID first = MakeGuid(0x21), second = MakeGuid(0x22);
  int tableA = 0, tableB = 0;
  Probe watcher = MakeProbe("watcher");
  CreateProbeEvent(TPL_CALLBACK, watcher, &first);

  ASSERT_EQ(Boot().InstallConfigurationTable(&first, &tableA), EFI_SUCCESS);
  ASSERT_EQ(Boot().InstallConfigurationTable(&second, &tableB), EFI_SUCCESS);
  ASSERT_EQ(system.NumberOfTableEntries, 2u);
  EXPECT_EQ(system.ConfigurationTable[0].VendorTable, &tableA);
  ASSERT_EQ(Boot().InstallConfigurationTable(&first, &tableB), EFI_SUCCESS);
  EXPECT_EQ(system.NumberOfTableEntries, 2u);
  EXPECT_EQ(core_.Tables().FindConfigurationTable(first), &tableB);
  ASSERT_EQ(Boot().InstallConfigurationTable(&first, nullptr), EFI_SUCCESS);
  ASSERT_EQ(system.NumberOfTableEntries, 1u);
  EXPECT_EQ(system.ConfigurationTable[0].VendorTable, &tableB);
  EXPECT_EQ(Boot().InstallConfigurationTable(&first, nullptr), EFI_NOT_FOUND);
  EXPECT_EQ(Boot().InstallConfigurationTable(nullptr, &tableA), EFI_INVALID_PARAMETER);
  EXPECT_EQ(system.Hdr.CRC32, RecomputedCrc(system.Hdr));
  EXPECT_EQ(watcher.runs, 3);  // added, replaced, removed
}

TEST_F(TablesTest, MiscellaneousServicesBehaveAsStandard) {
  const char digits[] = "123456789";
  UINT32 crc = 0;
  ASSERT_EQ(Boot().CalculateCrc32(const_cast<char *>(digits), 9, &crc), EFI_SUCCESS);
  EXPECT_EQ(crc, 0xCBF43926u);
  EXPECT_EQ(Boot().CalculateCrc32(const_cast<char *>(digits), 0, &crc), EFI_INVALID_PARAMETER);

  char overlap[] = "abcdefgh";
  Boot().CopyMem(overlap + 2, overlap, 5);
  EXPECT_STREQ(overlap, "ababcdeh");
  Boot().SetMem(overlap, 3, 'z');
  EXPECT_STREQ(overlap, "zzzbcdeh");

  UINT64 first = 0, second = 0;
  ASSERT_EQ(Boot().GetNextMonotonicCount(&first), EFI_SUCCESS);
  ASSERT_EQ(Boot().GetNextMonotonicCount(&second), EFI_SUCCESS);
  EXPECT_GT(second, first);
  UINT32 high = 0;
  ASSERT_EQ(Runtime().GetNextHighMonotonicCount(&high), EFI_SUCCESS);
  ASSERT_EQ(Boot().GetNextMonotonicCount(&second), EFI_SUCCESS);
  EXPECT_EQ(second >> 32, high);

  ASSERT_EQ(Boot().Stall(1500), EFI_SUCCESS);
  EXPECT_EQ(core_.StalledMicroseconds(), 1500u);
  EXPECT_EQ(Boot().SetWatchdogTimer(300, 0x1234, 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().SetWatchdogTimer(0, 0, 0, nullptr), EFI_SUCCESS);

  EFI_TIME time{};
  ASSERT_EQ(Runtime().GetTime(&time, nullptr), EFI_SUCCESS);
  EXPECT_GE(time.Year, 2020);
  EXPECT_TRUE(time.Month >= 1 && time.Month <= 12 && time.Day >= 1 && time.Day <= 31);
  EXPECT_EQ(Runtime().GetTime(nullptr, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(TablesTest, CallAboveTheServicesTplLimitIsReportedButServed) {
  const EFI_TPL old = Boot().RaiseTPL(TPL_HIGH_LEVEL);
  void *buffer = nullptr;
  EXPECT_EQ(Boot().AllocatePool(EfiBootServicesData, 8, &buffer), EFI_SUCCESS);
  Boot().RestoreTPL(old);
  EXPECT_TRUE(Reported("AllocatePool called at TPL 31"));
  EXPECT_EQ(Boot().FreePool(buffer), EFI_SUCCESS);
}

TEST_F(TablesTest, CallFromAnotherThreadIsRefused) {
  EFI_STATUS status = EFI_SUCCESS;
  void *buffer = nullptr;
  std::thread application([&] { status = Boot().AllocatePool(EfiBootServicesData, 8, &buffer); });
  application.join();
  EXPECT_EQ(status, EFI_UNSUPPORTED);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_TRUE(Reported("thread other than the boot processor"));
}

UefiCoreOptions SmallCoreOptions() {
  UefiCoreOptions options;
  options.dram = {DramRange{kDramBase, 0x100000}};
  options.diagnostics = [](const std::string &) {};
  return options;
}

TEST(TablesWithoutCore, CallWithNoActiveCoreReturnsNotReady) {
  UefiCore core(SmallCoreOptions());
  void *buffer = nullptr;
  EXPECT_EQ(core.BootServices()->AllocatePool(EfiBootServicesData, 8, &buffer), EFI_NOT_READY);
  {
    auto active = core.Activate();
    EXPECT_EQ(core.BootServices()->AllocatePool(EfiBootServicesData, 8, &buffer), EFI_SUCCESS);
  }
  EXPECT_EQ(UefiCore::Current(), nullptr);
}

// Runs in the death test's child: a reset that returned would fail the expected exit code.
void ResetThroughTheTable(ResetHandler handler, UefiCore *&self) {
  UefiCoreOptions options = SmallCoreOptions();
  options.onReset = std::move(handler);
  UefiCore core(options);
  self = &core;
  auto active = core.Activate();
  char16_t data[] = u"down\0\x1234";
  core.RuntimeServices()->ResetSystem(EfiResetCold, EFI_ABORTED, sizeof(data), data);
}

TEST(ResetDeathTest, ResetSystemRecordsTheResetAndEndsTheBootThroughTheHandler) {
  UefiCore *self = nullptr;
  auto handler = [&self](EFI_RESET_TYPE type) {
    const ResetRecord &record = *self->LastReset();
    const bool expected = type == EfiResetCold && record.status == EFI_ABORTED && record.description == u"down";
    _exit(expected ? 42 : 1);
  };
  EXPECT_EXIT(ResetThroughTheTable(handler, self), ::testing::ExitedWithCode(42), "");
}

TEST(ResetDeathTest, HandlerThatReturnsStopsTheProcess) {
  UefiCore *self = nullptr;
  EXPECT_DEATH(ResetThroughTheTable([](EFI_RESET_TYPE) {}, self), "handler returned");
}

TEST(ResetDeathTest, ResetSystemWithoutHandlerStopsWithAMessage) {
  UefiCore *self = nullptr;
  EXPECT_DEATH(ResetThroughTheTable(nullptr, self), "no reset handler");
}

}  // namespace
}  // namespace sim::test
