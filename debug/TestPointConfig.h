// TEST_POINT_CONFIG: the switches of test points and fatal stops, filled by the library start-up.
#ifndef DEBUG_TEST_POINT_CONFIG_H_
#define DEBUG_TEST_POINT_CONFIG_H_

#include "uefi/Base.h"

#pragma pack(push, 1)
typedef struct {
  UINT8 TestPointPortEnable;
  UINT8 Reserved1;
  UINT8 TestPointPortWidth;
  UINT16 Reserved2;
  UINT8 FatalStopEnable;
  UINT8 TestPointMirrorCall;
  UINT8 TestPointMirrorEnable;
  UINT8 TestPointMirrorSelector;
  UINT8 TestPointMirrorFallback;
  UINT8 Reserved3;
  UINT8 Reserved4;
  UINT32 TestPointMirrorTag;
  UINT8 Reserved5;
  UINT32 CfgPcdBufField17;
  UINT32 CfgPcdBufField21;
  UINT16 Reserved6;
} TEST_POINT_CONFIG;
#pragma pack(pop)
static_assert(sizeof(TEST_POINT_CONFIG) == 27, "TEST_POINT_CONFIG is 27 bytes");
static_assert(offsetof(TEST_POINT_CONFIG, TestPointMirrorTag) == 12, "mirror tag at offset 12");
static_assert(offsetof(TEST_POINT_CONFIG, CfgPcdBufField17) == 17, "item 520 at offset 17");
static_assert(offsetof(TEST_POINT_CONFIG, CfgPcdBufField21) == 21, "item 519 at offset 21");

#endif  // DEBUG_TEST_POINT_CONFIG_H_
