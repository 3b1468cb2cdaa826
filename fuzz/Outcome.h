// What one execution of a fuzz target observed, folded into a digest. The targets keep host
// threads and memory from one input to the next; a replay that runs a corpus in different orders
// and compares each input's digest tells whether an execution depends on what ran before it.
#ifndef FUZZ_OUTCOME_H_
#define FUZZ_OUTCOME_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/platform/BootRunner.h"
#include "sim/platform/Platform.h"

namespace fuzz {

// Adds to the digest of the running execution. The targets call these on one thread at a time
// (the BSP thread while the fuzzer's thread waits for it, or the fuzzer's thread).
void Observe(uint64_t Value);
void ObserveBytes(const void *Bytes, size_t Size);
void ObserveText(const std::string &Text);

// What the platform shows after a run: how it ended, the memory map, the protocols installed (by
// GUID), every processor's MSR writes, the POST codes and the configuration-item writes.
void ObservePlatform(sim::Platform &Platform, const sim::BootEnd &End);

// What a whole boot's record shows, with the same parts as ObservePlatform and the boot's steps.
void ObserveBoot(const sim::BootRecord &Boot);

// The digest of everything observed since the previous call; the next execution starts afresh.
uint64_t TakeOutcome();

}  // namespace fuzz

#endif  // FUZZ_OUTCOME_H_
