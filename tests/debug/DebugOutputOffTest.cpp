// The delivered configuration: debug output is not built in, so no message is formatted or sent
// and no port is touched, whatever the level.
#include <gtest/gtest.h>

#include "FakeDebugHardware.h"
#include "debug/DebugBackend.h"
#include "debug/DebugPrint.h"

namespace {

namespace image = CCX_IMAGE_NAMESPACE;

class DebugOutputOff : public testing::TestWithParam<UINT64> {
 protected:
  fake::FakeDebugHardware Hardware;
};

TEST_P(DebugOutputOff, MessageTouchesNoHardware) {
  image::PrintDebugMessage(GetParam(), "  %a Entry %r\n", "CcxRellInitWithMpServices", UINT64{EFI_NOT_FOUND});
  EXPECT_TRUE(Hardware.Log.empty());
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, DebugOutputOff,
                         testing::Values(TRACE_CPU, DEBUG_ERROR, TRACE_GENERAL, TRACE_CONFIG, TRACE_HOOK,
                                         ~0ULL));

TEST(DebugOutputOffBackends, OnlyTheLegacySerialPortClaimsSupport) {
  image::DEBUG_OUTPUT_BACKEND_ENTRY *Backends = nullptr;
  image::GetDebugOutputBackends(&Backends);
  EXPECT_FALSE(image::PortCaptureBackend.IsSupported());
  EXPECT_FALSE(image::UartBackend.IsSupported());
  EXPECT_TRUE(image::LegacySerialBackend.IsSupported());
  EXPECT_TRUE(image::AnyDebugBackendSupported(Backends));
}

TEST(DebugOutputOffBackends, InitializationSucceedsWithoutTouchingHardware) {
  fake::FakeDebugHardware Hardware;
  EXPECT_EQ(image::InitializeDebugOutput(), EFI_SUCCESS);
  EXPECT_TRUE(Hardware.Log.empty());
}

}  // namespace
