// Opaque handle values for protocol handles, events and notify registrations.
#ifndef SIM_UEFI_TOKEN_ARENA_H_
#define SIM_UEFI_TOKEN_ARENA_H_

#include <cstdint>
#include <deque>

namespace sim {

// Hands out distinct non-null addresses that are never reused while the arena lives. A handle
// that was closed or uninstalled therefore never comes back as someone else's handle, so a driver
// that keeps using it gets EFI_INVALID_PARAMETER instead of silently reaching a new object.
class TokenArena {
 public:
  void *Next();

 private:
  std::deque<uint64_t> slots_;
};

}  // namespace sim

#endif  // SIM_UEFI_TOKEN_ARENA_H_
