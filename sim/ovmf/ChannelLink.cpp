#include "sim/ovmf/ChannelLink.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "sim/HexText.h"

namespace sim {
namespace {

using namespace ccx_channel;

// The shell waits five seconds before it runs startup.nsh unless a key other than ESC is pressed.
constexpr const char *kStartupPrompt = "to skip ";

// The last lines of the console, for an error message.
std::string Tail(const std::string &Text) {
  size_t Start = Text.size();
  for (int Lines = 0; Lines < 6 && Start > 0; Lines++) {
    const size_t Newline = Text.rfind('\n', Start - 1);
    if (Newline == std::string::npos) {
      Start = 0;
      break;
    }
    Start = Newline;
  }
  std::string Shown;
  for (char Character : Text.substr(Start)) {
    if (Character == '\n' || (Character >= 0x20 && Character < 0x7F)) Shown += Character;
  }
  return Shown;
}

}  // namespace

ChannelLink::ChannelLink(const std::filesystem::path &Socket) {
  sockaddr_un Address{};
  Address.sun_family = AF_UNIX;
  if (Socket.string().size() >= sizeof(Address.sun_path)) {
    throw std::runtime_error(Socket.string() + ": too long a path for the channel's socket");
  }
  std::strncpy(Address.sun_path, Socket.c_str(), sizeof(Address.sun_path) - 1);
  Listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (Listener_ < 0 || bind(Listener_, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)) != 0 ||
      listen(Listener_, 1) != 0) {
    const int Error = errno;
    if (Listener_ >= 0) close(Listener_);
    throw std::runtime_error(Socket.string() + ": cannot listen for the channel: " + std::strerror(Error));
  }
}

ChannelLink::~ChannelLink() {
  if (Channel_ >= 0) close(Channel_);
  close(Listener_);
}

void ChannelLink::ReadConsole(FirmwareProcess &Qemu) {
  char Buffer[4096];
  const ssize_t Got = read(Qemu.Console(), Buffer, sizeof(Buffer));
  if (Got <= 0) return;
  Console_.append(Buffer, static_cast<size_t>(Got));
  if (!KeyTyped_ && Console_.find(kStartupPrompt) != std::string::npos) {
    Qemu.Type(" ");
    KeyTyped_ = true;
  }
}

void ChannelLink::SendAnswered() {
  const char Byte = static_cast<char>(kAnswered);
  if (write(Channel_, &Byte, 1) != 1) throw ChannelError(std::string("the channel closed: ") + std::strerror(errno));
}

bool ChannelLink::ReadChannel(const GuestMemory &Memory, const Answerer &Answer) {
  char Buffer[256];
  const ssize_t Got = read(Channel_, Buffer, sizeof(Buffer));
  if (Got <= 0) throw ChannelError("QEMU closed the channel");
  Pending_.append(Buffer, static_cast<size_t>(Got));
  while (!Pending_.empty()) {
    const uint8_t First = static_cast<uint8_t>(Pending_[0]);
    if (First == kHelloByte) {
      if (Pending_.size() < 9) return true;
      MailboxAddress_ = 0;
      for (int Index = 0; Index < 8; Index++) MailboxAddress_ |= uint64_t(uint8_t(Pending_[1 + Index])) << (8 * Index);
      Memory.At(MailboxAddress_, kMailboxSize);  // refuses a mailbox outside the RAM
      HaveMailbox_ = true;
      Pending_.erase(0, 9);
      continue;
    }
    if (First != kDoorbell) throw ChannelError("the channel carried the byte " + Hex(First) + ", neither hello nor doorbell");
    if (!HaveMailbox_) throw ChannelError("a request came before the platform package said where its mailbox is");
    Pending_.erase(0, 1);
    Mailbox &Box = *reinterpret_cast<Mailbox *>(Memory.At(MailboxAddress_, kMailboxSize));
    if (Box.Header.Magic != kMagic || Box.Header.Version != kVersion) {
      throw ChannelError("the mailbox at " + Hex(MailboxAddress_) + " holds magic " + Hex(Box.Header.Magic) +
                         " version " + std::to_string(Box.Header.Version) + ", not this ccxsim's format");
    }
    if (Box.Header.DataSize > sizeof(Box.Data)) {
      throw ChannelError("the mailbox says it holds " + std::to_string(Box.Header.DataSize) + " bytes of data");
    }
    const Next What = Answer(Box);
    if (What != Next::Hold) SendAnswered();
    if (What != Next::Continue) return false;
  }
  return true;
}

void ChannelLink::Serve(FirmwareProcess &Qemu, const GuestMemory &Memory, std::chrono::steady_clock::time_point Deadline,
                        const Answerer &Answer) {
  for (;;) {
    const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now());
    if (Left.count() <= 0) {
      throw ChannelError("the firmware did not finish within the time limit; its console ended:\n" + Tail(Console_));
    }
    pollfd Watched[2] = {{Qemu.Console(), POLLIN, 0}, {Channel_ >= 0 ? Channel_ : Listener_, POLLIN, 0}};
    const int Ready = poll(Watched, 2, static_cast<int>(std::min<int64_t>(Left.count(), 200)));
    if (Ready < 0 && errno != EINTR) throw ChannelError(std::string("poll: ") + std::strerror(errno));
    if (Ready > 0 && (Watched[0].revents & (POLLIN | POLLHUP)) != 0) ReadConsole(Qemu);
    if (Ready > 0 && (Watched[1].revents & (POLLIN | POLLHUP)) != 0) {
      if (Channel_ < 0) {
        Channel_ = accept4(Listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (Channel_ < 0) throw ChannelError(std::string("accept: ") + std::strerror(errno));
      } else if (!ReadChannel(Memory, Answer)) {
        return;
      }
    }
    int Status = 0;
    if (Qemu.Exited(Status)) {
      throw ChannelError("QEMU exited (" +
                         (WIFEXITED(Status) ? "status " + std::to_string(WEXITSTATUS(Status))
                                            : "signal " + std::to_string(WTERMSIG(Status))) +
                         ") before the boot finished; its console ended:\n" + Tail(Console_));
    }
  }
}

}  // namespace sim
