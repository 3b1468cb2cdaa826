// A small table kept as one vector of (key, value) entries sorted by key: copying or freeing it
// is one block of memory, not one tree node an entry, which matters to the simulator's tables
// that every platform builds anew (MSR files, CPUID answers).
#ifndef SIM_CPU_SORTED_TABLE_H_
#define SIM_CPU_SORTED_TABLE_H_

#include <algorithm>
#include <utility>
#include <vector>

namespace sim {

template <typename Key, typename Value>
class SortedTable {
 public:
  using Entry = std::pair<Key, Value>;
  using Entries = std::vector<Entry>;

  SortedTable() = default;
  // Entries sorted by key, each key once (as a std::map's are).
  explicit SortedTable(Entries Sorted) : Entries_(std::move(Sorted)) {}

  const Value *Find(const Key &Wanted) const {
    const auto At = Place(Wanted);
    return At != Entries_.end() && At->first == Wanted ? &At->second : nullptr;
  }
  Value *Find(const Key &Wanted) { return const_cast<Value *>(static_cast<const SortedTable &>(*this).Find(Wanted)); }

  // The value of Wanted, entered as Initial if the table has none; tells whether it was entered.
  std::pair<Value *, bool> Emplace(const Key &Wanted, const Value &Initial) {
    const auto At = Entries_.begin() + (Place(Wanted) - Entries_.cbegin());
    if (At != Entries_.end() && At->first == Wanted) return {&At->second, false};
    return {&Entries_.insert(At, Entry{Wanted, Initial})->second, true};
  }

  void Put(const Key &Wanted, const Value &Given) {
    auto [Held, Entered] = Emplace(Wanted, Given);
    if (!Entered) *Held = Given;
  }

  auto begin() const { return Entries_.begin(); }
  auto end() const { return Entries_.end(); }

 private:
  auto Place(const Key &Wanted) const {
    return std::lower_bound(Entries_.cbegin(), Entries_.cend(), Wanted,
                            [](const Entry &Held, const Key &Sought) { return Held.first < Sought; });
  }

  Entries Entries_;
};

}  // namespace sim

#endif  // SIM_CPU_SORTED_TABLE_H_
