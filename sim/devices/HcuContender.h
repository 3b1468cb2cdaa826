// The coprocessor's firmware as it really contends for the two-party mutex: a thread of its own
// that plays the coprocessor's side of the Peterson lock against whatever the x86 side does on the
// bus, concurrently with it. Once inside it stays until the x86 side has polled a number of times
// waiting for it, then leaves and asks again at once, so every x86 acquisition that finds it
// inside has to wait, and the device's monitor counts every moment both sides were inside.
#ifndef SIM_DEVICES_HCU_CONTENDER_H_
#define SIM_DEVICES_HCU_CONTENDER_H_

#include <cstdint>
#include <thread>

namespace sim {

class HcuCoprocessor;

class HcuContender {
 public:
  // Starts the thread and returns once it holds the lock for the first time, so that the x86
  // side's first acquisition always meets a coprocessor inside.
  HcuContender(HcuCoprocessor &Device, uint32_t HoldPolls);
  // Leaves the lock (or stops waiting for it) and ends the thread.
  ~HcuContender();
  HcuContender(const HcuContender &) = delete;
  HcuContender &operator=(const HcuContender &) = delete;

 private:
  void Run();

  HcuCoprocessor &Device_;
  const uint32_t HoldPolls_;
  // Both under the device's lock.
  bool Stop_ = false;
  bool FirstHold_ = false;
  std::thread Thread_;
};

}  // namespace sim

#endif  // SIM_DEVICES_HCU_CONTENDER_H_
