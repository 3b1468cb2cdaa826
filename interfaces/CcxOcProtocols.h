// The two overclocking protocols. The platform installs the trigger when the overclocking
// settings are ready; the driver watches for its installation and never reads its interface. The
// driver answers with the completion protocol, whose interface is a 64-bit word holding 0, once
// the custom P-state 0 has been applied; a new instance is installed each time that happens.
#ifndef INTERFACES_CCX_OC_PROTOCOLS_H_
#define INTERFACES_CCX_OC_PROTOCOLS_H_

#include "uefi/Base.h"

// The trigger's interface belongs to its installer and is opaque here.
typedef struct _QORVEX_CCX_OC_TRIGGER_PROTOCOL QORVEX_CCX_OC_TRIGGER_PROTOCOL;

typedef UINT64 QORVEX_CCX_OC_COMPLETE_PROTOCOL;
constexpr QORVEX_CCX_OC_COMPLETE_PROTOCOL QORVEX_CCX_OC_COMPLETE_VALUE = 0;

#endif  // INTERFACES_CCX_OC_PROTOCOLS_H_
