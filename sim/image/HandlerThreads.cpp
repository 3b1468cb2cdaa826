#include "sim/image/HandlerThreads.h"

#include <asm/prctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/rseq.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include "sim/RawSyscall.h"
#include "sim/files/TemporaryPaths.h"

namespace sim {
namespace {

// Appends Text, or Value in hexadecimal, to a fixed buffer, without the C library.
struct RawText {
  char Bytes[512];
  size_t Length = 0;
  RawText &operator<<(const char *Text) {
    while (*Text != '\0' && Length < sizeof(Bytes)) Bytes[Length++] = *Text++;
    return *this;
  }
  RawText &operator<<(uint64_t Value) {
    char Digits[19] = "0x";
    int Count = 0;
    for (uint64_t Rest = Value; Count == 0 || Rest != 0; Rest >>= 4) Count++;
    for (int Index = 0; Index < Count; Index++) Digits[2 + Index] = "0123456789ABCDEF"[(Value >> (4 * (Count - 1 - Index))) & 0xF];
    Digits[2 + Count] = '\0';
    return *this << static_cast<const char *>(Digits);
  }
};

// The records of the prepared threads, by kernel thread id with open addressing.
constexpr size_t kThreadSlots = 4096;
HandlerThread gThreadBases[kThreadSlots];

void RememberThreadBase() {
  const long Tid = RawSyscall(SYS_gettid, 0, 0);
  uint64_t Base = 0;
  RawSyscall(SYS_arch_prctl, ARCH_GET_FS, reinterpret_cast<long>(&Base));
  for (size_t Probe = 0; Probe < kThreadSlots; Probe++) {
    HandlerThread &Slot = gThreadBases[(static_cast<size_t>(Tid) + Probe) % kThreadSlots];
    long Free = 0;
    if (Slot.Tid.load() == Tid || Slot.Tid.compare_exchange_strong(Free, Tid)) {
      Slot.FsBase.store(Base);
      return;
    }
  }
}

void ForgetThreadBase() {
  const long Tid = RawSyscall(SYS_gettid, 0, 0);
  for (size_t Probe = 0; Probe < kThreadSlots; Probe++) {
    HandlerThread &Slot = gThreadBases[(static_cast<size_t>(Tid) + Probe) % kThreadSlots];
    if (Slot.Tid.load() == Tid) {
      Slot.Tid.store(0);
      return;
    }
  }
}

}  // namespace

HandlerThread *ThisHandlerThread(bool &Repaired) {
  Repaired = false;
  const long Tid = RawSyscall(SYS_gettid, 0, 0);
  for (size_t Probe = 0; Probe < kThreadSlots; Probe++) {
    HandlerThread &Slot = gThreadBases[(static_cast<size_t>(Tid) + Probe) % kThreadSlots];
    const long Held = Slot.Tid.load();
    if (Held == 0) return nullptr;
    if (Held != Tid) continue;
    const uint64_t Base = Slot.FsBase.load();
    uint64_t Now = 0;
    RawSyscall(SYS_arch_prctl, ARCH_GET_FS, reinterpret_cast<long>(&Now));
    if (Now != Base) {
      RawSyscall(SYS_arch_prctl, ARCH_SET_FS, static_cast<long>(Base));
      Repaired = true;
    }
    auto *Self = reinterpret_cast<volatile uint64_t *>(Base);
    if (*Self != Base) {
      *Self = Base;
      Repaired = true;
    }
    return &Slot;
  }
  return nullptr;
}

namespace {

// The C library registers each thread's restartable-sequence area with the kernel; it lies in the
// thread control block, and when a stray store of the image damages it the kernel ends the process
// on the next signal, before any handler runs. Threads that run image code do without it (the C
// library then asks the kernel for what the area would have told it).
void UnregisterRestartableSequences() {
  if (__rseq_size == 0) return;
  void *Area = static_cast<char *>(__builtin_thread_pointer()) + __rseq_offset;
  // The area is registered with its full size, which may exceed the size of the features it has.
  for (const unsigned Length : {__rseq_size, 32u}) {
    if (syscall(SYS_rseq, Area, Length, RSEQ_FLAG_UNREGISTER, RSEQ_SIG) == 0) return;
  }
}

// The stack the handler runs on for a thread that runs image code: the image may have left its
// own stack pointer anywhere, and a fault the kernel cannot push a frame for ends the process.
// The handler emulates device accesses on it, and a fault that ends the boot parks there.
class AlternateStack {
 public:
  static constexpr size_t kSize = 256 * 1024;
  AlternateStack()
      // Mapped apart from the heap, whose bookkeeping a stray store of the image may have damaged.
      : Memory_(mmap(nullptr, kSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0)) {
    if (Memory_ == MAP_FAILED) {
      throw std::runtime_error(std::string("cannot give the trap handler a stack of its own: ") + std::strerror(errno));
    }
    stack_t Stack{};
    Stack.ss_sp = Memory_;
    Stack.ss_size = kSize;
    if (sigaltstack(&Stack, nullptr) != 0) {
      const int Error = errno;
      munmap(Memory_, kSize);
      throw std::runtime_error(std::string("cannot give the trap handler a stack of its own: ") + std::strerror(Error));
    }
    RememberThreadBase();
    UnregisterRestartableSequences();
  }
  ~AlternateStack() {
    ForgetThreadBase();
    stack_t Off{};
    Off.ss_flags = SS_DISABLE;
    sigaltstack(&Off, nullptr);
    munmap(Memory_, kSize);
  }
  AlternateStack(const AlternateStack &) = delete;
  AlternateStack &operator=(const AlternateStack &) = delete;

 private:
  void *Memory_;
};
thread_local std::unique_ptr<AlternateStack> tAlternateStack;

}  // namespace

void PrepareThreadForFaults() {
  if (!tAlternateStack) tAlternateStack = std::make_unique<AlternateStack>();
}

// After the image overwrote this thread's own storage nothing of the C library can be trusted on it
// (its cancellation state, its locale, its allocator's arena), and after any other fault of the
// simulator's own code once an image has run the heap may be what was overwritten.
[[noreturn]] void EndWithoutTheLibrary(const char *Who, int Signal, uint64_t Rip, uint64_t Address, const char *After) {
  // Said once: another thread, or a fault while the folders are removed, ends the process at once.
  static std::atomic<bool> Ending{false};
  if (Ending.exchange(true)) {
    RawSyscall(SYS_exit_group, 70, 0);
    __builtin_unreachable();
  }
  RawText Line;
  Line << "ccxsim: simulator error: " << Who << " at " << Rip << " raised signal " << static_cast<uint64_t>(Signal);
  // An abort names no address.
  if (Signal != SIGABRT) Line << " (address " << Address << ")";
  Line << " after " << After << "; the run ends without a report\n";
  RawSyscall(SYS_write, STDERR_FILENO, reinterpret_cast<long>(Line.Bytes), static_cast<long>(Line.Length));
  RemoveRegisteredPathsNow();
  RawSyscall(SYS_exit_group, 70, 0);
  __builtin_unreachable();
}

}  // namespace sim
