#include "sim/image/TrapHandler.h"

#include <asm/prctl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <stdexcept>

#include "sim/cpu/CurrentProcessor.h"
#include "sim/HexText.h"

namespace sim {
namespace {

constexpr uint64_t kPage = 4096;

std::atomic<ImageTrapSession *> gSession{nullptr};
struct sigaction gPrevious;
std::once_flag gInstalled;
thread_local bool tTrapping = false;

bool SetCpuidFaulting(bool On) { return syscall(SYS_arch_prctl, ARCH_SET_CPUID, On ? 0 : 1) == 0; }
bool SetTscTrapping(bool On) { return prctl(PR_SET_TSC, On ? PR_TSC_SIGSEGV : PR_TSC_ENABLE, 0, 0, 0) == 0; }

// RDTSC, RDTSCP or CPUID of the host's own code (the vDSO's clocks read the time-stamp counter):
// executed for real with this thread's trapping briefly off. Returns false for anything else.
bool RunHostInstruction(ucontext_t &Context) {
  greg_t *Gregs = Context.uc_mcontext.gregs;
  const auto *Code = reinterpret_cast<const uint8_t *>(Gregs[REG_RIP]);
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
  if ((gPrevious.sa_flags & SA_SIGINFO) != 0 && gPrevious.sa_sigaction != nullptr) {
    gPrevious.sa_sigaction(Signal, Info, Context);
    return;
  }
  if (gPrevious.sa_handler != SIG_DFL && gPrevious.sa_handler != SIG_IGN) {
    gPrevious.sa_handler(Signal);
    return;
  }
  signal(Signal, SIG_DFL);
}

void OnFault(int Signal, siginfo_t *Info, void *Raw) {
  const int SavedErrno = errno;
  ucontext_t &Context = *static_cast<ucontext_t *>(Raw);
  const uint64_t Rip = static_cast<uint64_t>(Context.uc_mcontext.gregs[REG_RIP]);
  // A general-protection fault (privileged instruction, CPUID faulting, TSC trapping) comes as
  // SI_KERNEL; a page fault names the address.
  const bool PageFault = Info->si_code == SEGV_MAPERR || Info->si_code == SEGV_ACCERR;
  const uint64_t Address = reinterpret_cast<uint64_t>(Info->si_addr);
  ImageTrapSession *Session = gSession.load(std::memory_order_acquire);
  if (Session != nullptr && Session->InCode(Rip)) {
    // The image holds no lock of the host's and is not inside the C library, so the models may
    // be called from here as from the host build's hooks.
    if (PageFault && !Session->InWindow(Address)) {
      Session->Fail("image code at " + Hex(Rip) + " (" + InstructionBytes(Rip) + ") touched " + Hex(Address) +
                    ", which is neither simulated DRAM nor a register window");
    }
    TrapOutcome Outcome;
    try {
      Outcome = EmulateInstruction(Context, PageFault, Address);
    } catch (const std::exception &Error) {
      Session->Fail(std::string(Error.what()) + " (emulating " + InstructionBytes(Rip) + " at " + Hex(Rip) + ")");
    }
    if (Outcome.How != TrapOutcome::Emulated) {
      Session->Fail(Outcome.Problem + ", at " + Hex(Rip) + ": " + InstructionBytes(Rip));
    }
    Session->Count(Outcome.Kind);
    errno = SavedErrno;
    return;
  }
  if (!PageFault && tTrapping && RunHostInstruction(Context)) {
    errno = SavedErrno;
    return;
  }
  Chain(Signal, Info, Raw);
}

void InstallHandler() {
  std::call_once(gInstalled, [] {
    struct sigaction Action;
    std::memset(&Action, 0, sizeof(Action));
    Action.sa_sigaction = OnFault;
    Action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&Action.sa_mask);
    if (sigaction(SIGSEGV, &Action, &gPrevious) != 0) {
      throw std::runtime_error(std::string("cannot install the image's trap handler: ") + std::strerror(errno));
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
  if (!SetCpuidFaulting(true)) {
    throw std::runtime_error(std::string("cannot turn CPUID faulting on: ") + std::strerror(errno));
  }
  if (!SetTscTrapping(true)) {
    throw std::runtime_error(std::string("cannot turn TSC trapping on: ") + std::strerror(errno));
  }
  tTrapping = true;
}

ImageTrapSession::ImageTrapSession(uint64_t CodeBegin, uint64_t CodeEnd, std::vector<AddressRange> Windows,
                                   std::function<void(const std::string &)> EndBoot)
    : CodeBegin_(CodeBegin),
      CodeEnd_(CodeEnd),
      Windows_(PageWindows(std::move(Windows))),
      EndBoot_(std::move(EndBoot)) {
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
  if (Running != nullptr && Running->IsBsp()) EndBoot_(Problem);
  std::fprintf(stderr, "ccxsim: simulator error in the delivered image on processor %zu: %s\n",
               Running != nullptr ? Running->Index() : size_t{0}, Problem.c_str());
  std::fflush(stderr);
  _exit(70);
}

}  // namespace sim
