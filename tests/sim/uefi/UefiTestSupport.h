// A firmware core over simulated DRAM at 0x10000000-0x20000000 (below the range that
// AddressSanitizer reserves and far above the first megabyte), active for the whole test, with
// its diagnostics collected.
#ifndef TESTS_SIM_UEFI_UEFI_TEST_SUPPORT_H_
#define TESTS_SIM_UEFI_UEFI_TEST_SUPPORT_H_

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/uefi/UefiCore.h"

namespace sim::test {

inline constexpr uint64_t kDramBase = 0x10000000;
inline constexpr uint64_t kDramSize = 0x10000000;
inline constexpr uint64_t kDramEnd = kDramBase + kDramSize;

// Something to install that is not null; each test protocol points at its own byte.
inline EFI_GUID MakeGuid(uint32_t tag) { return EFI_GUID{0x51A0F000 | tag, 0x1234, 0x5678, {1, 2, 3, 4, 5, 6, 7, 8}}; }

// The context of ProbeNotify: records that the notification ran, in what order and at what TPL,
// then runs an optional action inside the notify function.
struct Probe {
  std::string name;
  std::vector<std::string> *log = nullptr;
  EFI_BOOT_SERVICES *boot = nullptr;
  EFI_TPL seenTpl = 0;
  int runs = 0;
  std::function<void(EFI_EVENT)> action;
};

VOID EFIAPI ProbeNotify(EFI_EVENT event, VOID *context);

class UefiTest : public ::testing::Test {
 protected:
  UefiTest();

  EFI_BOOT_SERVICES &Boot() { return *core_.BootServices(); }
  EFI_RUNTIME_SERVICES &Runtime() { return *core_.RuntimeServices(); }
  // True when some diagnostic so far contains the text.
  bool Reported(const std::string &text) const;
  Probe MakeProbe(const std::string &name) { return Probe{name, &log_, &Boot(), 0, 0, {}}; }
  // A signal event whose notification runs the probe.
  EFI_EVENT CreateProbeEvent(EFI_TPL tpl, Probe &probe, const EFI_GUID *group = nullptr);

  std::vector<std::string> messages_;
  std::vector<std::string> log_;
  UefiCore core_;
  UefiCore::Activation active_;
};

}  // namespace sim::test

#endif  // TESTS_SIM_UEFI_UEFI_TEST_SUPPORT_H_
