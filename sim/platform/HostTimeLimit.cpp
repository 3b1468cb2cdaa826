#include "sim/platform/HostTimeLimit.h"

#include <unistd.h>

#include "sim/files/TemporaryPaths.h"

namespace sim {

HostTimeLimit::HostTimeLimit(std::chrono::seconds Limit, std::string Work) {
  Watcher_ = std::thread([this, Limit, Work = std::move(Work)] {
    std::unique_lock<std::mutex> Guard(Lock_);
    if (Done_.wait_for(Guard, Limit, [this] { return Finished_; })) return;
    const std::string Line = "ccxsim: simulator error: " + Work + " did not end within " +
                             std::to_string(Limit.count()) +
                             " s of host time (a lock held by a processor that faulted, or memory the delivered "
                             "image overwrote); the run ends without a report\n";
    static_cast<void>(write(STDERR_FILENO, Line.data(), Line.size()));
    RemoveRegisteredPathsNow();
    _exit(70);
  });
}

HostTimeLimit::~HostTimeLimit() {
  {
    std::lock_guard<std::mutex> Guard(Lock_);
    Finished_ = true;
  }
  Done_.notify_all();
  Watcher_.join();
}

}  // namespace sim
