// A driver image loaded over the fake firmware, with test points and fatal stops switched on, and
// what its routines leave on the fake hardware read back: the debug text on the UART at 0x3F8, the
// test points on port 0x80, the fatal stops, and the hooks the option service received.
#ifndef TESTS_DRIVER_DRIVER_FIXTURE_H_
#define TESTS_DRIVER_DRIVER_FIXTURE_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/ImageState.h"
#include "interfaces/ZrbOptionHook.h"
#include "tests/support/FakeFirmware.h"

namespace image = CCX_IMAGE_NAMESPACE;

namespace fake {

// The option service: every hook it receives, in order.
class HookRecorder {
 public:
  explicit HookRecorder(FakeFirmware &Firmware);
  std::vector<uint32_t> Hooks;

 private:
  struct Record {
    QORVEX_ZRB_OPTION_HOOK_PROTOCOL Protocol;
    HookRecorder *Owner;
  };
  static EFI_STATUS EFIAPI Hook(EFI_BOOT_SERVICES *, ZRB_OPTION_HOOK_REQUEST *, UINT32 HookId,
                                QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This);
  Record Record_;
};

}  // namespace fake

class DriverFixture : public ::testing::Test {
 protected:
  DriverFixture();

  // The text the UART received, with the CR of every line end dropped.
  std::string Uart() const;
  // The debug lines, without the lines test points print.
  std::vector<std::string> Lines() const;
  // Test-point codes as port 0x80 showed them, without their 0xB000 prefix.
  std::vector<uint32_t> TestPoints() const;
  std::vector<uint32_t> FatalStops() const;

  fake::FakeFirmware Firmware;
  fake::HookRecorder Options{Firmware};
};

#endif  // TESTS_DRIVER_DRIVER_FIXTURE_H_
