#include "sim/uefi/TokenArena.h"

namespace sim {

void *TokenArena::Next() {
  // A deque never moves its elements on push_back, so every address stays distinct and valid.
  slots_.push_back(slots_.size());
  return &slots_.back();
}

}  // namespace sim
