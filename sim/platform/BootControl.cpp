#include "sim/platform/BootControl.h"

#include <exception>
#include <thread>

namespace sim {

BootEnd BootControl::Run(const std::function<void()> &Boot) {
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    End_.reset();
  }
  std::thread Bsp([this, &Boot] {
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
    Bsp.join();
  } else {
    // The thread is parked inside the driver for good.
    Bsp.detach();
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
