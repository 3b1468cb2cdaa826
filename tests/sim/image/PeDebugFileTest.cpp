// The symbol file a debugger gets for the delivered image: the .debug file the firmware build links
// beside it when it describes the very bytes that run, otherwise the image itself with the reason.
#include "sim/image/PeDebugFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

namespace sim {
namespace {

namespace fs = std::filesystem;

const fs::path kBuilt = CCX_PE_FIRMWARE_IMAGE;

struct Beside {
  const char *Name;
  const char *CopyOf;    // a file of the firmware build put beside the image, or nullptr
  const char *Contents;  // else these bytes, or nullptr for no file at all
  bool DebugFileChosen;
  const char *Note;
};

class PeSymbolFileChoice : public ::testing::TestWithParam<Beside> {};

TEST_P(PeSymbolFileChoice, IsTheDebugFileOnlyWhenItDescribesTheImage) {
  const Beside &Case = GetParam();
  if (!fs::exists(kBuilt)) GTEST_SKIP() << kBuilt << " is not built (target ccx_firmware_image)";
  std::string Template = (fs::temp_directory_path() / "ccx-debug-file-XXXXXX").string();
  ASSERT_NE(mkdtemp(Template.data()), nullptr);
  const fs::path Dir = Template, Image = Dir / kBuilt.filename(), DebugFile = Image.string() + ".debug";
  fs::copy_file(kBuilt, Image);
  if (Case.CopyOf != nullptr) fs::copy_file(kBuilt.parent_path() / Case.CopyOf, DebugFile);
  if (Case.Contents != nullptr) std::ofstream(DebugFile, std::ios::binary) << Case.Contents;
  std::ifstream Stream(Image, std::ios::binary);
  const std::vector<uint8_t> Bytes{std::istreambuf_iterator<char>(Stream), {}};
  const PeImageInfo Info = ParsePeImage(Bytes, Image.filename().string());

  const PeSymbolFile Chosen = FindPeSymbolFile(Image, Info, Bytes);
  EXPECT_EQ(Chosen.File, Case.DebugFileChosen ? DebugFile : Image);
  EXPECT_EQ(Chosen.LinkedBase, Info.PreferredBase);
  EXPECT_EQ(Chosen.Note, Case.Note);
  fs::remove_all(Dir);
}

// The debug-output build's debug file has the same sections at the same addresses but other bytes:
// its symbols would name the wrong code.
INSTANTIATE_TEST_SUITE_P(
    PeDebugFile, PeSymbolFileChoice,
    ::testing::Values(
        Beside{"TheBuildsOwn", "CcxRellDxe.efi.debug", nullptr, true, ""},
        Beside{"None", nullptr, nullptr, false, "no CcxRellDxe.efi.debug beside the image"},
        Beside{"AnotherImages", "CcxRellDxeDebug.efi.debug", nullptr, false,
               "CcxRellDxe.efi.debug is not the image's debug file: section 2 (.rdata): its bytes differ"},
        Beside{"Malformed", nullptr, "MZ", false,
               "CcxRellDxe.efi.debug: DosHeader: needs 0x40 bytes at offset 0x0, the file has 0x2"}),
    [](const ::testing::TestParamInfo<Beside> &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
