// How a boot ends. The driver runs on a host thread of its own (the BSP thread); a reset or a
// halting fatal stop ends the boot from inside the driver's call chain, where nothing may unwind
// through firmware frames. That thread is then parked for good, exactly as a processor that never
// comes back, and the controller learns how the boot ended.
#ifndef SIM_PLATFORM_BOOT_CONTROL_H_
#define SIM_PLATFORM_BOOT_CONTROL_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace sim {

struct BootEnd {
  enum Kind { Returned, Reset, FatalHalt, SimulatorError } How = Returned;
  // The reset type, or the fatal-stop code.
  uint64_t Code = 0;
  std::string Detail;
};

class BootControl {
 public:
  // Runs Boot on a BSP thread of its own and waits until it returns or the boot ends from inside,
  // or, with a limit, until that much host time has passed: the boot then ends as a simulator
  // error and is abandoned.
  BootEnd Run(const std::function<void()> &Boot,
              std::optional<std::chrono::seconds> Limit = std::nullopt);

  // True once a boot ended in a way that leaves threads of the machine that cannot be stopped or
  // joined: it ended from inside a thread other than the BSP's (an AP worker parked for good, the
  // BSP waiting for it), or it ran past its time limit (its threads may still run). The machine's
  // platform must then outlive the process, and the process end without joining anything.
  bool Abandoned() const { return Abandoned_; }

  // Turns on, for processes that boot machine after machine, keeping the BSP thread of a boot
  // that returned for the next boot instead of starting a thread per boot; off (the default)
  // stops the kept threads. A child made by fork finds nothing kept.
  static void KeepBspThreadsForReuse(bool Keep);

  // Ends the boot from the BSP thread's call chain; never returns (the thread is parked).
  [[noreturn]] void EndFromInside(const BootEnd &End);

 private:
  void Finish(const BootEnd &End);

  std::mutex Lock_;
  std::condition_variable Done_;
  std::optional<BootEnd> End_;
  std::thread::id BspThread_;
  bool EndedInside_ = false;
  bool EndedOffBsp_ = false;
  bool Abandoned_ = false;
};

}  // namespace sim

#endif  // SIM_PLATFORM_BOOT_CONTROL_H_
