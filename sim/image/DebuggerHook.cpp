#include "sim/image/DebuggerHook.h"

extern "C" {

CcxsimImageRecord CcxsimDebuggerImage = {0, 0, 0, "", "", ""};

// Each hook must stay a function of its own that every announcement calls: not inlined, and not
// folded into its twin with the same empty body (GCC's noipa covers both). The empty asm with a
// memory clobber keeps the record's stores before the call: the compiler must assume the hook
// reads the record, as the debugger does.
#if defined(__clang__)
#define CCXSIM_DEBUGGER_HOOK __attribute__((noinline, used))
#else
#define CCXSIM_DEBUGGER_HOOK __attribute__((noipa, used))
#endif
CCXSIM_DEBUGGER_HOOK void CcxsimImageLoaded() { __asm__ __volatile__("" ::: "memory"); }
CCXSIM_DEBUGGER_HOOK void CcxsimImageUnloaded() { __asm__ __volatile__("" ::: "memory"); }
}

namespace sim {

void AnnounceImageToDebugger(const PeSymbolFile &Symbols, const std::string &ImageName, uint64_t Base,
                             uint64_t CodeAddress) {
  CcxsimDebuggerImage = {Base, Symbols.LinkedBase, CodeAddress, Symbols.File.c_str(), Symbols.Note.c_str(),
                         ImageName.c_str()};
  CcxsimImageLoaded();
}

void WithdrawImageFromDebugger() {
  if (CcxsimDebuggerImage.Base == 0) return;
  CcxsimImageUnloaded();
  CcxsimDebuggerImage = {0, 0, 0, "", "", ""};
}

}  // namespace sim
