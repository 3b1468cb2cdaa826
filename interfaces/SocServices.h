// QORVEX_SOC_SERVICES_PROTOCOL: facts about the processor package that only the SOC component
// knows: the highest core frequency, which complex dies and cores are present and enabled, and
// the message numbers the system management unit expects for overclocking.
#ifndef INTERFACES_SOC_SERVICES_H_
#define INTERFACES_SOC_SERVICES_H_

#include "uefi/Base.h"

// The most complex dies one die holds; GetDieCoreInfo fills one core-disable mask per complex die.
constexpr UINT32 SOC_MAX_COMPLEX_DIES_PER_DIE = 12;
// Dies per socket in the die index that GetDieCoreInfo takes (socket × 4 + die).
constexpr UINT32 SOC_DIES_PER_SOCKET = 4;

// The three message numbers for overclocking. Revision 1 is the only layout there is.
typedef struct {
  UINT32 Revision;
  UINT32 FirstMessage;
  UINT32 VoltageMessage;
  UINT32 FrequencyMessage;
} SOC_OC_MESSAGE_TABLE;
static_assert(sizeof(SOC_OC_MESSAGE_TABLE) == 16, "the OC message table is four 32-bit words");
static_assert(offsetof(SOC_OC_MESSAGE_TABLE, VoltageMessage) == 8, "voltage message at offset 8");
static_assert(offsetof(SOC_OC_MESSAGE_TABLE, FrequencyMessage) == 12, "frequency message at offset 12");

constexpr UINT32 SOC_OC_MESSAGE_TABLE_REVISION = 1;

typedef struct _QORVEX_SOC_SERVICES_PROTOCOL QORVEX_SOC_SERVICES_PROTOCOL;

struct _QORVEX_SOC_SERVICES_PROTOCOL {
  UINT64 Revision;
  // The highest core frequency the part allows, in 25 MHz units.
  EFI_STATUS(EFIAPI *GetMaxCoreFid)(IN QORVEX_SOC_SERVICES_PROTOCOL *This, OUT UINT16 *MaxCoreFid);
  // Package-wide counts: one present bit per complex die, one disable bit per core, the cores of
  // one complex die, and whether simultaneous multithreading is on.
  EFI_STATUS(EFIAPI *GetCoreCountInfo)(IN QORVEX_SOC_SERVICES_PROTOCOL *This, OUT UINT32 *ComplexDiePresentMask,
                                       OUT UINT32 *CoreDisableMask, OUT UINT32 *CoresPerComplexDie,
                                       OUT BOOLEAN *SmtEnabled);
  EFI_STATUS(EFIAPI *GetOcMessageTable)(IN QORVEX_SOC_SERVICES_PROTOCOL *This,
                                        OUT CONST SOC_OC_MESSAGE_TABLE **Table);
  // The same counts for one die, with a core-disable mask per complex die. ArrayBytes and
  // ArrayEntries point at the size of CoreDisableMasks, in bytes and in entries.
  EFI_STATUS(EFIAPI *GetDieCoreInfo)(IN QORVEX_SOC_SERVICES_PROTOCOL *This, IN UINT32 DieIndex,
                                     OUT UINT32 *ComplexDiePresentMask, OUT UINT32 *ComplexDieDisableMask,
                                     OUT UINT32 *CoreDisableMasks, IN OUT UINT32 *ArrayBytes,
                                     OUT UINT32 *CoresPerComplexDie, OUT BOOLEAN *SmtEnabled,
                                     IN OUT UINT32 *ArrayEntries);
};
static_assert(offsetof(QORVEX_SOC_SERVICES_PROTOCOL, GetMaxCoreFid) == 1 * 8, "GetMaxCoreFid is entry 2");
static_assert(offsetof(QORVEX_SOC_SERVICES_PROTOCOL, GetCoreCountInfo) == 2 * 8, "GetCoreCountInfo is entry 3");
static_assert(offsetof(QORVEX_SOC_SERVICES_PROTOCOL, GetOcMessageTable) == 3 * 8, "GetOcMessageTable is entry 4");
static_assert(offsetof(QORVEX_SOC_SERVICES_PROTOCOL, GetDieCoreInfo) == 4 * 8, "GetDieCoreInfo is entry 5");

#endif  // INTERFACES_SOC_SERVICES_H_
