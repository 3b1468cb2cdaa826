#include "sim/devices/HcuContender.h"

#include <algorithm>
#include <mutex>

#include "sim/devices/HcuCoprocessor.h"

namespace sim {

HcuContender::HcuContender(HcuCoprocessor &Device, uint32_t HoldPolls)
    : Device_(Device), HoldPolls_(std::max<uint32_t>(HoldPolls, 1)) {
  Thread_ = std::thread([this] { Run(); });
  std::unique_lock<std::mutex> Guard(Device_.Lock());
  Device_.Activity_.wait(Guard, [this] { return FirstHold_ || Stop_; });
}

HcuContender::~HcuContender() {
  {
    std::lock_guard<std::mutex> Guard(Device_.Lock());
    Stop_ = true;
  }
  Device_.Activity_.notify_all();
  Thread_.join();
}

void HcuContender::Run() {
  HcuMutexPeer &Peer = Device_.LockPeer_;
  std::unique_lock<std::mutex> Guard(Device_.Lock());
  while (!Stop_) {
    // The coprocessor's acquisition: raise its flag, hand the turn to the x86 side, and wait
    // (asleep until the x86 side touches the block) while the x86 side wants the lock and has
    // the turn.
    Peer.ThreadRequest();
    Device_.Activity_.wait(Guard, [&] { return Stop_ || Peer.ThreadMayEnter(); });
    if (Stop_) {
      break;
    }
    Peer.ThreadEnter();
    if (!FirstHold_) {
      FirstHold_ = true;
      Device_.Activity_.notify_all();
    }
    Device_.Activity_.wait(Guard, [&] { return Stop_ || Peer.ThreadPollsSeen() >= HoldPolls_; });
    Peer.ThreadLeave();
  }
  Peer.ThreadLeave();
}

}  // namespace sim
