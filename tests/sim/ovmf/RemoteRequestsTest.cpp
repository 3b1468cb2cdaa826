// What ccxsim answers the platform package, against a real simulated machine: a trapped
// instruction is emulated on the processor that took it, and what nobody may emulate (an invalid
// opcode that is no trap site, a fault outside the register windows, a processor the machine does
// not have, a firmware with another processor count) ends the boot naming it.
#include "sim/ovmf/RemoteRequests.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

#include "sim/machine/Machine.h"

namespace sim {
namespace {

using namespace ccx_channel;

constexpr uint64_t kImageBase = 0x400000;
constexpr uint32_t kRdmsrRva = 0x1000;
constexpr uint32_t kPpinMsr = 0xC00102F1;

class RemoteRequestsTest : public ::testing::Test {
 protected:
  RemoteRequestsTest()
      : Description_(LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/two-socket-small.json")),
        Machine_(Description_, {}, Control_) {
    char Template[] = "/tmp/ccx-remote-XXXXXX";
    Dir_ = mkdtemp(Template);
    Memory_ = std::make_unique<GuestMemory>(Dir_ / "ram", 2ULL << 20);
    TrapSite Rdmsr;
    Rdmsr.Rva = kRdmsrRva;
    Rdmsr.Length = 2;
    Rdmsr.Kind = TrapKind::MsrRead;
    Rdmsr.Bytes[0] = 0x0F;
    Rdmsr.Bytes[1] = 0x32;
    Image_.SizeOfImage = 0x2000;
    Image_.Sites = {Rdmsr};
    Image_.Windows = Machine_.Devices().Mmio().ClaimedRanges();
    Requests_ = std::make_unique<RemoteRequests>(Machine_, Image_, *Memory_, Steps_);
  }
  ~RemoteRequestsTest() override {
    Requests_.reset();
    Memory_.reset();
    std::filesystem::remove_all(Dir_);
  }

  Mailbox &Ask(uint32_t Kind, uint32_t Processor, uint64_t Rip, uint64_t Value = kImageBase) {
    Box_ = std::make_unique<Mailbox>();
    Box_->Header = {kMagic, kVersion, Kind, 0, Processor, 0, Value, 0, {}, {}};
    Box_->Header.Regs.Rip = Rip;
    return *Box_;
  }
  std::string Refusal(Mailbox &Box) {
    try {
      Requests_->Answer(Box);
    } catch (const std::runtime_error &Error) {
      return Error.what();
    }
    return "(answered)";
  }

  BootControl Control_;
  Machine Description_;
  Platform Machine_;
  std::filesystem::path Dir_;
  std::unique_ptr<GuestMemory> Memory_;
  RemoteImage Image_;
  std::vector<std::string> Steps_;
  std::unique_ptr<RemoteRequests> Requests_;
  std::unique_ptr<Mailbox> Box_;
};

TEST_F(RemoteRequestsTest, ARewrittenMsrReadIsAnsweredByTheProcessorThatTookIt) {
  // Processors 0 and 8 lie in different sockets, whose PPINs differ.
  for (const auto &[Processor, Ppin] : {std::pair{0u, 0x0123456789ABCDEFULL}, std::pair{8u, 0xFEDCBA9876543210ULL}}) {
    Mailbox &Box = Ask(kTrap, Processor, kImageBase + kRdmsrRva);
    Box.Header.Regs.Rcx = kPpinMsr;
    Box.Header.Regs.Rax = Box.Header.Regs.Rdx = 0xFFFFFFFFFFFFFFFFULL;
    ASSERT_EQ(Requests_->Answer(Box), ChannelLink::Next::Continue);
    EXPECT_EQ(Box.Header.Answer, kResume);
    EXPECT_EQ((Box.Header.Regs.Rdx << 32) | Box.Header.Regs.Rax, Ppin) << "processor " << Processor;
    EXPECT_EQ(Box.Header.Regs.Rip, kImageBase + kRdmsrRva + 2);
  }
  EXPECT_EQ(Requests_->Counts()[static_cast<size_t>(TrapKind::MsrRead)], 2u);
}

TEST_F(RemoteRequestsTest, WhatNobodyMayEmulateEndsTheBootNamingIt) {
  Mailbox &NoSite = Ask(kTrap, 3, kImageBase + kRdmsrRva + 1);
  NoSite.Header.Instruction[0] = 0x32;
  EXPECT_EQ(Refusal(NoSite),
            "an invalid opcode in the image that is no trap site, processor 3 at 0x401001 (RVA 0x1001: 32 00 00 00 00 "
            "00 00 00 00 00 00 00 00 00 00)");
  Mailbox &Outside = Ask(kTrap, 0, 0x1234);
  EXPECT_NE(Refusal(Outside).find("an invalid opcode outside the image, processor 0 at 0x1234"), std::string::npos);
  Mailbox &Fault = Ask(kPageFault, 1, kImageBase + 0x1800);
  Fault.Header.FaultAddress = 0x7E000000000;
  EXPECT_NE(Refusal(Fault).find("touched 0x7E000000000, which is neither RAM nor a register window"), std::string::npos);
  Mailbox &Stranger = Ask(kTrap, 16, kImageBase + kRdmsrRva);
  EXPECT_EQ(Refusal(Stranger), "a request came from processor 16, and the machine has 16");
  Mailbox &Hello = Ask(kHello, 0, 0, 4);
  EXPECT_EQ(Refusal(Hello), "OVMF's MP services report 4 processors, and the machine has 16");
}

}  // namespace
}  // namespace sim
