// Exact text of every conversion, flag, width and precision, one 64-bit argument slot each.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "debug/Formatter.h"

namespace {

using namespace CCX_IMAGE_NAMESPACE;

// Formats into a roomy buffer and checks that the result counts exactly the bytes before the NUL.
template <typename... ARGS>
std::string Format(const char *FormatString, ARGS... Arguments) {
  char Buffer[256];
  std::memset(Buffer, 0x5A, sizeof(Buffer));
  const UINTN Length = FormatToBuffer(Buffer, sizeof(Buffer), 0, FormatString, Arguments...);
  EXPECT_LT(Length, sizeof(Buffer));
  EXPECT_EQ(Buffer[Length], '\0') << FormatString;
  return std::string(Buffer, Length);
}

struct NumberCase {
  const char *Format;
  UINT64 Argument;
  const char *Expected;
};

void PrintTo(const NumberCase &Case, std::ostream *Stream) {
  *Stream << testing::PrintToString(std::string(Case.Format));
}

class NumberConversion : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberConversion, ProducesExactText) {
  EXPECT_EQ(Format(GetParam().Format, GetParam().Argument), GetParam().Expected) << GetParam().Format;
}

INSTANTIATE_TEST_SUITE_P(
    Formatter, NumberConversion,
    testing::Values(
        // Hexadecimal is upper-case; without l only the low half of the slot counts.
        NumberCase{"%x", 0xAC55, "AC55"}, NumberCase{"%x", 0xFFFFFFFF, "FFFFFFFF"},
        NumberCase{"%x", 0x12345678FFFFFFFFULL, "FFFFFFFF"}, NumberCase{"%lx", ~0ULL, "FFFFFFFFFFFFFFFF"},
        NumberCase{"%llx", ~0ULL, "FFFFFFFFFFFFFFFF"}, NumberCase{"%Lx", 0xABCDEF0123ULL, "ABCDEF0123"},
        NumberCase{"%x", 0, "0"},
        // Signed and unsigned decimal, 32-bit sign extension and 64-bit extremes.
        NumberCase{"%d", 0xFFFFFFFF, "-1"}, NumberCase{"%d", 0x00000005FFFFFFFFULL, "-1"},
        NumberCase{"%u", 0xFFFFFFFF, "4294967295"}, NumberCase{"%d", 0x7FFFFFFF, "2147483647"},
        NumberCase{"%d", 0x80000000, "-2147483648"},
        NumberCase{"%ld", 0x8000000000000000ULL, "-9223372036854775808"},
        NumberCase{"%lu", ~0ULL, "18446744073709551615"}, NumberCase{"%d", 0, "0"},
        // Width is a minimum; zero fill; minus justifies left and beats zero fill.
        NumberCase{"%02x", 5, "05"}, NumberCase{"%04x", 0x1ABCD, "1ABCD"},
        NumberCase{"%08x", 0xAC55, "0000AC55"}, NumberCase{"%5d", 42, "   42"},
        NumberCase{"%-5d|", 42, "42   |"}, NumberCase{"%05d", static_cast<UINT32>(-42), "-0042"},
        NumberCase{"%-05d|", 42, "42   |"}, NumberCase{"%0d", 7, "7"}, NumberCase{"%02d", 7, "07"},
        NumberCase{"%04d", 2024, "2024"},
        // Precision: a minimum digit count; 0 with precision 0 prints nothing.
        NumberCase{"%.0d", 0, ""}, NumberCase{"%.0x", 0, ""}, NumberCase{"%.3d", 5, "005"},
        NumberCase{"%.3d", static_cast<UINT32>(-5), "-005"}, NumberCase{"%8.3d", 5, "     005"},
        NumberCase{"%-8.3d|", 5, "005     |"}, NumberCase{"%08.3d", 5, "     005"},
        // Sign and blank prefixes; plus wins; u ignores plus but keeps blank.
        NumberCase{"%+d", 5, "+5"}, NumberCase{"% d", 5, " 5"}, NumberCase{"%+ d", 5, "+5"},
        NumberCase{"% d", static_cast<UINT32>(-5), "-5"}, NumberCase{"%+05d", 42, "+0042"},
        NumberCase{"%+5d", 42, "  +42"}, NumberCase{"%+u", 5, "5"}, NumberCase{"% u", 5, " 5"},
        NumberCase{"%+x", 0xA, "+A"}, NumberCase{"% x", 0xA, " A"}, NumberCase{"%+.0d", 0, "+"},
        // Comma grouping: decimal only, never zero-filled.
        NumberCase{"%,d", 1234567, "1,234,567"}, NumberCase{"%,d", 123, "123"},
        NumberCase{"%,d", 1234, "1,234"}, NumberCase{"%,d", static_cast<UINT32>(-1234), "-1,234"},
        NumberCase{"%,u", 4294967295, "4,294,967,295"},
        NumberCase{"%,lu", ~0ULL, "18,446,744,073,709,551,615"}, NumberCase{"%,x", 0x123456, "123456"},
        NumberCase{"%,08d", 1234, "   1,234"}, NumberCase{"%,.0d", 0, "0"},
        // X turns zero fill on; p is a 64-bit X without sign or blank.
        NumberCase{"%X", 0x1F, "1F"}, NumberCase{"%8X", 0x1F, "0000001F"},
        NumberCase{"%8x", 0x1F, "      1F"}, NumberCase{"%08X", 0x800000000000000EULL, "0000000E"},
        NumberCase{"%p", 0x1234, "1234"}, NumberCase{"%+ p", 0x1234, "1234"},
        NumberCase{"%16p", 0xAB, "00000000000000AB"},
        NumberCase{"%p", 0xFEDC000000000001ULL, "FEDC000000000001"},
        // c prints the low byte of the low 16 bits.
        NumberCase{"%c", 'A', "A"}, NumberCase{"%c", 0x1241, "A"}, NumberCase{"%3c", 'A', "  A"},
        NumberCase{"%-3c|", 'A', "A  |"},
        // Not conversions: the character itself, and no argument is taken.
        NumberCase{"%%", 9, "%"}, NumberCase{"%i%d", 7, "i7"}, NumberCase{"%5%", 0, "    %"},
        // The format ends inside a conversion: nothing is printed for it.
        NumberCase{"A%", 1, "A"}, NumberCase{"A%-08", 1, "A"}));

struct StringCase {
  const char *Format;
  const char *Argument;
  const char *Expected;
};

void PrintTo(const StringCase &Case, std::ostream *Stream) {
  *Stream << testing::PrintToString(std::string(Case.Format));
}

class AsciiStringConversion : public testing::TestWithParam<StringCase> {};

TEST_P(AsciiStringConversion, ProducesExactText) {
  EXPECT_EQ(Format(GetParam().Format, GetParam().Argument), GetParam().Expected) << GetParam().Format;
}

INSTANTIATE_TEST_SUITE_P(
    Formatter, AsciiStringConversion,
    testing::Values(StringCase{"%a", "abc", "abc"}, StringCase{"%.3a", "abcdef", "abc"},
                    StringCase{"%.10a", "abc", "       abc"}, StringCase{"%5a", "ab", "   ab"},
                    StringCase{"%-5a|", "ab", "ab   |"}, StringCase{"%.0a|", "abc", "|"},
                    StringCase{"[%a]", "", "[]"}, StringCase{"[%3a]", "", "[   ]"},
                    StringCase{"%a", nullptr, "<null string>"}, StringCase{"%.4a", nullptr, "<nul"},
                    StringCase{"%s", nullptr, "<null string>"}, StringCase{"%a", "\xE9t\xE9", "\xE9t\xE9"}));

struct WideStringCase {
  const char *Format;
  const char16_t *Argument;
  const char *Expected;
};

void PrintTo(const WideStringCase &Case, std::ostream *Stream) {
  *Stream << testing::PrintToString(std::string(Case.Format));
}

class WideStringConversion : public testing::TestWithParam<WideStringCase> {};

TEST_P(WideStringConversion, PrintsLowBytes) {
  EXPECT_EQ(Format(GetParam().Format, GetParam().Argument), GetParam().Expected) << GetParam().Format;
}

INSTANTIATE_TEST_SUITE_P(Formatter, WideStringConversion,
                         testing::Values(WideStringCase{"%s", u"wide", "wide"},
                                         WideStringCase{"%S", u"Wide", "Wide"},
                                         WideStringCase{"%.2s", u"wide", "wi"},
                                         WideStringCase{"%6s", u"ab", "    ab"},
                                         WideStringCase{"%s", u"\u263A", ":"}));

struct LineCase {
  const char *Format;
  const char *Expected;
};

void PrintTo(const LineCase &Case, std::ostream *Stream) {
  *Stream << testing::PrintToString(std::string(Case.Format));
}

class LineEnding : public testing::TestWithParam<LineCase> {};

TEST_P(LineEnding, FollowsCrLfRules) { EXPECT_EQ(Format(GetParam().Format), GetParam().Expected); }

INSTANTIATE_TEST_SUITE_P(Formatter, LineEnding,
                         testing::Values(LineCase{"A\n", "A\r\n"}, LineCase{"A\n\r", "A\r\n"},
                                         LineCase{"A\r", "A\r"}, LineCase{"A\r\n", "A\r\n"},
                                         LineCase{"A\rB", "A\rB"}, LineCase{"\n\n", "\r\n\r\n"},
                                         LineCase{"\n\r\n", "\r\n\r\n"}, LineCase{"\r\r\n", "\r\r\n"},
                                         LineCase{"%\n", "\r\n"}, LineCase{"%\r\n", "\r\n"},
                                         LineCase{"%\rX", "\rX"}));

TEST(Formatter, LineFeedCountsAsTwoCharacters) {
  char Buffer[8];
  EXPECT_EQ(FormatToBuffer(Buffer, sizeof(Buffer), 0, "A\n"), 3u);
  EXPECT_EQ(std::string(Buffer), "A\r\n");
}

TEST(Formatter, EachArgumentTakesOneSlot) {
  EXPECT_EQ(Format("%d %lx %a %c %u", 0xFFFFFFFF00000007ULL, 0x1122334455667788ULL, "s", UINT64{'q'},
                   0x100000003ULL),
            "7 1122334455667788 s q 3");
}

TEST(Formatter, StarTakesWidthAndPrecisionFromArguments) {
  EXPECT_EQ(Format("%*d|", UINT64{5}, UINT64{42}), "   42|");
  EXPECT_EQ(Format("%-*d|", UINT64{5}, UINT64{42}), "42   |");
  EXPECT_EQ(Format("%.*a|", UINT64{3}, "abcdef"), "abc|");
  EXPECT_EQ(Format("%*.*d|", UINT64{6}, UINT64{3}, UINT64{7}), "   007|");
}

TEST(Formatter, GuidPrintsUpperCaseRegistryForm) {
  const EFI_GUID Guid = {0x12345678, 0x9ABC, 0xDEF0, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  EXPECT_EQ(Format("%g", &Guid), "12345678-9ABC-DEF0-0123-456789ABCDEF");
  const EFI_GUID Small = {0x1, 0x2, 0x3, {0, 0, 0, 0, 0, 0, 0, 0x4}};
  EXPECT_EQ(Format("[%g]", &Small), "[00000001-0002-0003-0000-000000000004]");
  EXPECT_EQ(Format("%g", static_cast<const EFI_GUID *>(nullptr)), "<null guid>");
}

TEST(Formatter, TimePrintsMonthDayYearHourMinute) {
  EFI_TIME Time = {};
  Time.Year = 2024;
  Time.Month = 3;
  Time.Day = 7;
  Time.Hour = 9;
  Time.Minute = 5;
  Time.Second = 59;
  EXPECT_EQ(Format("%t", &Time), "03/07/2024  09:05");
  EXPECT_EQ(Format("%t", static_cast<const EFI_TIME *>(nullptr)), "<null time>");
}

TEST(Formatter, StartupErrorMessageNamesTheStatus) {
  EXPECT_EQ(
      Format("[%a] LocateProtocol: gPcdProtocolGuid, Status: %r\n", "LibraryStartup", UINT64{EFI_NOT_FOUND}),
      "[LibraryStartup] LocateProtocol: gPcdProtocolGuid, Status: Not Found\r\n");
}

}  // namespace
