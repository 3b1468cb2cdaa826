#include "sim/cpu/WorkerPool.h"

#include <pthread.h>

#include <stdexcept>
#include <utility>

namespace sim {
namespace {

// How many idle pools may be kept: one machine's, with room for a few booted side by side.
constexpr size_t kKeptPoolLimit = 4;

struct KeptPools {
  std::mutex Lock;
  bool Keep = false;
  std::vector<std::unique_ptr<WorkerPool>> Idle;
};

// Never destroyed: pools kept at exit would otherwise be stopped after what their threads use.
KeptPools &Kept() {
  static KeptPools *Instance = [] {
    // A forked child has none of its parent's threads; it must not wait for them, nor stop them.
    // The lock is held across the fork so that the child's copy is never left locked.
    pthread_atfork([] { Kept().Lock.lock(); }, [] { Kept().Lock.unlock(); },
                   [] {
                     for (std::unique_ptr<WorkerPool> &Pool : Kept().Idle) static_cast<void>(Pool.release());
                     Kept().Idle.clear();
                     Kept().Lock.unlock();
                   });
    return new KeptPools;
  }();
  return *Instance;
}

}  // namespace

std::unique_ptr<WorkerPool> WorkerPool::Take(size_t Threads) {
  {
    KeptPools &Pools = Kept();
    std::lock_guard Guard(Pools.Lock);
    for (auto Each = Pools.Idle.begin(); Each != Pools.Idle.end(); ++Each) {
      if ((*Each)->Size() == Threads) {
        std::unique_ptr<WorkerPool> Found = std::move(*Each);
        Pools.Idle.erase(Each);
        return Found;
      }
    }
  }
  return std::make_unique<WorkerPool>(Threads);
}

void WorkerPool::GiveBack(std::unique_ptr<WorkerPool> Pool) {
  if (!Pool) return;
  {
    KeptPools &Pools = Kept();
    std::lock_guard Guard(Pools.Lock);
    if (Pools.Keep && Pools.Idle.size() < kKeptPoolLimit) {
      Pools.Idle.push_back(std::move(Pool));
      return;
    }
  }
  Pool.reset();
}

void WorkerPool::KeepForReuse(bool Keep) {
  std::vector<std::unique_ptr<WorkerPool>> Stopping;
  {
    KeptPools &Pools = Kept();
    std::lock_guard Guard(Pools.Lock);
    Pools.Keep = Keep;
    if (!Keep) Stopping.swap(Pools.Idle);
  }
  // Stopped outside the lock: joining threads takes a while.
  Stopping.clear();
}

WorkerPool::WorkerPool(size_t Threads) {
  if (Threads == 0) {
    throw std::invalid_argument("a worker pool needs at least one thread");
  }
  Threads_.reserve(Threads);
  for (size_t Index = 0; Index < Threads; ++Index) {
    Threads_.emplace_back([this] { Work(); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard Guard(Lock_);
    Stopping_ = true;
  }
  WorkReady_.notify_all();
  for (std::thread &Each : Threads_) {
    Each.join();
  }
}

void WorkerPool::Run(std::vector<Job> Jobs) {
  if (Jobs.empty()) {
    return;
  }
  Batch Work;
  Work.Jobs = std::move(Jobs);
  Work.Unfinished = Work.Jobs.size();
  std::unique_lock Guard(Lock_);
  for (size_t Index = 0; Index < Work.Jobs.size(); ++Index) {
    Queue_.push_back(Task{&Work, Index});
  }
  WorkReady_.notify_all();
  BatchDone_.wait(Guard, [&] { return Work.Unfinished == 0; });
  if (Work.Failure) {
    std::rethrow_exception(Work.Failure);
  }
}

void WorkerPool::Work() {
  std::unique_lock Guard(Lock_);
  for (;;) {
    WorkReady_.wait(Guard, [&] { return Stopping_ || !Queue_.empty(); });
    if (Queue_.empty()) {
      return;
    }
    const Task Next = Queue_.front();
    Queue_.pop_front();
    Guard.unlock();
    std::exception_ptr Failure;
    try {
      Next.Owner->Jobs[Next.Index]();
    } catch (...) {
      Failure = std::current_exception();
    }
    Guard.lock();
    if (Failure && !Next.Owner->Failure) {
      Next.Owner->Failure = Failure;
    }
    if (--Next.Owner->Unfinished == 0) {
      BatchDone_.notify_all();
    }
  }
}

}  // namespace sim
