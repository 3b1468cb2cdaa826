// The platform configuration items the driver reads and writes, by token number. One list: the
// driver's token enumeration is generated from it, and the simulator's table of items
// (sim/machine/PcdItems.cpp: width, valid values, meaning) is checked against it when it compiles.
#ifndef INTERFACES_PLATFORM_CONFIG_H_
#define INTERFACES_PLATFORM_CONFIG_H_

#include "uefi/Base.h"

// X(name, token number)
#define CCX_PCD_ITEMS(X) \
  X(PcdCcxIoPowerStateBaseAddress, 365) \
  X(PcdCcxIoPowerStateMode, 366) \
  X(PcdCcxApicMode, 363) \
  X(PcdCcxOcMode, 369) \
  X(PcdCcxSnpMode, 459) \
  X(PcdCcxSnpMemSizeToCover, 460) \
  X(PcdCfgPcdBufField21, 519) \
  X(PcdCfgPcdBufField17, 520) \
  X(PcdCcxOcP0FrequencyAuto, 699) \
  X(PcdCcxOcP0VidAuto, 700) \
  X(PcdQorvexS3LibPrivateDataAddress, 706) \
  X(PcdQorvexS3LibTableAddress, 707) \
  X(PcdQorvexS3LibTableSize, 708) \
  X(PcdCcxSmmLockHwcr, 711) \
  X(PcdCcxRunApsSingleThreaded, 712) \
  X(PcdCcxVmplEnable, 713) \
  X(PcdCcxPowerStateWord1, 829) \
  X(PcdCcxPowerStateWord2, 830) \
  X(PcdCcxPowerStateWord3, 831) \
  X(PcdCcxAcpiPstatePolicy, 861) \
  X(PcdCcxHeapA02BValue, 862) \
  X(PcdCcxOcP0Frequency, 863) \
  X(PcdCcxOcP0Vid, 864) \
  X(PcdCcxPpinSocket0, 881) \
  X(PcdCcxPpinSocket1, 882) \
  X(PcdCcxPpinSocket2, 883) \
  X(PcdCcxPpinSocket3, 884) \
  X(PcdCcxSnpRmpNoForce4G, 891) \
  X(PcdCcxSkipCustomPstates, 912) \
  X(PcdCcxOcFrequencyMax, 913) \
  X(PcdCcxOcVoltageMax, 914) \
  X(PcdCcxOption361, 361) \
  X(PcdCcxOption368, 368) \
  X(PcdCcxOption371, 371) \
  X(PcdCcxOption374, 374) \
  X(PcdCcxOption375, 375) \
  X(PcdCcxOption379, 379) \
  X(PcdCcxOption381, 381) \
  X(PcdCcxOption382, 382) \
  X(PcdCcxOption383, 383) \
  X(PcdCcxOption422, 422) \
  X(PcdCcxOption423, 423) \
  X(PcdCcxOption424, 424) \
  X(PcdCcxOption425, 425) \
  X(PcdCcxOption426, 426) \
  X(PcdCcxOption427, 427) \
  X(PcdCcxOption445, 445) \
  X(PcdCcxOption454, 454) \
  X(PcdCcxOption457, 457) \
  X(PcdCcxOption463, 463) \
  X(PcdCcxOption464, 464) \
  X(PcdCcxOption518, 518)

enum PCD_TOKEN : UINTN {
#define CCX_PCD_ENUM(Name, Token) Name = Token,
  CCX_PCD_ITEMS(CCX_PCD_ENUM)
#undef CCX_PCD_ENUM
};

// The one dynamic-ex item, in the token space gQorvexS3SaveTokenSpaceGuid.
constexpr UINTN PcdQorvexS3SmmCommBufferAddress = 0x27001;

#endif  // INTERFACES_PLATFORM_CONFIG_H_
