// The platform's part around the configuration tokens and the S3 save table: the communication
// buffer it provides for the hand-off, the SMM side's view of memory, the drivers that add S3
// entries before ready-to-boot, and what a boot leaves of all of it for the report.
#ifndef SIM_PLATFORM_S3_TOKENS_PLATFORM_H_
#define SIM_PLATFORM_S3_TOKENS_PLATFORM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sim/platform/HeapSnapshot.h"
#include "sim/platform/Platform.h"
#include "sim/siblings/S3SmmSide.h"
#include "sim/siblings/SmuService.h"
#include "sim/siblings/TokenStoreOwner.h"

namespace sim {

// Allocates the SMM communication buffer and publishes its address (unless the machine says the
// platform doesn't), and lets the SMM side read simulated memory.
void PrepareS3Platform(Platform &Machine);

// Plays the other drivers of the boot that add the machine's entries to the S3 save table through
// the shared record, each at the table's next offset and only where it fits. Returns what they
// could not do, for the simulator's notes.
std::vector<std::string> AddOtherDriversS3Entries(Platform &Machine);

// Processors that show the same P-state 0 definition.
struct Pstate0Group {
  uint64_t Value = 0;
  std::vector<size_t> Processors;
};

struct S3TokensRecord {
  TokenStoreView TokensBefore;  // as the owner handed the store over
  TokenStoreView TokensAfter;   // as the heap buffer holds it after the boot
  // How the store after the boot differs from what the option hook must have left in it, one
  // sentence each.
  std::vector<std::string> TokenErrors;
  std::vector<SmuCall> SmuMessages;
  std::vector<Pstate0Group> Pstate0;
  uint64_t S3RecordAddress = 0;  // the shared record's and the table's addresses as published
  uint64_t S3TableAddress = 0;
  // The record's flags once the boot was over (unread: the record can't be read).
  bool S3RecordRead = false;
  uint8_t S3Locked = 0;
  uint8_t S3Closed = 0;
  std::vector<S3HandoffView> S3Handoffs;
};

S3TokensRecord TakeS3TokensSnapshot(Platform &Machine, const HeapSnapshot &Heap);
// The same, reading the token store and the S3 record through Read (memory the firmware core of the
// platform does not hold).
S3TokensRecord TakeS3TokensSnapshot(Platform &Machine, const HeapSnapshot &Heap, const MemoryReader &Read);

}  // namespace sim

#endif  // SIM_PLATFORM_S3_TOKENS_PLATFORM_H_
