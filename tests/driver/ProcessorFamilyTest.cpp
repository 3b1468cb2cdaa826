#include "driver/ProcessorFamily.h"

#include <gtest/gtest.h>

#include <cstring>

#include "arch/host/HostHooks.h"
#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;

namespace {

struct FamilyCase {
  uint32_t CpuidEax;
  uint32_t MailboxOffset;
  int Row;  // -1: no row matches
};

class ProcessorFamily : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(ProcessorFamily, FindsTheRowByFamilyAndExtendedModel) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.CpuidLeaves[0x80000001] = {GetParam().CpuidEax, 0, 0, 0};
  const PROCESSOR_FAMILY_ENTRY *Entry = reinterpret_cast<const PROCESSOR_FAMILY_ENTRY *>(1);
  const BOOLEAN Found = FindProcessorFamilyEntry(&Entry);
  EXPECT_EQ(Found, GetParam().Row >= 0);
  EXPECT_EQ(Entry, GetParam().Row >= 0 ? &ProcessorFamilyTable[GetParam().Row] : nullptr);
  EXPECT_EQ(GetHcuMailboxOffset(), GetParam().MailboxOffset);
}

INSTANTIATE_TEST_SUITE_P(
    Signatures, ProcessorFamily,
    ::testing::Values(FamilyCase{0x00B00F00, 0x10900, 3},   // family 0x1A, model 0x00
                      FamilyCase{0x00B70F52, 0x10900, 6},   // stepping and base model are masked out
                      FamilyCase{0x00B7FFFF & 0x00B70FFF, 0x10900, 6},
                      FamilyCase{0x00870F10, 0x10500, 0},   // family 0x17, models 0x70-0x7F
                      FamilyCase{0x00A10F00, 0x10500, -1},  // family 0x19, models 0x10-0x1F: defaults
                      FamilyCase{0x00000000, 0x10500, -1}));

TEST(ProcessorFamilyTable, RowsAreEighteenBytesWithTheirFields) {
  const uint8_t *Bytes = reinterpret_cast<const uint8_t *>(ProcessorFamilyTable);
  // Row 1: signature 0x00830F00, block 0x13E10000, bytes 03 01, mailbox 0x10500, 0x10680.
  const uint8_t Row1[18] = {0x00, 0x0F, 0x83, 0x00, 0x00, 0x00, 0xE1, 0x13, 0x03,
                            0x01, 0x00, 0x05, 0x01, 0x00, 0x80, 0x06, 0x01, 0x00};
  EXPECT_EQ(0, std::memcmp(Bytes + 18, Row1, 18));
}

// Counts the signature reads (CPUID 0x80000001) while it is installed, forwarding every access to
// the fake firmware's hooks.
class SignatureReadCounter {
 public:
  SignatureReadCounter() : Forward_(CcxArchHostHooks()) {
    Active_ = this;
    Hooks_ = Forward_;
    Hooks_.Cpuid = [](uint32_t Leaf, uint32_t SubLeaf, uint32_t Registers[4]) {
      if (Leaf == 0x80000001) Active_->Reads++;
      Active_->Forward_.Cpuid(Leaf, SubLeaf, Registers);
    };
    Previous_ = CcxInstallArchHostHooks(&Hooks_);
  }
  ~SignatureReadCounter() { CcxInstallArchHostHooks(Previous_); }
  unsigned Reads = 0;

 private:
  static inline SignatureReadCounter *Active_ = nullptr;
  CCX_ARCH_HOST_HOOKS Forward_;
  CCX_ARCH_HOST_HOOKS Hooks_;
  const CCX_ARCH_HOST_HOOKS *Previous_;
};

struct LookupCase {
  uint32_t CpuidEax;
  unsigned SignatureReads;  // one per row tried
};

class FamilyLookupCost : public ::testing::TestWithParam<LookupCase> {};

TEST_P(FamilyLookupCost, ExecutesCpuidOncePerRowTried) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.CpuidLeaves[0x80000001] = {GetParam().CpuidEax, 0, 0, 0};
  SignatureReadCounter Counter;
  const PROCESSOR_FAMILY_ENTRY *Entry = nullptr;
  FindProcessorFamilyEntry(&Entry);
  EXPECT_EQ(Counter.Reads, GetParam().SignatureReads);
}

INSTANTIATE_TEST_SUITE_P(Rows, FamilyLookupCost,
                         ::testing::Values(LookupCase{0x00870F00, 1}, LookupCase{0x00B00F00, 4},
                                           LookupCase{0x00B60F00, 8}, LookupCase{0x00A10F00, 8}));

class MailboxOffsetAtStartup : public ::testing::TestWithParam<FamilyCase> {};

// The library start-up keeps the mailbox offset of the running family for the SMM mutex.
TEST_P(MailboxOffsetAtStartup, IsTheFamilyRowsOrTheDefault) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.CpuidLeaves[0x80000001] = {GetParam().CpuidEax, 0, 0, 0};
  CcxLibraryStartup(Firmware.ImageHandle(), Firmware.SystemTable());
  EXPECT_EQ(gImage.Library.HcuMailboxOffset, GetParam().MailboxOffset);
}

INSTANTIATE_TEST_SUITE_P(Families, MailboxOffsetAtStartup,
                         ::testing::Values(FamilyCase{0x00B20F31, 0x10900, 5}, FamilyCase{0x00830F00, 0x10500, 1},
                                           FamilyCase{0x00A10F00, 0x10500, -1}));

}  // namespace
