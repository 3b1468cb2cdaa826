// A system call made without the C library: its wrappers set errno, which lives in thread-local
// storage, on failure. For code that must still work when that storage is damaged (a process
// ending after the delivered image overwrote the simulator's memory) or inside a signal handler.
// Returns the kernel's result: a negative error number on failure.
#ifndef SIM_RAW_SYSCALL_H_
#define SIM_RAW_SYSCALL_H_

namespace sim {

inline long RawSyscall(long Number, long First = 0, long Second = 0, long Third = 0, long Fourth = 0) {
  long Result;
  register long R10 __asm__("r10") = Fourth;
  __asm__ __volatile__("syscall"
                       : "=a"(Result)
                       : "a"(Number), "D"(First), "S"(Second), "d"(Third), "r"(R10)
                       : "rcx", "r11", "memory");
  return Result;
}

}  // namespace sim

#endif  // SIM_RAW_SYSCALL_H_
