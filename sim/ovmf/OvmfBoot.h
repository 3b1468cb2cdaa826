// A boot of the delivered image inside real UEFI firmware: OVMF under QEMU, with QEMU's
// processors as the BSP and the APs, and the machine itself (its registers, devices and
// coprocessor) served by this process's simulated platform over the channel.
#ifndef SIM_OVMF_OVMF_BOOT_H_
#define SIM_OVMF_OVMF_BOOT_H_

#include <span>
#include <string>

#include "sim/image/PeImage.h"
#include "sim/machine/Machine.h"
#include "sim/ovmf/QemuProcess.h"
#include "sim/platform/BootRunner.h"

namespace sim {

struct OvmfImage {
  std::string Name;
  std::span<const uint8_t> File;
  const PeImageInfo *Info = nullptr;
};

// Boots Image on Description inside OVMF once and returns the record, as RunBoot does for a boot
// in the simulator. Throws std::runtime_error when QEMU, OVMF or the platform package is missing.
// A run that goes wrong (QEMU exits, the time limit passes, an access nobody models) ends as a
// simulator error naming it.
BootRecord RunOvmfBoot(const Machine &Description, const OvmfImage &Image, const OvmfSettings &Settings,
                       const BootOptions &Options);

}  // namespace sim

#endif  // SIM_OVMF_OVMF_BOOT_H_
