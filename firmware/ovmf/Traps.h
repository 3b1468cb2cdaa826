// Makes the delivered image's privileged instructions and register-window accesses trap, and
// forwards each trap to ccxsim, which emulates it against the simulated machine.
#ifndef FIRMWARE_OVMF_TRAPS_H_
#define FIRMWARE_OVMF_TRAPS_H_

#include "firmware/ovmf/ChannelFormat.h"
#include "uefi/CpuArch.h"

namespace ccx_ovmf {

// Registers the #UD and #PF handlers; every processor takes them.
EFI_STATUS InstallTrapHandlers(EFI_CPU_ARCH_PROTOCOL *Cpu, uint64_t ImageBase);

// Makes every access to each window fault. A window the page tables do not map faults already;
// its status is not an error.
void ProtectWindows(EFI_CPU_ARCH_PROTOCOL *Cpu, const ccx_channel::AddressWindow *Windows, uint32_t Count);

// Writes the trap opcode over the first byte of each site of the image at Base.
void RewriteSites(uint64_t Base, const uint32_t *Rvas, uint32_t Count);

}  // namespace ccx_ovmf

#endif  // FIRMWARE_OVMF_TRAPS_H_
