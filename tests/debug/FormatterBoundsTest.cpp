// Bounded output, refused calls, and the wide-output, wide-format and count-only modes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "debug/Formatter.h"

namespace {

using namespace CCX_IMAGE_NAMESPACE;

constexpr unsigned char kCanary = 0xA5;
constexpr size_t kGuard = 16;

// A buffer of Size cells inside a larger array filled with a canary, so that any byte written
// past the cells the formatter was given shows up.
class GuardedBuffer {
 public:
  GuardedBuffer(size_t Cells, size_t CellSize)
      : Bytes_(Cells * CellSize + 2 * kGuard, kCanary), Used_(Cells * CellSize) {}
  char *Data() { return reinterpret_cast<char *>(Bytes_.data()) + kGuard; }
  const unsigned char *Cells() const { return Bytes_.data() + kGuard; }
  bool GuardsIntact() const {
    for (size_t Index = 0; Index < kGuard; Index++) {
      if (Bytes_[Index] != kCanary || Bytes_[kGuard + Used_ + Index] != kCanary) {
        return false;
      }
    }
    return true;
  }

 private:
  std::vector<unsigned char> Bytes_;
  size_t Used_;
};

struct BoundedCase {
  const char *Format;
  const char *Full;  // the text with a buffer large enough
};

void PrintTo(const BoundedCase &Case, std::ostream *Stream) {
  *Stream << testing::PrintToString(std::string(Case.Format));
}

class BoundedOutput : public testing::TestWithParam<BoundedCase> {};

TEST_P(BoundedOutput, EverySizeNearTheLengthKeepsTheNulInside) {
  const std::string Full = GetParam().Full;
  for (size_t Size = 1; Size <= Full.size() + 3; Size++) {
    GuardedBuffer Buffer(Size, 1);
    const UINTN Length = FormatToBuffer(Buffer.Data(), Size, 0, GetParam().Format, UINT64{1234567}, "text");
    const size_t Expected = Full.size() < Size - 1 ? Full.size() : Size - 1;
    EXPECT_EQ(Length, Expected) << "size " << Size;
    EXPECT_EQ(std::string(Buffer.Data(), Length), Full.substr(0, Expected)) << "size " << Size;
    EXPECT_EQ(Buffer.Data()[Length], '\0') << "size " << Size;
    EXPECT_TRUE(Buffer.GuardsIntact()) << "size " << Size;
  }
}

INSTANTIATE_TEST_SUITE_P(Formatter, BoundedOutput,
                         testing::Values(BoundedCase{"0123456789", "0123456789"},
                                         BoundedCase{"<%,12d|%-8a>\n", "<   1,234,567|text    >\r\n"},
                                         BoundedCase{"%08x%.6a%%", "0012D687  text%"}));

TEST(Formatter, SizeEightKeepsSevenDigits) {
  GuardedBuffer Buffer(8, 1);
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), 8, 0, "0123456789"), 7u);
  EXPECT_STREQ(Buffer.Data(), "0123456");
  EXPECT_TRUE(Buffer.GuardsIntact());
}

TEST(Formatter, WideOutputStaysInsideItsCells) {
  const std::u16string Full = u"ab\u263A42\r\n";
  for (size_t Size = 1; Size <= Full.size() + 2; Size++) {
    GuardedBuffer Buffer(Size, 2);
    const UINTN Length =
        FormatToBuffer(Buffer.Data(), Size, kFormatWideOutput, "ab%c%d\n", UINT64{0x263A}, UINT64{42});
    const size_t Expected = Full.size() < Size - 1 ? Full.size() : Size - 1;
    ASSERT_EQ(Length, Expected) << "size " << Size;
    for (size_t Index = 0; Index <= Length; Index++) {
      const char16_t Cell = Index < Length ? Full[Index] : 0;
      EXPECT_EQ(Buffer.Cells()[2 * Index], Cell & 0xFF) << "cell " << Index;
      EXPECT_EQ(Buffer.Cells()[2 * Index + 1], Cell >> 8) << "cell " << Index;
    }
    EXPECT_TRUE(Buffer.GuardsIntact()) << "size " << Size;
  }
}

TEST(Formatter, WideFormatIsReadInSixteenBitUnits) {
  char Buffer[32];
  UINTN Length = FormatToBuffer(Buffer, sizeof(Buffer), kFormatWideFormat, u"x%dy\n", UINT64{42});
  EXPECT_EQ(std::string(Buffer, Length), "x42y\r\n");
  // A 16-bit character whose low byte is 'd' is not the d conversion: it prints its low byte and
  // takes no argument.
  Length = FormatToBuffer(Buffer, sizeof(Buffer), kFormatWideFormat, u"%\u0164%d", UINT64{5});
  EXPECT_EQ(std::string(Buffer, Length), "d5");
}

TEST(Formatter, CountOnlyWritesNothingAndCountsCharacters) {
  GuardedBuffer Buffer(4, 2);
  EXPECT_EQ(FormatToBuffer(nullptr, 0, kFormatCountOnly, "abc%d\n", UINT64{12}), 7u);
  EXPECT_EQ(FormatToBuffer(nullptr, 0, kFormatCountOnly | kFormatWideOutput, "abc%d\n", UINT64{12}), 7u);
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), 4, kFormatCountOnly | kFormatWideOutput, "abc%d\n", UINT64{12}),
            3u);
  EXPECT_EQ(Buffer.Cells()[0], kCanary);
  EXPECT_TRUE(Buffer.GuardsIntact());
  EXPECT_EQ(FormatToBuffer(nullptr, 0, kFormatCountOnly, nullptr), 0u);
}

TEST(Formatter, RefusedCallsWriteNothing) {
  GuardedBuffer Buffer(16, 1);
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), 16, 0, nullptr), 0u);
  EXPECT_EQ(FormatToBuffer(nullptr, 16, 0, "abc"), 0u);
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), 0, 0, "abc"), 0u);
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), kFormatMaxLength + 1, 0, "abc"), 0u);
  EXPECT_EQ(Buffer.Cells()[0], kCanary);
  EXPECT_TRUE(Buffer.GuardsIntact());
  // The largest size allowed formats normally.
  EXPECT_EQ(FormatToBuffer(Buffer.Data(), kFormatMaxLength, 0, "abc"), 3u);
  EXPECT_STREQ(Buffer.Data(), "abc");
}

TEST(Formatter, FormatLongerThanTheLimitIsRefused) {
  std::string Long(kFormatMaxLength + 1, 'x');
  EXPECT_EQ(AsciiLengthBounded(Long.c_str()), kFormatMaxLength + 1);
  char Buffer[8];
  EXPECT_EQ(FormatToBuffer(Buffer, sizeof(Buffer), 0, Long.c_str()), 0u);
  Long.pop_back();
  EXPECT_EQ(AsciiLengthBounded(Long.c_str()), kFormatMaxLength);
  EXPECT_EQ(FormatToBuffer(Buffer, sizeof(Buffer), 0, Long.c_str()), 7u);
}

TEST(Formatter, BoundedLengthsStopAtTheNul) {
  EXPECT_EQ(AsciiLengthBounded(nullptr), 0u);
  EXPECT_EQ(AsciiLengthBounded(""), 0u);
  EXPECT_EQ(AsciiLengthBounded("abc"), 3u);
  EXPECT_EQ(WideLengthBounded(nullptr), 0u);
  EXPECT_EQ(WideLengthBounded(u""), 0u);
  EXPECT_EQ(WideLengthBounded(u"\u263Ab"), 2u);
  const std::u16string Long(kFormatMaxLength + 5, u'y');
  EXPECT_EQ(WideLengthBounded(Long.c_str()), kFormatMaxLength + 1);
}

TEST(Formatter, FillCharactersStopsAtTheEnd) {
  char Cells[8];
  std::memset(Cells, kCanary, sizeof(Cells));
  EXPECT_EQ(FillCharacters(Cells, Cells + 4, 0, 'z', 1), Cells);
  EXPECT_EQ(FillCharacters(Cells, Cells + 4, -3, 'z', 1), Cells);
  EXPECT_EQ(static_cast<unsigned char>(Cells[0]), kCanary);
  EXPECT_EQ(FillCharacters(Cells, Cells + 4, 10, 'z', 1), Cells + 4);
  EXPECT_EQ(std::string(Cells, 5), std::string("zzzz\xA5"));
  EXPECT_EQ(FillCharacters(Cells, Cells + 4, 1, 0x1234, 2), Cells + 2);
  EXPECT_EQ(Cells[0], 0x34);
  EXPECT_EQ(Cells[1], 0x12);
}

}  // namespace
