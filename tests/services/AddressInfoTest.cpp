// The address-information service: usable physical address bits with and without the memory
// encryption leaf, and the scaled APIC ID size.
#include <gtest/gtest.h>

#include "driver/ImageState.h"
#include "services/ServiceProtocols.h"
#include "tests/support/FakeFirmware.h"

using namespace CcxImage;

namespace {

struct AddressBitsCase {
  const char *Name;
  uint32_t AddressSizesEax;  // CPUID 0x80000008 EAX
  uint32_t HighestExtendedLeaf;
  uint32_t EncryptionEbx;  // CPUID 0x8000001F EBX
  uint8_t Bits;
};

class PhysicalAddressBits : public ::testing::TestWithParam<AddressBitsCase> {};

TEST_P(PhysicalAddressBits, LeaveOutTheBitsMemoryEncryptionTakes) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.CpuidLeaves[0x80000000] = {GetParam().HighestExtendedLeaf, 0, 0, 0};
  Firmware.CpuidLeaves[0x80000008] = {GetParam().AddressSizesEax, 0, 0, 0};
  Firmware.CpuidLeaves[0x8000001F] = {0x3F, GetParam().EncryptionEbx, 0, 0};
  EXPECT_EQ(gCcxAddressInfoProtocol.GetPhysicalAddressBits(), GetParam().Bits);
}

// EBX bits 11:6 of 0x16F are 5.
INSTANTIATE_TEST_SUITE_P(
    Leaves, PhysicalAddressBits,
    ::testing::Values(AddressBitsCase{"EncryptionLeafPresent", 0x3030, 0x80000028, 0x16F, 43},
                      AddressBitsCase{"EncryptionLeafIsTheHighest", 0x3030, 0x8000001F, 0x16F, 43},
                      AddressBitsCase{"EncryptionLeafAbsent", 0x3030, 0x8000001E, 0x16F, 48},
                      AddressBitsCase{"NoBitsTaken", 0x0034, 0x80000028, 0x02F, 52},
                      AddressBitsCase{"OnlyTheLowByteIsTheWidth", 0xFF2E, 0x80000020, 0x040, 45}),
    [](const auto &Info) { return std::string(Info.param.Name); });

class ApicIdSize : public ::testing::TestWithParam<std::pair<uint32_t, uint32_t>> {};

TEST_P(ApicIdSize, IsFourShiftedByTheSizeField) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.CpuidLeaves[0x80000008] = {0x3030, 0, GetParam().first, 0};
  EXPECT_EQ(gCcxAddressInfoProtocol.GetApicIdSizeScaled(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Fields, ApicIdSize,
                         ::testing::Values(std::pair<uint32_t, uint32_t>{0x0000707F, 512},
                                           std::pair<uint32_t, uint32_t>{0x00000FFF, 4},
                                           std::pair<uint32_t, uint32_t>{0x0000F000, 4u << 15}));

}  // namespace
