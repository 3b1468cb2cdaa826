// One instruction of the driver running inside OVMF, run here instead: when a driver service that
// the outside table builders call loads or stores through a pointer into this process's memory (a
// buffer a builder passed), the access faults in the guest, and the instruction runs natively in
// this process with the guest's general registers and arithmetic flags, where that address holds
// the builder's own bytes (and the guest's RAM lies at its own addresses too). Instructions that
// use the stack, branch, address relative to RIP, or touch registers other than the general ones and
// XMM0-15 are refused.
#ifndef SIM_OVMF_NATIVE_STEP_H_
#define SIM_OVMF_NATIVE_STEP_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "firmware/ovmf/ChannelFormat.h"

namespace sim {

// Runs the instruction (Available bytes at most) on Regs and Xmm (XMM0-15, 16 bytes each) and moves
// RIP past it. Returns "" when it ran, else why it may not.
std::string RunNativeStep(ccx_channel::Registers &Regs, uint8_t *Xmm, const uint8_t *Bytes, size_t Available);

}  // namespace sim

#endif  // SIM_OVMF_NATIVE_STEP_H_
