// What the image's fault handler keeps for each thread that runs image code, and what it can still
// do when the image has damaged that thread: the image runs natively in the simulator's address
// space, and a damaged image's stray stores reach the thread's own storage (its stack, its thread
// control block, the C library's state in it) as easily as anything else.
#ifndef SIM_IMAGE_HANDLER_THREADS_H_
#define SIM_IMAGE_HANDLER_THREADS_H_

#include <atomic>
#include <cstdint>

namespace sim {

// A thread's record, by kernel thread id (0 when the record is free).
struct HandlerThread {
  std::atomic<long> Tid{0};
  // Its FS base, the base of its thread-local storage: image code that loads FS (a flipped byte is
  // enough) moves it, and the handler could then touch nothing thread-local without faulting again.
  std::atomic<uint64_t> FsBase{0};
  // Handlers running on the thread: a fault inside the handler itself (other than the host's own
  // RDTSC and CPUID) means the simulator's memory is no longer what it was.
  std::atomic<int> Depth{0};
};

// Prepares the calling thread, once: a signal stack of its own for the handler (mapped apart from
// the heap), its FS base remembered, and the C library's restartable sequences off for it. Throws
// std::runtime_error when the stack cannot be given.
void PrepareThreadForFaults();

// This thread's record, or null for a thread that was never prepared. Repaired is set when image
// code moved the thread's FS base or a stray store of it overwrote the thread control block's
// pointer to itself (the first word there, which every thread-local access reads); both are put
// back, so that the handler can still end the process. Touches nothing thread-local.
HandlerThread *ThisHandlerThread(bool &Repaired);

// Ends the process with status 70: "ccxsim: simulator error: <Who> at <Rip> raised signal <Signal>
// (address <Address>) after <After>; the run ends without a report" on standard error, the run's
// temporary folders removed, using only system calls. Said once: a second caller ends the process
// at once.
[[noreturn]] void EndWithoutTheLibrary(const char *Who, int Signal, uint64_t Rip, uint64_t Address, const char *After);

}  // namespace sim

#endif  // SIM_IMAGE_HANDLER_THREADS_H_
