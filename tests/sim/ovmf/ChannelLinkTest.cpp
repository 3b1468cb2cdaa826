// ccxsim's end of the channel to the platform package, driven by a stand-in for the guest: a
// socket that speaks the doorbell protocol and a RAM file both sides map. What can break is what
// the tests hold it to: a request answered in place, a malformed message refused with what was
// wrong, a guest that never answers or a firmware process that dies ended within the time limit.
#include "sim/ovmf/ChannelLink.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

namespace sim {
namespace {

using namespace ccx_channel;

constexpr uint64_t kRam = 4ULL << 20;
constexpr uint64_t kMailboxAt = 0x200000;

// The firmware's process as the channel sees it: a console that stays silent, and an exit the
// test decides.
class FakeFirmware : public FirmwareProcess {
 public:
  FakeFirmware() { EXPECT_EQ(pipe(Console_), 0); }
  ~FakeFirmware() override {
    close(Console_[0]);
    close(Console_[1]);
  }
  int Console() const override { return Console_[0]; }
  void Type(const std::string &) override {}
  bool Exited(int &Status) override {
    Status = 0;
    return Gone;
  }
  bool Gone = false;

 private:
  int Console_[2];
};

class ChannelLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char Template[] = "/tmp/ccx-channel-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Dir_ = Template;
    Memory_ = std::make_unique<GuestMemory>(Dir_ / "ram", kRam);
    Link_ = std::make_unique<ChannelLink>(Dir_ / "socket");
    Guest_ = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un Address{};
    Address.sun_family = AF_UNIX;
    std::strncpy(Address.sun_path, (Dir_ / "socket").c_str(), sizeof(Address.sun_path) - 1);
    ASSERT_EQ(connect(Guest_, reinterpret_cast<sockaddr *>(&Address), sizeof(Address)), 0);
  }
  void TearDown() override {
    close(Guest_);
    Link_.reset();
    Memory_.reset();
    std::filesystem::remove_all(Dir_);
  }

  Mailbox &Box() { return *reinterpret_cast<Mailbox *>(Memory_->At(kMailboxAt, kMailboxSize)); }
  void Send(const std::string &Bytes) { ASSERT_EQ(write(Guest_, Bytes.data(), Bytes.size()), ssize_t(Bytes.size())); }
  void SendHello(uint64_t Mailbox = kMailboxAt) {
    std::string Bytes(1, char(kHelloByte));
    for (int Index = 0; Index < 8; Index++) Bytes += char(Mailbox >> (8 * Index));
    Send(Bytes);
  }
  void Request(uint32_t Kind, uint64_t Value) {
    Box().Header = {kMagic, kVersion, Kind, 0, 0, 0, Value, 0, {}, {}};
    Send(std::string(1, char(kDoorbell)));
  }
  // Serves with a deadline Seconds away; returns the error's text, or "" when Serve returned.
  std::string Serve(double Seconds, const std::function<bool(Mailbox &)> &Answer) {
    const auto Next = [&Answer](Mailbox &Box) {
      return Answer(Box) ? ChannelLink::Next::Continue : ChannelLink::Next::Finish;
    };
    try {
      Link_->Serve(Firmware, *Memory_, std::chrono::steady_clock::now() + std::chrono::milliseconds(int(Seconds * 1000)),
                   Next);
    } catch (const ChannelError &Error) {
      return Error.what();
    }
    return "";
  }

  FakeFirmware Firmware;
  std::filesystem::path Dir_;
  std::unique_ptr<GuestMemory> Memory_;
  std::unique_ptr<ChannelLink> Link_;
  int Guest_ = -1;
};

TEST_F(ChannelLinkTest, AnswersEachRequestInTheMailboxThenSignalsTheGuest) {
  // The guest asks, waits for the answer byte and reads the answer from its own RAM.
  std::vector<uint64_t> Answers;
  std::thread Guest([this, &Answers] {
    SendHello();
    for (const auto &[Kind, Value] : {std::pair{kStep, 7ULL}, std::pair{kFinish, 0x8000000000000001ULL}}) {
      Request(Kind, Value);
      char Byte = 0;
      if (read(Guest_, &Byte, 1) != 1 || Byte != char(kAnswered)) return;
      Answers.push_back(Box().Header.Value);
    }
  });
  std::vector<std::pair<uint32_t, uint64_t>> Seen;
  EXPECT_EQ(Serve(10, [&Seen](Mailbox &Box) {
              Seen.emplace_back(Box.Header.Request, Box.Header.Value);
              Box.Header.Value += 1;
              return Box.Header.Request != kFinish;
            }),
            "");
  Guest.join();
  EXPECT_EQ(Seen, (std::vector<std::pair<uint32_t, uint64_t>>{{kStep, 7}, {kFinish, 0x8000000000000001ULL}}));
  EXPECT_EQ(Answers, (std::vector<uint64_t>{8, 0x8000000000000002ULL}));
}

TEST_F(ChannelLinkTest, RefusesMalformedMessagesNamingWhatIsWrong) {
  Request(kStep, 0);
  EXPECT_EQ(Serve(10, [](Mailbox &) { return true; }),
            "a request came before the platform package said where its mailbox is");
}

TEST_F(ChannelLinkTest, RefusesAForeignMailboxAndAStrayByte) {
  SendHello();
  Box().Header.Magic = 0x12345678;
  Send(std::string(1, char(kDoorbell)));
  EXPECT_NE(Serve(10, [](Mailbox &) { return true; }).find("holds magic 0x12345678"), std::string::npos);
}

TEST_F(ChannelLinkTest, RefusesAMailboxOutsideTheRam) {
  SendHello(kRam - 4096);
  EXPECT_THROW(Serve(10, [](Mailbox &) { return true; }), std::out_of_range);
}

TEST_F(ChannelLinkTest, AGuestThatNeverAsksAgainEndsAtTheTimeLimit) {
  SendHello();
  Request(kStep, 0);
  EXPECT_NE(Serve(0.5, [](Mailbox &) { return true; }).find("did not finish within the time limit"), std::string::npos);
}

TEST_F(ChannelLinkTest, AFirmwareThatExitsEndsTheRunWithItsStatus) {
  Firmware.Gone = true;
  EXPECT_NE(Serve(10, [](Mailbox &) { return true; }).find("QEMU exited (status 0) before the boot finished"),
            std::string::npos);
}

}  // namespace
}  // namespace sim
