// The SOC component's service (QORVEX_SOC_SERVICES_PROTOCOL), played from the machine: the
// highest core frequency, and which complex dies and cores the package was built with. A complex
// die is built with the most complexes and cores any complex die of the machine has; cores the
// topology leaves out of a complex die are the ones its core-disable mask names. It also hands out
// the overclocking message numbers of the system management unit. Every query can fail through the
// fault injector (service "soc").
#ifndef SIM_SIBLINGS_SOC_SERVICE_H_
#define SIM_SIBLINGS_SOC_SERVICE_H_

#include <cstdint>

#include "interfaces/SocServices.h"
#include "sim/cpu/Topology.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {

class SocService;

struct SocServiceRecord {
  QORVEX_SOC_SERVICES_PROTOCOL Protocol;
  SocService *Owner;
};

class SocService {
 public:
  SocService(const Topology &Shape, const SocSettings &Settings, FaultInjector &Faults);
  SocService(const SocService &) = delete;
  SocService &operator=(const SocService &) = delete;

  QORVEX_SOC_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }

  // The cores one complex die was built with.
  uint32_t CoresPerComplexDie() const;
  // One bit per core of the complex die that the topology does not run, complex by complex.
  uint32_t CoreDisableMask(const TopologyPosition &ComplexDie) const;
  bool SmtEnabled() const;

  // Used by the protocol thunks.
  EFI_STATUS MaxCoreFid(UINT16 *Value);
  EFI_STATUS CoreCountInfo(UINT32 *PresentMask, UINT32 *CoreDisable, UINT32 *CoresPerDie,
                           BOOLEAN *Smt);
  EFI_STATUS DieCoreInfo(UINT32 DieIndex, UINT32 *PresentMask, UINT32 *DisableMask, UINT32 *CoreDisableMasks,
                         UINT32 *ArrayBytes, UINT32 *CoresPerDie, BOOLEAN *Smt, UINT32 *ArrayEntries);
  EFI_STATUS OcMessageTable(const SOC_OC_MESSAGE_TABLE **Table);

 private:
  const Topology &Shape_;
  SocSettings Settings_;
  FaultInjector &Faults_;
  SocServiceRecord Record_;
  SOC_OC_MESSAGE_TABLE OcMessages_{};
};

}  // namespace sim

#endif  // SIM_SIBLINGS_SOC_SERVICE_H_
