#include "sim/platform/BootControl.h"

#include <pthread.h>

#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

namespace sim {
namespace {

// A host thread that runs one boot after another: started for a boot, and kept for the next one
// when the boot returned and keeping is on. A thread parked inside the driver never comes back.
class BspThread {
 public:
  BspThread() : Thread_([this] { Serve(); }) {}
  ~BspThread() {
    {
      std::lock_guard<std::mutex> Guard(Lock_);
      Stopping_ = true;
    }
    Changed_.notify_all();
    Thread_.join();
  }
  BspThread(const BspThread &) = delete;
  BspThread &operator=(const BspThread &) = delete;

  void Start(std::function<void()> Work) {
    {
      std::lock_guard<std::mutex> Guard(Lock_);
      Work_ = std::move(Work);
    }
    Changed_.notify_all();
  }

  // Waits until the work handed to Start has returned.
  void WaitIdle() {
    std::unique_lock<std::mutex> Guard(Lock_);
    Changed_.wait(Guard, [this] { return !Work_; });
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> Guard(Lock_);
    for (;;) {
      Changed_.wait(Guard, [this] { return Stopping_ || Work_; });
      if (!Work_) return;
      std::function<void()> Work = Work_;
      Guard.unlock();
      Work();
      Guard.lock();
      Work_ = nullptr;
      Changed_.notify_all();
    }
  }

  std::mutex Lock_;
  std::condition_variable Changed_;
  std::function<void()> Work_;
  bool Stopping_ = false;
  std::thread Thread_;
};

struct KeptBspThreads {
  std::mutex Lock;
  bool Keep = false;
  std::vector<std::unique_ptr<BspThread>> Idle;
};

// How many idle threads may be kept: enough for a few machines booted side by side.
constexpr size_t kKeptThreadLimit = 4;

// Never destroyed, like the worker pools' list: kept threads are not stopped at exit.
KeptBspThreads &Kept() {
  static KeptBspThreads *Instance = [] {
    // A forked child has none of its parent's threads. The lock is held across the fork so that
    // the child's copy is never left locked.
    pthread_atfork([] { Kept().Lock.lock(); }, [] { Kept().Lock.unlock(); },
                   [] {
                     for (std::unique_ptr<BspThread> &Thread : Kept().Idle) static_cast<void>(Thread.release());
                     Kept().Idle.clear();
                     Kept().Lock.unlock();
                   });
    return new KeptBspThreads;
  }();
  return *Instance;
}

std::unique_ptr<BspThread> TakeBspThread() {
  {
    KeptBspThreads &Threads = Kept();
    std::lock_guard<std::mutex> Guard(Threads.Lock);
    if (!Threads.Idle.empty()) {
      std::unique_ptr<BspThread> Found = std::move(Threads.Idle.back());
      Threads.Idle.pop_back();
      return Found;
    }
  }
  return std::make_unique<BspThread>();
}

void GiveBackBspThread(std::unique_ptr<BspThread> Thread) {
  {
    KeptBspThreads &Threads = Kept();
    std::lock_guard<std::mutex> Guard(Threads.Lock);
    if (Threads.Keep && Threads.Idle.size() < kKeptThreadLimit) {
      Threads.Idle.push_back(std::move(Thread));
      return;
    }
  }
  Thread.reset();
}

}  // namespace

void BootControl::KeepBspThreadsForReuse(bool Keep) {
  std::vector<std::unique_ptr<BspThread>> Stopping;
  {
    KeptBspThreads &Threads = Kept();
    std::lock_guard<std::mutex> Guard(Threads.Lock);
    Threads.Keep = Keep;
    if (!Keep) Stopping.swap(Threads.Idle);
  }
}

BootEnd BootControl::Run(const std::function<void()> &Boot) {
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    End_.reset();
  }
  std::unique_ptr<BspThread> Bsp = TakeBspThread();
  Bsp->Start([this, &Boot] {
    try {
      Boot();
      Finish({BootEnd::Returned, 0, ""});
    } catch (const std::exception &Error) {
      Finish({BootEnd::SimulatorError, 0, Error.what()});
    }
  });
  std::unique_lock<std::mutex> Guard(Lock_);
  Done_.wait(Guard, [this] { return End_.has_value(); });
  const BootEnd End = *End_;
  Guard.unlock();
  if (End.How == BootEnd::Returned || End.How == BootEnd::SimulatorError) {
    Bsp->WaitIdle();
    GiveBackBspThread(std::move(Bsp));
  } else {
    // The thread is parked inside the driver for good, inside its record's serving loop: the
    // record must stay as long as the thread does.
    static_cast<void>(Bsp.release());
  }
  return End;
}

void BootControl::EndFromInside(const BootEnd &End) {
  Finish(End);
  // A processor that never comes back: block this thread forever.
  std::mutex Never;
  std::condition_variable Forever;
  std::unique_lock<std::mutex> Guard(Never);
  for (;;) Forever.wait(Guard);
}

void BootControl::Finish(const BootEnd &End) {
  std::lock_guard<std::mutex> Guard(Lock_);
  if (!End_) End_ = End;
  Done_.notify_all();
}

}  // namespace sim
