#include "sim/image/TrapHandler.h"

#include <asm/prctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <iterator>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "sim/cpu/CurrentProcessor.h"
#include "sim/HexText.h"
#include "sim/files/TemporaryPaths.h"
#include "sim/image/HandlerThreads.h"

namespace sim {
namespace {

constexpr uint64_t kPage = 4096;

std::atomic<ImageTrapSession *> gSession{nullptr};
// Set for good once an image has run in this process: its stray stores may have reached any of
// the simulator's memory, so a later crash anywhere may be the image's doing.
std::atomic<bool> gImageRan{false};
// The signals a fault of code can raise, and the handlers installed before ours, in that order.
// SIGABRT is the C library's own: it aborts when it finds its memory damaged.
constexpr int kFaultSignals[] = {SIGSEGV, SIGILL, SIGBUS, SIGFPE, SIGTRAP, SIGABRT};
struct sigaction gPrevious[std::size(kFaultSignals)];
std::once_flag gInstalled;
thread_local bool tTrapping = false;

bool SetCpuidFaulting(bool On) { return syscall(SYS_arch_prctl, ARCH_SET_CPUID, On ? 0 : 1) == 0; }
bool SetTscTrapping(bool On) { return prctl(PR_SET_TSC, On ? PR_TSC_SIGSEGV : PR_TSC_ENABLE, 0, 0, 0) == 0; }

// RDTSC, RDTSCP or CPUID of the host's own code (the vDSO's clocks read the time-stamp counter):
// executed for real with this thread's trapping briefly off. Returns false for anything else.
bool RunHostInstruction(ucontext_t &Context) {
  greg_t *Gregs = Context.uc_mcontext.gregs;
  uint8_t Code[3] = {};
  if (CopyReadableBytes(static_cast<uint64_t>(Gregs[REG_RIP]), Code, sizeof(Code)) < 2) return false;
  if (Code[0] != 0x0F) return false;
  if (Code[1] == 0x31 || (Code[1] == 0x01 && Code[2] == 0xF9)) {
    const bool Rdtscp = Code[1] == 0x01;
    uint32_t Low = 0, High = 0, Aux = 0;
    SetTscTrapping(false);
    if (Rdtscp) {
      __asm__ __volatile__("rdtscp" : "=a"(Low), "=d"(High), "=c"(Aux));
    } else {
      __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
    }
    SetTscTrapping(true);
    Gregs[REG_RAX] = Low;
    Gregs[REG_RDX] = High;
    if (Rdtscp) Gregs[REG_RCX] = Aux;
    Gregs[REG_RIP] += Rdtscp ? 3 : 2;
    return true;
  }
  if (Code[1] == 0xA2) {
    uint32_t A = static_cast<uint32_t>(Gregs[REG_RAX]), B, C = static_cast<uint32_t>(Gregs[REG_RCX]), D;
    SetCpuidFaulting(false);
    __asm__ __volatile__("cpuid" : "+a"(A), "=b"(B), "+c"(C), "=d"(D));
    SetCpuidFaulting(true);
    Gregs[REG_RAX] = A;
    Gregs[REG_RBX] = B;
    Gregs[REG_RCX] = C;
    Gregs[REG_RDX] = D;
    Gregs[REG_RIP] += 2;
    return true;
  }
  return false;
}

// Hands a fault that is not ours to the handler installed before; the default action is taken by
// returning with it restored, so the faulting instruction runs again and ends the process.
void Chain(int Signal, siginfo_t *Info, void *Context) {
  const struct sigaction *Previous = nullptr;
  for (size_t Index = 0; Index < std::size(kFaultSignals); Index++) {
    if (kFaultSignals[Index] == Signal) Previous = &gPrevious[Index];
  }
  if (Previous != nullptr && (Previous->sa_flags & SA_SIGINFO) != 0 && Previous->sa_sigaction != nullptr) {
    Previous->sa_sigaction(Signal, Info, Context);
    return;
  }
  if (Previous != nullptr && Previous->sa_handler != SIG_DFL && Previous->sa_handler != SIG_IGN) {
    Previous->sa_handler(Signal);
    return;
  }
  signal(Signal, SIG_DFL);
  // A trap (INT3) has already moved past its instruction, and an abort may have come from outside:
  // neither would be raised again.
  if (Signal == SIGTRAP || Signal == SIGABRT) raise(Signal);
}

// What a fault other than an emulated one was, in words.
std::string FaultName(int Signal, bool PageFault, uint64_t Address) {
  switch (Signal) {
    case SIGILL: return "an invalid instruction";
    case SIGFPE: return "a divide error";
    case SIGTRAP: return "a breakpoint (INT3)";
    case SIGBUS: return "a bus error at " + Hex(Address);
    default: return PageFault ? "a page fault at " + Hex(Address) : "a general-protection fault";
  }
}

// True when the bytes before Return end a near CALL (E8 rel32, or FF /2 with any addressing).
bool FollowsCall(uint64_t Return) {
  uint8_t Before[7] = {};
  if (Return < sizeof(Before) || CopyReadableBytes(Return - sizeof(Before), Before, sizeof(Before)) != sizeof(Before)) {
    return false;
  }
  if (Before[2] == 0xE8) return true;  // five bytes before the return address
  for (size_t Length = 2; Length <= 7; Length++) {
    const uint8_t Opcode = Before[sizeof(Before) - Length];
    const uint8_t ModRm = Before[sizeof(Before) - Length + 1];
    if (Opcode == 0xFF && ((ModRm >> 3) & 7) == 2) return true;
  }
  return false;
}

// The innermost return address into the image on the stack above StackPointer, or 0: the image
// frame that led to code outside the image. Reads at most 256 KiB, a block at a time, while the
// stack can be read.
uint64_t ImageReturnAddress(const ImageTrapSession &Session, uint64_t StackPointer) {
  constexpr size_t kWords = 64;
  uint64_t Words[kWords];
  for (uint64_t Offset = 0; Offset < (uint64_t(256) << 10); Offset += sizeof(Words)) {
    const size_t Copied = CopyReadableBytes(StackPointer + Offset, Words, sizeof(Words));
    for (size_t Index = 0; Index < Copied / sizeof(uint64_t); Index++) {
      if (Session.InCode(Words[Index]) && FollowsCall(Words[Index])) return Words[Index];
    }
    if (Copied < sizeof(Words)) break;
  }
  return 0;
}

// " (in F+0x1C)" when the session knows the image function at or below Address.
std::string InFunction(const ImageTrapSession &Session, uint64_t Address) {
  const std::string Name = Session.FunctionAt(Address);
  return Name.empty() ? std::string() : " (in " + Name + ")";
}

// A fault on a simulated processor's thread outside the image's code during an image boot: the
// image jumped out of its code, or host code it called faulted (a wild pointer it was given).
[[noreturn]] void FailOutsideImage(ImageTrapSession &Session, int Signal, bool PageFault, uint64_t Address,
                                   const ucontext_t &Context) {
  const uint64_t Rip = static_cast<uint64_t>(Context.uc_mcontext.gregs[REG_RIP]);
  const uint64_t Return = ImageReturnAddress(Session, static_cast<uint64_t>(Context.uc_mcontext.gregs[REG_RSP]));
  const std::string From = Return != 0 ? ", below image code at " + Hex(Return) + InFunction(Session, Return)
                                       : ", with no image frame on the stack";
  uint8_t Probe = 0;
  if ((Signal == SIGSEGV && PageFault && Address == Rip) || CopyReadableBytes(Rip, &Probe, 1) == 0) {
    Session.Fail("execution left the image's code for " + Hex(Rip) + ", which is not code (" +
                 InstructionBytes(Rip) + ")" + From);
  }
  Session.Fail("host code at " + Hex(Rip) + " (" + InstructionBytes(Rip) + ") raised " +
               FaultName(Signal, PageFault, Address) + " while it ran for the image" + From);
}

void OnFault(int Signal, siginfo_t *Info, void *Raw) {
  // The image may have set the alignment-check flag, which the handler is entered with: every
  // unaligned access of the simulator's own code would then fault too.
  __asm__ __volatile__("pushfq\n\tandq $~0x40000, (%%rsp)\n\tpopfq" ::: "memory", "cc");
  ucontext_t &Context = *static_cast<ucontext_t *>(Raw);
  const uint64_t Rip = static_cast<uint64_t>(Context.uc_mcontext.gregs[REG_RIP]);
  // Before anything thread-local is touched.
  bool Repaired = false;
  HandlerThread *Slot = ThisHandlerThread(Repaired);
  if (Repaired) {
    EndWithoutTheLibrary("code", Signal, Rip, reinterpret_cast<uint64_t>(Info->si_addr),
                         "image code had moved or overwritten the simulator's own thread storage (FS base, "
                         "thread control block)");
  }
  const int SavedErrno = errno;
  // A general-protection fault (privileged instruction, CPUID faulting, TSC trapping) comes as
  // SI_KERNEL; a page fault names the address.
  const bool PageFault = Signal == SIGSEGV && (Info->si_code == SEGV_MAPERR || Info->si_code == SEGV_ACCERR);
  const uint64_t Address = reinterpret_cast<uint64_t>(Info->si_addr);
  if (Signal == SIGABRT) {
    if (gImageRan.load()) {
      EndWithoutTheLibrary("the simulator's own code", Signal, Rip, Address,
                           "the delivered image had run in its address space; the C library aborted, which it does "
                           "when it finds its memory damaged, and a stray store of the image may have damaged it");
    }
    Chain(Signal, Info, Raw);
    return;
  }
  ImageTrapSession *Session = gSession.load(std::memory_order_acquire);
  // A trap reports the instruction after the INT3.
  const uint64_t At = Signal == SIGTRAP && Rip > 0 ? Rip - 1 : Rip;
  const bool ImageCode = Session != nullptr && Session->InCode(At);
  // The host's own clocks, also from inside a handler (a device model reading the time).
  if (!ImageCode && Signal == SIGSEGV && !PageFault && tTrapping && RunHostInstruction(Context)) {
    errno = SavedErrno;
    return;
  }
  if (Slot != nullptr && Slot->Depth.fetch_add(1) > 0) {
    EndWithoutTheLibrary("the simulator's own code", Signal, Rip, Address,
                         "a fault inside the fault handler, while it was handling one of the image's: the image "
                         "may have overwritten the simulator's memory");
  }
  if (ImageCode) {
    if (Signal != SIGSEGV) {
      Session->Fail("image code at " + Hex(At) + " (" + InstructionBytes(At) + ") raised " +
                    FaultName(Signal, PageFault, Address) + InFunction(*Session, At));
    }
    // The image holds no lock of the host's and is not inside the C library, so the models may
    // be called from here as from the host build's hooks.
    if (PageFault && !Session->InWindow(Address)) {
      Session->Fail("image code at " + Hex(Rip) + " (" + InstructionBytes(Rip) + ") touched " + Hex(Address) +
                    ", which is neither simulated DRAM nor a register window" + InFunction(*Session, Rip));
    }
    TrapOutcome Outcome;
    try {
      Outcome = EmulateInstruction(Context, PageFault, Address);
    } catch (const std::exception &Error) {
      Session->Fail(std::string(Error.what()) + " (emulating " + InstructionBytes(Rip) + " at " + Hex(Rip) + ")" +
                    InFunction(*Session, Rip));
    }
    if (Outcome.How != TrapOutcome::Emulated) {
      Session->Fail(Outcome.Problem + ", at " + Hex(Rip) + ": " + InstructionBytes(Rip) + InFunction(*Session, Rip));
    }
    Session->Count(Outcome.Kind);
    if (Slot != nullptr) Slot->Depth.fetch_sub(1);
    errno = SavedErrno;
    return;
  }
  if (Session != nullptr && CurrentProcessor() != nullptr) FailOutsideImage(*Session, Signal, PageFault, Address, Context);
  if (gImageRan.load()) {
    EndWithoutTheLibrary("the simulator's own code", Signal, Rip, Address,
                         "the delivered image had run in its address space; a stray store of the image may have "
                         "overwritten the simulator's memory");
  }
  if (Slot != nullptr) Slot->Depth.fetch_sub(1);
  Chain(Signal, Info, Raw);
}

void InstallHandler() {
  std::call_once(gInstalled, [] {
    struct sigaction Action;
    std::memset(&Action, 0, sizeof(Action));
    Action.sa_sigaction = OnFault;
    Action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
    sigemptyset(&Action.sa_mask);
    for (size_t Index = 0; Index < std::size(kFaultSignals); Index++) {
      if (sigaction(kFaultSignals[Index], &Action, &gPrevious[Index]) != 0) {
        throw std::runtime_error(std::string("cannot install the image's trap handler: ") + std::strerror(errno));
      }
    }
  });
}

uint64_t RoundDown(uint64_t Value) { return Value & ~(kPage - 1); }
uint64_t RoundUp(uint64_t Value) { return (Value + kPage - 1) & ~(kPage - 1); }

// The windows as whole host pages in address order, overlapping or touching ones merged. The merge
// compares each window with the one before it, so they are sorted first: a window listed after a
// higher one would otherwise be folded into it and never reserved.
std::vector<AddressRange> PageWindows(std::vector<AddressRange> Windows) {
  std::sort(Windows.begin(), Windows.end(),
            [](const AddressRange &Left, const AddressRange &Right) { return Left.Base < Right.Base; });
  std::vector<AddressRange> Pages;
  for (const AddressRange &Window : Windows) {
    const uint64_t Base = RoundDown(Window.Base);
    const uint64_t End = RoundUp(Window.Base + Window.Size);
    if (!Pages.empty() && Base <= Pages.back().Base + Pages.back().Size) {
      Pages.back().Size = std::max(Pages.back().Base + Pages.back().Size, End) - Pages.back().Base;
    } else {
      Pages.push_back({Base, End - Base});
    }
  }
  return Pages;
}

}  // namespace

bool ImageTrapsSupported(std::string &Why) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  Why = "the delivered image boots only in the normal build: the sanitizers' shadow memory lies where the register "
        "windows must be reserved";
  return false;
#else
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
  Why = "the delivered image boots only in the normal build: the sanitizers' shadow memory lies where the register "
        "windows must be reserved";
  return false;
#endif
#endif
  // ARCH_GET_CPUID answers in its result: 1 while CPUID runs, 0 while it faults.
  const long Enabled = syscall(SYS_arch_prctl, ARCH_GET_CPUID, 0);
  if (Enabled < 0) {
    Why = std::string("this host has no CPUID faulting (ARCH_GET_CPUID: ") + std::strerror(errno) + ")";
    return false;
  }
  // Setting the state it already has tells whether the processor and kernel offer CPUID faulting,
  // and leaves a thread that already traps (the BSP's, on a later boot) trapping.
  if (syscall(SYS_arch_prctl, ARCH_SET_CPUID, Enabled) != 0) {
    Why = std::string("this host has no CPUID faulting (ARCH_SET_CPUID: ") + std::strerror(errno) + ")";
    return false;
  }
  return true;
#endif
}

void TrapPrivilegedInstructionsOnThisThread() {
  if (tTrapping) return;
  InstallHandler();
  PrepareThreadForFaults();
  if (!SetCpuidFaulting(true)) {
    throw std::runtime_error(std::string("cannot turn CPUID faulting on: ") + std::strerror(errno));
  }
  if (!SetTscTrapping(true)) {
    throw std::runtime_error(std::string("cannot turn TSC trapping on: ") + std::strerror(errno));
  }
  tTrapping = true;
}

ImageTrapSession::ImageTrapSession(uint64_t CodeBegin, uint64_t CodeEnd, std::vector<AddressRange> Windows,
                                   std::function<void(const std::string &)> EndBoot,
                                   std::function<std::string(uint64_t)> FunctionAt)
    : CodeBegin_(CodeBegin),
      CodeEnd_(CodeEnd),
      Windows_(PageWindows(std::move(Windows))),
      EndBoot_(std::move(EndBoot)),
      FunctionAt_(std::move(FunctionAt)) {
  InstallHandler();
  for (size_t Index = 0; Index < Windows_.size(); Index++) {
    const AddressRange &Window = Windows_[Index];
    void *Placed = mmap(reinterpret_cast<void *>(Window.Base), Window.Size, PROT_NONE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_FIXED_NOREPLACE, -1, 0);
    if (Placed != reinterpret_cast<void *>(Window.Base)) {
      const int Error = errno;
      if (Placed != MAP_FAILED) munmap(Placed, Window.Size);
      for (size_t Done = 0; Done < Index; Done++) munmap(reinterpret_cast<void *>(Windows_[Done].Base), Windows_[Done].Size);
      throw std::runtime_error("cannot reserve the register window " + Hex(Window.Base) + "-" +
                               Hex(Window.Base + Window.Size - 1) + " for the image: " + std::strerror(Error));
    }
  }
  ImageTrapSession *Expected = nullptr;
  if (!gSession.compare_exchange_strong(Expected, this)) {
    for (const AddressRange &Window : Windows_) munmap(reinterpret_cast<void *>(Window.Base), Window.Size);
    throw std::logic_error("a second image boot started while another one runs");
  }
  gImageRan.store(true);
}

ImageTrapSession::~ImageTrapSession() {
  ImageTrapSession *Self = this;
  gSession.compare_exchange_strong(Self, nullptr);
  for (const AddressRange &Window : Windows_) munmap(reinterpret_cast<void *>(Window.Base), Window.Size);
}

bool ImageTrapSession::InWindow(uint64_t Address) const {
  for (const AddressRange &Window : Windows_) {
    if (Window.Contains(Address)) return true;
  }
  return false;
}

std::array<uint64_t, kTrapKindCount> ImageTrapSession::Counts() const {
  std::array<uint64_t, kTrapKindCount> Taken{};
  for (size_t Index = 0; Index < kTrapKindCount; Index++) Taken[Index] = Counts_[Index].load();
  return Taken;
}

void ImageTrapSession::Fail(const std::string &Problem) {
  const Processor *Running = CurrentProcessor();
  const std::string Where = Running != nullptr ? "processor " + std::to_string(Running->Index()) : "a host thread";
  // Said at once: whatever the report shows later, the cause is on standard error.
  const std::string Line = "ccxsim: simulator error in the delivered image on " + Where + ": " + Problem + "\n";
  static_cast<void>(write(STDERR_FILENO, Line.data(), Line.size()));
  if (Running != nullptr) EndBoot_(Problem + " (on " + Where + ")");
  RemoveRegisteredPathsNow();
  _exit(70);
}

}  // namespace sim
