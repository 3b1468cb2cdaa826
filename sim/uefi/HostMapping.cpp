#include "sim/uefi/HostMapping.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <map>
#include <mutex>

namespace sim {
namespace {

constexpr uint64_t kHugePageSize = uint64_t(2) << 20;
// How much host memory given back may stay mapped for reuse.
constexpr uint64_t kKeptLimit = uint64_t(256) << 20;

// Host memory that the simulator gave back but kept mapped, while a process that boots many
// machines in a row asks for it: every boot builds a new platform that asks for the same simulated
// addresses again, and a new mapping costs a page fault for each page on first touch (with the
// kernel clearing each one), which was most of a small machine's boot. Kept ranges never overlap
// each other or a range in use.
struct KeptMappings {
  std::mutex Lock;
  bool Keep = false;
  std::map<uint64_t, uint64_t> Ranges;  // base -> length
  uint64_t Bytes = 0;
};

KeptMappings &Kept() {
  static KeptMappings Instance;
  return Instance;
}

void Unmap(uint64_t address, uint64_t length) { munmap(reinterpret_cast<void *>(address), length); }

// Takes [address, address + length) out of the kept ranges, which must hold all of it; what is
// left of the range that held it stays kept. Called with the lock held.
void TakeFromKept(KeptMappings &Mappings, std::map<uint64_t, uint64_t>::iterator Holder, uint64_t address,
                  uint64_t length) {
  const uint64_t Base = Holder->first;
  const uint64_t End = Base + Holder->second;
  Mappings.Ranges.erase(Holder);
  if (Base < address) Mappings.Ranges[Base] = address - Base;
  if (address + length < End) Mappings.Ranges[address + length] = End - (address + length);
  Mappings.Bytes -= length;
}

// Reuses kept memory when one kept range holds the whole request; otherwise gives back every kept
// piece the request overlaps, so that a fresh mapping can be placed there. Returns whether the
// request was served from kept memory.
bool ReuseKept(uint64_t address, uint64_t length) {
  KeptMappings &Mappings = Kept();
  std::lock_guard<std::mutex> Guard(Mappings.Lock);
  auto Next = Mappings.Ranges.upper_bound(address);
  if (Next != Mappings.Ranges.begin()) {
    auto Holder = std::prev(Next);
    if (Holder->first + Holder->second >= address + length) {
      TakeFromKept(Mappings, Holder, address, length);
      return true;
    }
    Next = Holder;
  }
  while (Next != Mappings.Ranges.end() && Next->first < address + length) {
    const uint64_t Base = std::max(Next->first, address);
    const uint64_t End = std::min(Next->first + Next->second, address + length);
    if (Base < End) {
      auto Holder = Next++;
      TakeFromKept(Mappings, Holder, Base, End - Base);
      Unmap(Base, End - Base);
      Next = Mappings.Ranges.upper_bound(Base);
    } else {
      ++Next;
    }
  }
  return false;
}

}  // namespace

void KeepHostPagesForReuse(bool Keep) {
  KeptMappings &Mappings = Kept();
  std::lock_guard<std::mutex> Guard(Mappings.Lock);
  Mappings.Keep = Keep;
  if (Keep) return;
  for (const auto &[Base, Length] : Mappings.Ranges) Unmap(Base, Length);
  Mappings.Ranges.clear();
  Mappings.Bytes = 0;
}

int MapHostPages(uint64_t address, uint64_t length) {
  if (ReuseKept(address, length)) {
    // Fresh anonymous memory reads zero; so does reused memory.
    std::memset(reinterpret_cast<void *>(address), 0, length);
    return 0;
  }
  void *wanted = reinterpret_cast<void *>(address);
  void *placed = mmap(wanted, length, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE | MAP_NORESERVE, -1, 0);
  if (placed == MAP_FAILED) {
    return errno;
  }
  if (placed != wanted) {
    // Kernels older than 4.17 take MAP_FIXED_NOREPLACE as a mere hint and place the memory
    // elsewhere; for identity mapping that is the same failure as a collision.
    munmap(placed, length);
    return EEXIST;
  }
  // Large allocations (the reverse-map table above all) are written end to end right away; 2 MB
  // pages take one fault where 4 KB pages take 512. The hint only changes how the host backs the
  // range, never what it holds.
  if (length >= kHugePageSize) {
    madvise(wanted, length, MADV_HUGEPAGE);
  }
  return 0;
}

void UnmapHostPages(uint64_t address, uint64_t length) {
  KeptMappings &Mappings = Kept();
  {
    std::lock_guard<std::mutex> Guard(Mappings.Lock);
    if (Mappings.Keep && Mappings.Bytes + length <= kKeptLimit) {
      Mappings.Bytes += length;
      // Joined with its neighbours, so that a later request spanning them finds one range.
      auto Range = Mappings.Ranges.emplace(address, length).first;
      auto After = std::next(Range);
      if (After != Mappings.Ranges.end() && Range->first + Range->second == After->first) {
        Range->second += After->second;
        Mappings.Ranges.erase(After);
      }
      if (Range != Mappings.Ranges.begin()) {
        auto Before = std::prev(Range);
        if (Before->first + Before->second == Range->first) {
          Before->second += Range->second;
          Mappings.Ranges.erase(Range);
        }
      }
      return;
    }
  }
  Unmap(address, length);
}

}  // namespace sim
