// The figures of one hardware P-state: core frequency (MHz), voltage (µV) and power (mW).
#ifndef SERVICES_PSTATE_FREQUENCY_H_
#define SERVICES_PSTATE_FREQUENCY_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// TRUE when the P-state is enabled and the three figures were written; FALSE writes nothing.
// Context is ignored.
BOOLEAN RellGetPstateFrequency(VOID *Context, UINT32 Pstate, UINT64 *FrequencyMHz, UINT64 *VoltageUv,
                               UINT64 *PowerMw);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_PSTATE_FREQUENCY_H_
