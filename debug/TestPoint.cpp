#include "debug/FatalStop.h"

#include "arch/PciEcam.h"
#include "arch/PostCode.h"
#include "arch/WidthAccess.h"
#include "debug/DebugPrint.h"
#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT8 kDwordWidth = 3;

// Port widths of the configuration: these codes write 8 or 16 bits, every other one 32 bits.
UINT8 PortWidthCode(UINT8 Configured) {
  switch (Configured) {
    case 0x01:
    case 0x81:
      return 0x01;
    case 0x02:
    case 0x82:
      return 0x02;
    default:
      return kDwordWidth;
  }
}

// Selector 0x0F defers to the fallback; selectors 2 and 3 are the platforms whose internal
// register can take a mirrored code.
constexpr UINT8 kMirrorSelectorUseFallback = 0x0F;
bool MirrorSelected(UINT8 Selector) { return Selector == 2 || Selector == 3; }

static_assert(PciEcam::Segment0SidebandIndex == 0x3FB000000B8ULL && PciEcam::Segment0SidebandData == 0x3FB000000BCULL,
              "the sideband pair of bus 0, device 0, function 0");

}  // namespace

VOID TestPoint(UINT32 Code) {
  const TEST_POINT_CONFIG &Config = gImage.Library.TestPointConfig;
  const UINT32 Value = PostCode::TestPointValue(Code);
  if (Config.TestPointPortEnable != 0) {
    // The width code reads only the low bytes of Value, which is what a narrow port shows.
    IoWriteWidth(PortWidthCode(Config.TestPointPortWidth), PostCode::Port, &Value);
    PrintDebugMessage(TRACE_GENERAL, "VELTA_TP:[%x]\n", UINT64{Value});
  }
  if (Config.TestPointMirrorCall != 0) {
    TestPointMirror(Value);
  }
}

VOID TestPointMirror(UINT32 Value) {
  const TEST_POINT_CONFIG &Config = gImage.Library.TestPointConfig;
  if (Config.TestPointMirrorEnable == 0) {
    return;
  }
  const UINT8 Selector = Config.TestPointMirrorSelector == kMirrorSelectorUseFallback
                             ? Config.TestPointMirrorFallback
                             : Config.TestPointMirrorSelector;
  if (!MirrorSelected(Selector)) {
    return;
  }
  const UINT32 Tag = Config.TestPointMirrorTag;
  MemWriteWidth(kDwordWidth, PciEcam::Segment0SidebandIndex, &Tag);
  MemWriteWidth(kDwordWidth, PciEcam::Segment0SidebandData, &Value);
}

}  // namespace CCX_IMAGE_NAMESPACE
