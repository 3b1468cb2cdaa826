// One instruction of the guest run natively in ccxsim on a buffer of its own: the registers, the
// XMM registers and the arithmetic flags go in and come back as the instruction leaves them, RIP
// moves past it, and what may not run here (it branches, uses the stack, addresses relative to RIP)
// is refused before it runs.
#include "sim/ovmf/NativeStep.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace sim {
namespace {

using ccx_channel::Registers;

constexpr uint64_t kZeroFlag = 0x40;
constexpr uint64_t kCarryFlag = 0x01;
constexpr uint64_t kInterruptFlag = 0x200;  // not an arithmetic flag: it must come back unchanged

struct Step {
  Registers Regs{};
  uint8_t Xmm[16 * 16] = {};
  std::string Run(const std::vector<uint8_t> &Bytes) {
    std::vector<uint8_t> Padded = Bytes;
    Padded.resize(15, 0x90);
    return RunNativeStep(Regs, Xmm, Padded.data(), Padded.size());
  }
};

TEST(NativeStep, CompareSetsTheFlagsAndKeepsTheOthers) {
  uint64_t Buffer = 0;
  Step Cmp;
  Cmp.Regs.Rsi = reinterpret_cast<uint64_t>(&Buffer);
  Cmp.Regs.Rip = 0x1000;
  Cmp.Regs.Rflags = kInterruptFlag | kCarryFlag;
  ASSERT_EQ(Cmp.Run({0x48, 0x83, 0x3E, 0x00}), "");  // cmp qword [rsi], 0
  EXPECT_EQ(Cmp.Regs.Rflags & (kZeroFlag | kCarryFlag), kZeroFlag);
  EXPECT_EQ(Cmp.Regs.Rflags & kInterruptFlag, kInterruptFlag);
  EXPECT_EQ(Cmp.Regs.Rip, 0x1004u);
}

TEST(NativeStep, LoadsAndStoresReachTheBufferAndTheRegisters) {
  uint64_t Buffer[2] = {0x1122334455667788ULL, 0};
  Step Load;
  Load.Regs.Rcx = reinterpret_cast<uint64_t>(Buffer);
  Load.Regs.R8 = 0xAAAAAAAAAAAAAAAAULL;
  ASSERT_EQ(Load.Run({0x4C, 0x8B, 0x11}), "");  // mov r10, [rcx]
  EXPECT_EQ(Load.Regs.R10, 0x1122334455667788ULL);
  EXPECT_EQ(Load.Regs.R8, 0xAAAAAAAAAAAAAAAAULL);
  ASSERT_EQ(Load.Run({0x4C, 0x89, 0x41, 0x08}), "");  // mov [rcx+8], r8
  EXPECT_EQ(Buffer[1], 0xAAAAAAAAAAAAAAAAULL);
}

TEST(NativeStep, VectorStoresTakeTheGuestsXmmRegisters) {
  alignas(16) uint8_t Buffer[16] = {};
  Step Store;
  Store.Regs.Rax = reinterpret_cast<uint64_t>(Buffer);
  for (unsigned Index = 0; Index < 16; Index++) Store.Xmm[Index] = uint8_t(0xA0 + Index);  // XMM0
  ASSERT_EQ(Store.Run({0x66, 0x0F, 0xE7, 0x00}), "");  // movntdq [rax], xmm0
  EXPECT_EQ(std::memcmp(Buffer, Store.Xmm, 16), 0);
  Step Load;
  Load.Regs.Rax = reinterpret_cast<uint64_t>(Buffer);
  ASSERT_EQ(Load.Run({0x0F, 0x10, 0x08}), "");  // movups xmm1, [rax]
  EXPECT_EQ(std::memcmp(Load.Xmm + 16, Buffer, 16), 0);
}

TEST(NativeStep, RefusesWhatCannotRunOutsideTheGuest) {
  Step Refused;
  EXPECT_NE(Refused.Run({0x50}).find("push"), std::string::npos);                    // push rax
  EXPECT_NE(Refused.Run({0xFF, 0xD0}).find("call"), std::string::npos);              // call rax
  EXPECT_NE(Refused.Run({0x48, 0x8B, 0x05, 0, 0, 0, 0}).find("RIP"), std::string::npos);  // mov rax, [rip]
  EXPECT_NE(Refused.Run({0x48, 0x89, 0x04, 0x24}).find("RSP"), std::string::npos);   // mov [rsp], rax
  EXPECT_NE(Refused.Run({0xC5, 0xFC, 0x10, 0x00}).find("general ones"), std::string::npos);  // vmovups ymm0, [rax]
  EXPECT_EQ(Refused.Regs.Rip, 0u);
}

}  // namespace
}  // namespace sim
