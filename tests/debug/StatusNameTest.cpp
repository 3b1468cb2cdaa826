// %r: status names from the two tables, and eight hexadecimal digits for codes without a name.
#include <gtest/gtest.h>

#include <string>

#include "debug/Formatter.h"

namespace {

using namespace CCX_IMAGE_NAMESPACE;

struct StatusCase {
  UINT64 Status;
  const char *Expected;
};

void PrintTo(const StatusCase &Case, std::ostream *Stream) { *Stream << std::hex << Case.Status; }

class StatusConversion : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusConversion, PrintsNameOrHexadecimal) {
  char Buffer[64];
  const UINTN Length = FormatToBuffer(Buffer, sizeof(Buffer), 0, "%r", GetParam().Status);
  EXPECT_EQ(std::string(Buffer, Length), GetParam().Expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formatter, StatusConversion,
    testing::Values(StatusCase{0, "Success"}, StatusCase{1, "Warning Unknown Glyph"},
                    StatusCase{4, "Warning Buffer Too Small"}, StatusCase{7, "Warning Reset Required"},
                    StatusCase{8, "00000008"}, StatusCase{0x7FFFFFFFFFFFFFFFULL, "FFFFFFFF"},
                    StatusCase{0x8000000000000000ULL, "00000000"}, StatusCase{EFI_LOAD_ERROR, "Load Error"},
                    StatusCase{EFI_INVALID_PARAMETER, "Invalid Parameter"},
                    StatusCase{EFI_OUT_OF_RESOURCES, "Out of Resources"},
                    StatusCase{EFI_VOLUME_CORRUPTED, "Volume Corrupt"},
                    StatusCase{EFI_MEDIA_CHANGED, "Media changed"}, StatusCase{EFI_NOT_FOUND, "Not Found"},
                    StatusCase{EFI_NO_MAPPING, "No mapping"}, StatusCase{EFI_TIMEOUT, "Time out"},
                    StatusCase{EFI_NOT_STARTED, "Not started"}, StatusCase{EFI_ABORTED, "Aborted"},
                    StatusCase{EFI_INCOMPATIBLE_VERSION, "Incompatible Version"},
                    StatusCase{ENCODE_ERROR(29), "Reserved (29)"},
                    StatusCase{ENCODE_ERROR(30), "Reserved (30)"}, StatusCase{EFI_END_OF_FILE, "End of File"},
                    StatusCase{EFI_IP_ADDRESS_CONFLICT, "IP Address Conflict"},
                    StatusCase{EFI_HTTP_ERROR, "HTTP Error"}, StatusCase{ENCODE_ERROR(36), "00000024"},
                    StatusCase{ENCODE_ERROR(0x123456789ULL), "23456789"}));

TEST(Formatter, StatusNameTakesWidthAndPrecisionLikeAString) {
  char Buffer[64];
  UINTN Length = FormatToBuffer(Buffer, sizeof(Buffer), 0, "%12r|", UINT64{EFI_NOT_FOUND});
  EXPECT_EQ(std::string(Buffer, Length), "   Not Found|");
  Length = FormatToBuffer(Buffer, sizeof(Buffer), 0, "%.3r|", UINT64{EFI_NOT_FOUND});
  EXPECT_EQ(std::string(Buffer, Length), "Not|");
}

}  // namespace
