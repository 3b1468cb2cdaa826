// The machine-check description: the global fields at their offsets and every bank's control
// value and MSR addresses, checked as raw bytes.
#include <cstring>

#include "services/McaServices.h"
#include "tests/driver/DriverFixture.h"

namespace {

template <typename T>
T ReadAt(const void *Base, size_t Offset) {
  T Value;
  std::memcpy(&Value, static_cast<const uint8_t *>(Base) + Offset, sizeof(T));
  return Value;
}

TEST(McaService, DescribesTwentyEightBanksWithBank4Off) {
  const CCX_MCA_BANK_INFO *Info = nullptr;
  ASSERT_EQ(image::GetMcaBankInfo(nullptr, &Info), EFI_SUCCESS);
  ASSERT_NE(Info, nullptr);
  EXPECT_EQ(ReadAt<uint64_t>(Info, 0), 0u);
  EXPECT_EQ(ReadAt<uint64_t>(Info, 8), 0x0FFFFFEFu);
  EXPECT_EQ(ReadAt<uint8_t>(Info, 16), 0);
  EXPECT_EQ(ReadAt<uint8_t>(Info, 17), 2);
  EXPECT_EQ(ReadAt<uint8_t>(Info, 18), 0);
  EXPECT_EQ(ReadAt<uint8_t>(Info, 19), 28);
  const auto *Banks = reinterpret_cast<const uint8_t *>(ReadAt<uintptr_t>(Info, 20));
  ASSERT_EQ(static_cast<const void *>(Banks), static_cast<const void *>(Info->Banks));
  for (uint32_t Bank = 0; Bank < 28; Bank++) {
    const uint8_t *Entry = Banks + 24 * Bank;
    EXPECT_EQ(ReadAt<uint64_t>(Entry, 0), Bank == 4 ? 0 : ~0ULL) << Bank;
    EXPECT_EQ(ReadAt<uint32_t>(Entry, 8), 0xC0002000 + 0x10 * Bank);
    EXPECT_EQ(ReadAt<uint32_t>(Entry, 12), 0xC0002001 + 0x10 * Bank);
    EXPECT_EQ(ReadAt<uint32_t>(Entry, 16), 0xC0002002 + 0x10 * Bank);
    EXPECT_EQ(ReadAt<uint32_t>(Entry, 20), 0xC0002003 + 0x10 * Bank);
    // The global control value has the bank's bit exactly when its control value is not 0.
    EXPECT_EQ((ReadAt<uint64_t>(Info, 8) >> Bank & 1) != 0, ReadAt<uint64_t>(Entry, 0) != 0);
  }
}

TEST(McaService, HandsOutTheSameRecordEveryTimeAndRefusesANullOutput) {
  const CCX_MCA_BANK_INFO *First = nullptr;
  const CCX_MCA_BANK_INFO *Second = nullptr;
  image::GetMcaBankInfo(nullptr, &First);
  image::GetMcaBankInfo(nullptr, &Second);
  EXPECT_EQ(First, Second);
  EXPECT_EQ(image::GetMcaBankInfo(nullptr, nullptr), EFI_INVALID_PARAMETER);
}

}  // namespace
