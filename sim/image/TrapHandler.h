// The signal handler that lets the delivered image run natively on the simulator's threads. What
// a user process may not execute faults: CPUID (CPUID faulting), RDTSC (TSC trapping), MSR, port,
// cache and interrupt-flag instructions (#GP), and loads and stores to the machine's register
// windows (reserved as inaccessible host ranges). A fault raised by image code is emulated against
// the simulated machine and the image resumes after the instruction. RDTSC and CPUID executed by
// the host's own code (the C library's clocks) run natively with trapping briefly off. Every other
// fault goes to the handler that was installed before, so a crash of the simulator stays a crash,
// except on a thread that acts as a simulated processor while an image boots: there any fault
// (an invalid instruction, a jump out of the image's code, a host function given a wild pointer
// by the image, a divide error, a breakpoint) ends the boot as a simulator error that names the
// processor, the address, the instruction bytes and the image function it happened in or under.
// Once an image has run in the process, a fault of the simulator's own code on any other thread
// ends the process with status 70 and the cause, rather than by the signal: the image shares the
// simulator's address space, and its stray stores may have overwritten the simulator's memory.
#ifndef SIM_IMAGE_TRAP_HANDLER_H_
#define SIM_IMAGE_TRAP_HANDLER_H_

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/devices/Device.h"
#include "sim/image/InstructionEmulator.h"

namespace sim {

// True when this host can trap the image's instructions (CPUID faulting and TSC trapping work,
// and the build leaves the register windows' addresses free); otherwise false with the reason.
bool ImageTrapsSupported(std::string &Why);

// Turns CPUID faulting and TSC trapping on for the calling thread, once; threads it starts later
// inherit both. Installs the process's handler first if it is not there yet.
void TrapPrivilegedInstructionsOnThisThread();

// What the handler knows of one boot of the image. Only one session is active at a time.
class ImageTrapSession {
 public:
  // EndBoot ends the boot with a simulator error from the call chain of the processor's thread
  // and never returns. FunctionAt names the image function at or nearest below an address of the
  // image ("CcxFoo+0x1C"), or gives "" when it knows none.
  ImageTrapSession(uint64_t CodeBegin, uint64_t CodeEnd, std::vector<AddressRange> Windows,
                   std::function<void(const std::string &)> EndBoot,
                   std::function<std::string(uint64_t)> FunctionAt = nullptr);
  ~ImageTrapSession();
  ImageTrapSession(const ImageTrapSession &) = delete;
  ImageTrapSession &operator=(const ImageTrapSession &) = delete;

  bool InCode(uint64_t Address) const { return Address >= CodeBegin_ && Address < CodeEnd_; }
  bool InWindow(uint64_t Address) const;
  void Count(TrapKind Kind) { Counts_[static_cast<size_t>(Kind)].fetch_add(1, std::memory_order_relaxed); }
  // The traps taken so far, by kind.
  std::array<uint64_t, kTrapKindCount> Counts() const;
  // "F+0x1C" for an address in the image, or "".
  std::string FunctionAt(uint64_t Address) const { return FunctionAt_ ? FunctionAt_(Address) : std::string(); }
  // Ends the boot with a simulator error naming Problem, from the faulting thread: it is parked
  // for good, as a processor that never comes back. The message goes to standard error at once,
  // too. A thread that is not a simulated processor ends the process with the message.
  [[noreturn]] void Fail(const std::string &Problem);

 private:
  uint64_t CodeBegin_;
  uint64_t CodeEnd_;
  std::vector<AddressRange> Windows_;
  std::function<void(const std::string &)> EndBoot_;
  std::function<std::string(uint64_t)> FunctionAt_;
  std::array<std::atomic<uint64_t>, kTrapKindCount> Counts_{};
};

}  // namespace sim

#endif  // SIM_IMAGE_TRAP_HANDLER_H_
