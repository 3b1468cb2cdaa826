// A limit of host time on work that cannot be interrupted from outside: when it passes before the
// work is done, the process ends with status 70 and the cause on standard error (the run's
// temporary folders removed), rather than waiting for ever. For reading what a boot left, which
// takes the machine's locks: one held by a processor parked in a fault of the image, or damaged by
// a stray store of it, would never be released.
#ifndef SIM_PLATFORM_HOST_TIME_LIMIT_H_
#define SIM_PLATFORM_HOST_TIME_LIMIT_H_

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

namespace sim {

class HostTimeLimit {
 public:
  // Work names what is limited in the message ("reading what boot 1 left").
  HostTimeLimit(std::chrono::seconds Limit, std::string Work);
  // The work is done: the limit no longer applies.
  ~HostTimeLimit();
  HostTimeLimit(const HostTimeLimit &) = delete;
  HostTimeLimit &operator=(const HostTimeLimit &) = delete;

 private:
  std::mutex Lock_;
  std::condition_variable Done_;
  bool Finished_ = false;
  std::thread Watcher_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_HOST_TIME_LIMIT_H_
