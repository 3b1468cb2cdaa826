// The firmware side of the channel to ccxsim: the UART at the channel port, the shared mailbox,
// and the lock that keeps one exchange in flight across processors.
#ifndef FIRMWARE_OVMF_CHANNEL_H_
#define FIRMWARE_OVMF_CHANNEL_H_

#include "firmware/ovmf/ChannelFormat.h"
#include "uefi/Base.h"

namespace ccx_ovmf {

// Sets the UART up and tells the host where Box is.
void OpenChannel(ccx_channel::Mailbox *Box);

// Takes the channel for the caller's processor; Exchange then sends the request in the mailbox
// and waits for the answer; Release gives the channel back.
ccx_channel::Mailbox &AcquireChannel(uint32_t Request, uint32_t Processor);
uint32_t Exchange();
void ReleaseChannel();

// One whole exchange that carries Text in Data (kStep, kFailure).
uint32_t SendText(uint32_t Request, uint32_t Processor, const char *Text);

// The processor that runs the caller, by the number MP services gives it.
uint32_t ThisProcessor();
// Records which APIC ID each processor number has (from MP services, before any trap).
void SetProcessorNumber(uint32_t ApicId, uint32_t Number);

// Copies Length bytes (the package carries no C library).
void CopyBytes(void *Destination, const void *Source, UINTN Length);

// Stops this processor for good: the host ends the run.
[[noreturn]] void Park();

}  // namespace ccx_ovmf

#endif  // FIRMWARE_OVMF_CHANNEL_H_
