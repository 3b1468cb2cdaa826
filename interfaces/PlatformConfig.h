// The platform configuration items the driver reads and writes, by token number, with the
// accessor each is read with. One list: the driver's token enumeration and the simulator's table
// of item names are both generated from it.
#ifndef INTERFACES_PLATFORM_CONFIG_H_
#define INTERFACES_PLATFORM_CONFIG_H_

#include "uefi/Base.h"

// X(name, token number, width in bytes of the value; 1 for booleans)
#define CCX_PCD_ITEMS(X) \
  X(PcdCcxIoPowerStateBaseAddress, 365, 2) \
  X(PcdCcxIoPowerStateMode, 366, 1) \
  X(PcdCcxApicMode, 363, 1) \
  X(PcdCcxOcMode, 369, 1) \
  X(PcdCcxSnpMode, 459, 1) \
  X(PcdCcxSnpMemSizeToCover, 460, 4) \
  X(PcdCfgPcdBufField21, 519, 4) \
  X(PcdCfgPcdBufField17, 520, 4) \
  X(PcdCcxOcP0FrequencyAuto, 699, 4) \
  X(PcdCcxOcP0VidAuto, 700, 4) \
  X(PcdQorvexS3LibPrivateDataAddress, 706, 8) \
  X(PcdQorvexS3LibTableAddress, 707, 8) \
  X(PcdQorvexS3LibTableSize, 708, 8) \
  X(PcdCcxSmmLockHwcr, 711, 1) \
  X(PcdCcxRunApsSingleThreaded, 712, 1) \
  X(PcdCcxVmplEnable, 713, 1) \
  X(PcdCcxPowerStateWord1, 829, 2) \
  X(PcdCcxPowerStateWord2, 830, 2) \
  X(PcdCcxPowerStateWord3, 831, 2) \
  X(PcdCcxAcpiPstatePolicy, 861, 1) \
  X(PcdCcxHeapA02BValue, 862, 1) \
  X(PcdCcxOcP0Frequency, 863, 4) \
  X(PcdCcxOcP0Vid, 864, 4) \
  X(PcdCcxPpinSocket0, 881, 8) \
  X(PcdCcxPpinSocket1, 882, 8) \
  X(PcdCcxPpinSocket2, 883, 8) \
  X(PcdCcxPpinSocket3, 884, 8) \
  X(PcdCcxSnpRmpNoForce4G, 891, 1) \
  X(PcdCcxSkipCustomPstates, 912, 1) \
  X(PcdCcxOcFrequencyMax, 913, 2) \
  X(PcdCcxOcVoltageMax, 914, 2) \
  X(PcdCcxOption361, 361, 2) \
  X(PcdCcxOption368, 368, 2) \
  X(PcdCcxOption371, 371, 2) \
  X(PcdCcxOption374, 374, 2) \
  X(PcdCcxOption375, 375, 2) \
  X(PcdCcxOption379, 379, 2) \
  X(PcdCcxOption381, 381, 2) \
  X(PcdCcxOption382, 382, 2) \
  X(PcdCcxOption383, 383, 2) \
  X(PcdCcxOption422, 422, 2) \
  X(PcdCcxOption423, 423, 2) \
  X(PcdCcxOption424, 424, 2) \
  X(PcdCcxOption425, 425, 2) \
  X(PcdCcxOption426, 426, 2) \
  X(PcdCcxOption427, 427, 2) \
  X(PcdCcxOption445, 445, 2) \
  X(PcdCcxOption454, 454, 2) \
  X(PcdCcxOption457, 457, 2) \
  X(PcdCcxOption463, 463, 2) \
  X(PcdCcxOption464, 464, 2) \
  X(PcdCcxOption518, 518, 2)

enum PCD_TOKEN : UINTN {
#define CCX_PCD_ENUM(Name, Token, Width) Name = Token,
  CCX_PCD_ITEMS(CCX_PCD_ENUM)
#undef CCX_PCD_ENUM
};

// The one dynamic-ex item, in the token space gQorvexS3SaveTokenSpaceGuid.
constexpr UINTN PcdQorvexS3SmmCommBufferAddress = 0x27001;

#endif  // INTERFACES_PLATFORM_CONFIG_H_
