#include "driver/ProcessorFamily.h"

#include <gtest/gtest.h>

#include <cstring>

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

}  // namespace
