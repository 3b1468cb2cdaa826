// The library start-up: TEST_POINT_CONFIG defaults and the service-table pointers.
#include <gtest/gtest.h>

#include <cstring>

#include "debug/FatalStop.h"
#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "interfaces/PlatformConfig.h"
#include "tests/support/FakeFirmware.h"
#include "uefi/StandardGuids.h"

using namespace CcxImage;

namespace {

TEST(LibraryStartup, FillsTheTestPointRecordWithItsDefaults) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  Firmware.Pcd[PcdCfgPcdBufField17] = 0x11223344;
  Firmware.Pcd[PcdCfgPcdBufField21] = 0xA5A6A7A8;
  CcxLibraryStartup(Firmware.ImageHandle(), Firmware.SystemTable());
  const uint8_t Expected[27] = {0x01, 0x00, 0x03, 0x80, 0x00, 0x01, 0x00, 0x00, 0x02, 0x02, 0x02, 0x02, 0x00, 0x06,
                                0xE3, 0x03, 0x00, 0x44, 0x33, 0x22, 0x11, 0xA8, 0xA7, 0xA6, 0xA5, 0xB0, 0x02};
  EXPECT_EQ(0, std::memcmp(&gImage.Library.TestPointConfig, Expected, sizeof(Expected)));
  EXPECT_EQ(gST, Firmware.SystemTable());
  EXPECT_EQ(gBS, Firmware.SystemTable()->BootServices);
  EXPECT_EQ(gRT, Firmware.SystemTable()->RuntimeServices);
  // Item 520 is read before item 519.
  auto Calls = Firmware.Calls();
  EXPECT_NE(std::find(Calls.begin(), Calls.end(), "LocateProtocol:EfiPcd"), Calls.end());
}

class MissingPcdProtocol : public ::testing::TestWithParam<int> {};

TEST_P(MissingPcdProtocol, LeavesTheRecordZeroSoStopsAndTestPointsAreOff) {
  fake::FakeFirmware Firmware;
  ImageLoad();
  gImage.Library.TestPointConfig.FatalStopEnable = 0x5A;  // must be cleared by the start-up
  Firmware.RemoveProtocol(GetParam() == 0 ? gPcdProtocolGuid : gEfiPcdProtocolGuid);
  CcxLibraryStartup(Firmware.ImageHandle(), Firmware.SystemTable());
  const uint8_t Zero[27] = {};
  EXPECT_EQ(0, std::memcmp(&gImage.Library.TestPointConfig, Zero, sizeof(Zero)));
  // With the record zero, test points write nothing to the POST-code port. (The initialization
  // itself can't run here: it reads configuration items through the missing protocol.)
  Firmware.PortWrites.clear();
  TestPoint(0xAC55);
  TestPoint(0xACE5);
  for (const auto &Write : Firmware.PortWrites) EXPECT_NE(Write.Port, 0x80);
}

INSTANTIATE_TEST_SUITE_P(EitherProtocol, MissingPcdProtocol, ::testing::Values(0, 1));

TEST(LibraryStartup, ImageLoadRestoresLoadTimeValues) {
  ImageLoad();
  gImage.Init.RmpBase = 0x1234;
  gImage.MpWork.CcxSnpMsrList[2].Value = 99;
  gImage.Library.HcuMailboxOffset = 7;
  ImageLoad();
  EXPECT_EQ(gImage.Init.RmpBase, 0u);
  EXPECT_EQ(gImage.Library.HcuMailboxOffset, 0u);
  // The entries are packed: their fields are read out by value before gtest binds them.
  const CCX_SNP_MSR_ENTRY Entry = gImage.MpWork.CcxSnpMsrList[2];
  const UINT32 Msr = Entry.Msr;
  const UINT64 Value = Entry.Value;
  const UINT64 Mask = Entry.Mask;
  EXPECT_EQ(Msr, 0xC0010010u);
  EXPECT_EQ(Value, 0u);
  EXPECT_EQ(Mask, ~0ULL);
}

}  // namespace
