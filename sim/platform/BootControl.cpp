#include "sim/platform/BootControl.h"

#include <exception>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "sim/cpu/KeptForReuse.h"

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

  std::thread::id Id() const { return Thread_.get_id(); }

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

std::unique_ptr<BspThread> TakeBspThread() {
  std::unique_ptr<BspThread> Kept = KeptForReuse<BspThread>::List().Take([](const BspThread &) { return true; });
  return Kept ? std::move(Kept) : std::make_unique<BspThread>();
}

}  // namespace

void BootControl::KeepBspThreadsForReuse(bool Keep) { KeptForReuse<BspThread>::List().Keep(Keep); }

BootEnd BootControl::Run(const std::function<void()> &Boot, std::optional<std::chrono::seconds> Limit) {
  std::unique_ptr<BspThread> Bsp = TakeBspThread();
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    End_.reset();
    BspThread_ = Bsp->Id();
    EndedInside_ = false;
    EndedOffBsp_ = false;
    Abandoned_ = false;
  }
  // A copy: an abandoned boot's thread may still run it after the caller's is gone.
  Bsp->Start([this, Boot] {
    try {
      Boot();
      Finish({BootEnd::Returned, 0, ""});
    } catch (const std::exception &Error) {
      Finish({BootEnd::SimulatorError, 0, Error.what()});
    }
  });
  std::unique_lock<std::mutex> Guard(Lock_);
  if (Limit) {
    if (!Done_.wait_for(Guard, *Limit, [this] { return End_.has_value(); })) {
      // Code that never returns (a loop the image cannot leave) cannot be stopped from outside;
      // its threads are left running and the boot is given up.
      End_ = BootEnd{BootEnd::SimulatorError, 0,
                     "the boot did not end within " + std::to_string(Limit->count()) +
                         " s of host time (a loop that never ends, or a processor waiting for ever)"};
      Abandoned_ = true;
    }
  } else {
    Done_.wait(Guard, [this] { return End_.has_value(); });
  }
  const BootEnd End = *End_;
  Abandoned_ = Abandoned_ || EndedOffBsp_;
  const bool Parked = EndedInside_;
  Guard.unlock();
  if (!Parked && !Abandoned_) {
    Bsp->WaitIdle();
    KeptForReuse<BspThread>::List().GiveBack(std::move(Bsp));
  } else {
    // The thread is parked inside the driver for good, inside its record's serving loop: the
    // record must stay as long as the thread does.
    static_cast<void>(Bsp.release());
  }
  return End;
}

void BootControl::EndFromInside(const BootEnd &End) {
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    if (!End_) {
      End_ = End;
      EndedInside_ = true;
      EndedOffBsp_ = std::this_thread::get_id() != BspThread_;
    }
    Done_.notify_all();
  }
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
