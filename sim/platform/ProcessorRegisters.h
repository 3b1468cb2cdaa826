// The processor registers a machine description fixes beyond MSRs and CPUID: the PCI segments its
// configuration-space base register describes, one host bridge per socket in the fabric's
// host-bridge map, and the core-complex registers through which the driver numbers threads (the
// enabled-core map, a core topology register per core of every complex, and the complex-fold
// registers of parts that fold). They are worked out from the machine alone, so that the driver's
// reading of them can be checked against the processors' own APIC IDs.
#ifndef SIM_PLATFORM_PROCESSOR_REGISTERS_H_
#define SIM_PLATFORM_PROCESSOR_REGISTERS_H_

#include <cstdint>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/devices/DeviceSet.h"
#include "sim/machine/Machine.h"

namespace sim {

// The PCI segments and host bridges of the machine, set into the devices' description.
void ConfigureProcessorDevices(const Machine &Description, DeviceSetConfig &Config);

// Presets the core-complex registers in the sideband space from the machine and its processors.
void PresetProcessorRegisters(const Machine &Description, ProcessorSet &Processors, DeviceSet &Devices);

// The four words of the enabled-core map, lowest first, for the machine's processors.
std::vector<uint32_t> EnabledCoreMapOf(const Machine &Description, ProcessorSet &Processors);

}  // namespace sim

#endif  // SIM_PLATFORM_PROCESSOR_REGISTERS_H_
