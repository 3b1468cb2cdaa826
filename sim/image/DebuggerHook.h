// Where a debugger learns that the delivered image has been placed or removed. The record and the
// two hook functions have C names so that gdb finds them in any build of ccxsim, with or without
// its own debug information: tools/gdb-image-session.py breaks on the hooks, reads the record and
// loads the image's symbols at the placed address (and drops them when the boot ends). Without a
// debugger the hooks are empty calls.
#ifndef SIM_IMAGE_DEBUGGER_HOOK_H_
#define SIM_IMAGE_DEBUGGER_HOOK_H_

#include <cstdint>
#include <string>

#include "sim/image/PeDebugFile.h"

extern "C" {

// Eight-byte fields in this order: tools/gdb-image-session.py reads them as they lie in memory.
struct CcxsimImageRecord {
  uint64_t Base;            // where the image is placed
  uint64_t LinkedBase;      // the ImageBase the symbol file's addresses are linked for
  uint64_t CodeAddress;     // an address in the placed image's first section
  const char *SymbolFile;   // the file to read the symbols from
  const char *Note;         // why that file has no source lines, or ""
  const char *ImageName;    // the image's file name
};

extern CcxsimImageRecord CcxsimDebuggerImage;

// Called once the record describes a placed image, relocated and ready to run.
void CcxsimImageLoaded();
// Called when the record's image is about to be removed.
void CcxsimImageUnloaded();
}

namespace sim {

// Publishes the image placed at Base, whose first section starts at CodeAddress, and calls
// CcxsimImageLoaded. Symbols and ImageName must outlive the matching WithdrawImageFromDebugger.
void AnnounceImageToDebugger(const PeSymbolFile &Symbols, const std::string &ImageName, uint64_t Base,
                             uint64_t CodeAddress);
// Calls CcxsimImageUnloaded for the image announced last and clears the record.
void WithdrawImageFromDebugger();

}  // namespace sim

#endif  // SIM_IMAGE_DEBUGGER_HOOK_H_
