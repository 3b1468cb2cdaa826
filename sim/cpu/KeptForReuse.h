// Idle host objects (worker pools, BSP threads) that a process booting machine after machine keeps
// for the next machine instead of making them again. Keeping is off by default; off, an object
// given back is destroyed at once. One list per type, for the whole process, never destroyed: the
// objects kept at exit are left as they are. A child made by fork finds its list empty, since the
// threads those objects own were not copied into it.
#ifndef SIM_CPU_KEPT_FOR_REUSE_H_
#define SIM_CPU_KEPT_FOR_REUSE_H_

#include <pthread.h>

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

namespace sim {

template <typename Object>
class KeptForReuse {
 public:
  // The process's list for Object.
  static KeptForReuse &List() {
    static KeptForReuse *Instance = [] {
      auto *Made = new KeptForReuse;
      // The lock is held across a fork so that the child's copy is never left locked.
      pthread_atfork([] { List().Lock_.lock(); }, [] { List().Lock_.unlock(); },
                     [] {
                       for (std::unique_ptr<Object> &Each : List().Idle_) static_cast<void>(Each.release());
                       List().Idle_.clear();
                       List().Lock_.unlock();
                     });
      return Made;
    }();
    return *Instance;
  }

  // A kept object for which Fits holds, taken off the list; null when there is none.
  template <typename Predicate>
  std::unique_ptr<Object> Take(Predicate Fits) {
    std::lock_guard<std::mutex> Guard(Lock_);
    for (auto Each = Idle_.begin(); Each != Idle_.end(); ++Each) {
      if (Fits(**Each)) {
        std::unique_ptr<Object> Found = std::move(*Each);
        Idle_.erase(Each);
        return Found;
      }
    }
    return nullptr;
  }

  // Keeps an object no longer used while keeping is on and the list has room; else destroys it.
  void GiveBack(std::unique_ptr<Object> Idle) {
    {
      std::lock_guard<std::mutex> Guard(Lock_);
      if (Keep_ && Idle_.size() < kLimit) {
        Idle_.push_back(std::move(Idle));
        return;
      }
    }
    Idle.reset();
  }

  // Off destroys every kept object (outside the lock: stopping threads takes a while).
  void Keep(bool On) {
    std::vector<std::unique_ptr<Object>> Stopping;
    {
      std::lock_guard<std::mutex> Guard(Lock_);
      Keep_ = On;
      if (!On) Stopping.swap(Idle_);
    }
  }

 private:
  // Enough for one machine's, with room for a few machines booted side by side.
  static constexpr size_t kLimit = 4;

  KeptForReuse() = default;

  std::mutex Lock_;
  bool Keep_ = false;
  std::vector<std::unique_ptr<Object>> Idle_;
};

}  // namespace sim

#endif  // SIM_CPU_KEPT_FOR_REUSE_H_
