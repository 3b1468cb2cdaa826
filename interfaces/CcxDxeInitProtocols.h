// The two protocols that announce the driver's progress to the rest of the platform. The marker
// goes in early in the initialization with a null interface: only its presence counts. The
// completion protocol goes in after every service protocol is installed, and its interface is a
// 64-bit word holding 0.
#ifndef INTERFACES_CCX_DXE_INIT_PROTOCOLS_H_
#define INTERFACES_CCX_DXE_INIT_PROTOCOLS_H_

#include "uefi/Base.h"

// The marker has no record; it is always installed with a null interface.
typedef VOID QORVEX_CCX_DXE_INIT_MARKER_PROTOCOL;

typedef UINT64 QORVEX_CCX_DXE_INIT_COMPLETE_PROTOCOL;
constexpr QORVEX_CCX_DXE_INIT_COMPLETE_PROTOCOL QORVEX_CCX_DXE_INIT_COMPLETE_VALUE = 0;

#endif  // INTERFACES_CCX_DXE_INIT_PROTOCOLS_H_
