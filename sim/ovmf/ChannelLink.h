// ccxsim's end of the channel to the platform package: the listening socket QEMU connects its
// channel UART to, the console QEMU writes OVMF's output to, and the guest RAM holding the
// mailbox. It waits for requests and sends answers; what a request means is its caller's business.
#ifndef SIM_OVMF_CHANNEL_LINK_H_
#define SIM_OVMF_CHANNEL_LINK_H_

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "firmware/ovmf/ChannelFormat.h"
#include "sim/ovmf/GuestMemory.h"
#include "sim/ovmf/QemuProcess.h"

namespace sim {

// How a run with QEMU went wrong: never answered, QEMU gone, a malformed message.
class ChannelError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class ChannelLink {
 public:
  // Listens at Socket (QEMU connects when it starts).
  explicit ChannelLink(const std::filesystem::path &Socket);
  ~ChannelLink();
  ChannelLink(const ChannelLink &) = delete;
  ChannelLink &operator=(const ChannelLink &) = delete;

  // What Answer wants done once it has filled in the mailbox.
  enum class Next {
    Continue,  // send the answer, serve the next request
    Finish,    // send the answer and return
    Hold,      // return without answering: the caller answers later (SendAnswered)
  };
  using Answerer = std::function<Next(ccx_channel::Mailbox &)>;

  // Serves requests until Answer says to return, or Deadline passes. Answer gets the mailbox
  // holding a request and fills in the answer; it may serve in turn (a call into the guest).
  // Throws ChannelError when the firmware's process exits first, the deadline passes, or the
  // guest breaks the format.
  void Serve(FirmwareProcess &Qemu, const GuestMemory &Memory, std::chrono::steady_clock::time_point Deadline,
             const Answerer &Answer);

  // Tells the guest the mailbox holds its answer.
  void SendAnswered();

  // Everything OVMF wrote to its console so far.
  const std::string &Console() const { return Console_; }

 private:
  void ReadConsole(FirmwareProcess &Qemu);
  bool ReadChannel(const GuestMemory &Memory, const Answerer &Answer);

  int Listener_ = -1;
  int Channel_ = -1;
  std::string Console_;
  bool KeyTyped_ = false;
  std::string Pending_;  // channel bytes received and not yet taken
  uint64_t MailboxAddress_ = 0;
  bool HaveMailbox_ = false;
};

}  // namespace sim

#endif  // SIM_OVMF_CHANNEL_LINK_H_
