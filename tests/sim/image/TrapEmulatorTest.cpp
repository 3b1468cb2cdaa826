// The trap-and-emulate layer that runs the delivered image natively. A page of hand-assembled
// machine code stands in for the image: a harness loads the general registers from a record, runs
// the instructions under test and stores the registers back, so each case states the registers
// going in and coming out. A fake hook table records what reached the hardware and answers fixed
// values.
#include "sim/image/TrapHandler.h"

#include <asm/prctl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "arch/Memory.h"
#include "arch/host/HostHooks.h"
#include "sim/HexText.h"
#include "sim/cpu/CurrentProcessor.h"

namespace sim {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint64_t kPage = 4096;
// Two register windows where a normal process maps nothing; the second is smaller than a page.
constexpr uint64_t kWindow = 0x7E0000000000;
constexpr uint64_t kSmallWindow = 0x7E0000100000;
constexpr uint64_t kUnmapped = 0x7E0000400000;
// The stand-in for the image's code, at a fixed place so that a death-test child, a fresh
// execution of this program, puts it where the parent expects it.
constexpr uint64_t kCodePage = 0x7E0000800000;

constexpr uint64_t kTsc = 0x123456789ABCDEF0;
constexpr uint64_t kMsrValue = 0x8877665544332211;
constexpr uint32_t kPortValue = 0xA1B2C3D4;
// Negative at every width, so that sign extension shows.
constexpr uint64_t kWindowValue = 0xF1E2D3C4B5A69788;
constexpr uint16_t kBackdoorAnswer = 0xBEEF;

// The registers the harness loads before the code under test and stores after it, at the offsets
// it uses.
struct Gprs {
  uint64_t Rax, Rbx, Rcx, Rdx, Rsi, Rdi, R8, R9, R10, R11;
  bool operator==(const Gprs &) const = default;
};

void PrintTo(const Gprs &R, std::ostream *Out) {
  *Out << "rax=" << Hex(R.Rax) << " rbx=" << Hex(R.Rbx) << " rcx=" << Hex(R.Rcx) << " rdx=" << Hex(R.Rdx)
       << " rsi=" << Hex(R.Rsi) << " rdi=" << Hex(R.Rdi) << " r8=" << Hex(R.R8) << " r9=" << Hex(R.R9)
       << " r10=" << Hex(R.R10) << " r11=" << Hex(R.R11);
}

// Distinct values in every register; AL = 0x5A, AH = 0xA5, DIL = 0xC7, R10D = 0xDEADBEEF.
Gprs Inputs() {
  return {0x0123456789ABA55A, kWindow + 0x10,     0x1111111111111111, 0x2222222222222222, 0x3333333333333333,
          0x44444444444444C7, 0x5555555555555555, 0x6666666666666666, 0x77777777DEADBEEF, 0x8888888899999999};
}

// void Harness(Gprs *Record), SysV: rdi holds Record.
const Bytes kPrologue = {
    0x53,                    // push rbx
    0x57,                    // push rdi
    0x48, 0x8b, 0x07,        // mov rax, [rdi]
    0x48, 0x8b, 0x5f, 0x08,  // mov rbx, [rdi+8]
    0x48, 0x8b, 0x4f, 0x10,  // mov rcx, [rdi+16]
    0x48, 0x8b, 0x57, 0x18,  // mov rdx, [rdi+24]
    0x48, 0x8b, 0x77, 0x20,  // mov rsi, [rdi+32]
    0x4c, 0x8b, 0x47, 0x30,  // mov r8, [rdi+48]
    0x4c, 0x8b, 0x4f, 0x38,  // mov r9, [rdi+56]
    0x4c, 0x8b, 0x57, 0x40,  // mov r10, [rdi+64]
    0x4c, 0x8b, 0x5f, 0x48,  // mov r11, [rdi+72]
    0x48, 0x8b, 0x7f, 0x28,  // mov rdi, [rdi+40]
};
const Bytes kEpilogue = {
    0x48, 0x87, 0x3c, 0x24,  // xchg [rsp], rdi      (Record back, the code's rdi on the stack)
    0x48, 0x89, 0x07,        // mov [rdi], rax
    0x48, 0x89, 0x5f, 0x08,  // mov [rdi+8], rbx
    0x48, 0x89, 0x4f, 0x10,  // mov [rdi+16], rcx
    0x48, 0x89, 0x57, 0x18,  // mov [rdi+24], rdx
    0x48, 0x89, 0x77, 0x20,  // mov [rdi+32], rsi
    0x4c, 0x89, 0x47, 0x30,  // mov [rdi+48], r8
    0x4c, 0x89, 0x4f, 0x38,  // mov [rdi+56], r9
    0x4c, 0x89, 0x57, 0x40,  // mov [rdi+64], r10
    0x4c, 0x89, 0x5f, 0x48,  // mov [rdi+72], r11
    0x58,                    // pop rax
    0x48, 0x89, 0x47, 0x28,  // mov [rdi+40], rax
    0x5b,                    // pop rbx
    0xc3,                    // ret
};

// What reached the fake hardware, one line per call.
std::vector<std::string> gCalls;
bool gWindowReadsFail = false;

uint64_t Low(uint64_t Value, unsigned Width) { return Width >= 8 ? Value : Value & ((1ULL << (8 * Width)) - 1); }
std::string W(unsigned Width) { return std::to_string(Width); }

const CCX_ARCH_HOST_HOOKS kFakeHooks = {
    .Cpuid =
        [](uint32_t Leaf, uint32_t SubLeaf, uint32_t Registers[4]) {
          gCalls.push_back("cpuid " + Hex(Leaf) + " " + Hex(SubLeaf));
          Registers[0] = Leaf + 1;
          Registers[1] = SubLeaf + 2;
          Registers[2] = 0xC0C0C0C0;
          Registers[3] = 0xD0D0D0D0;
        },
    .BackdoorQuery = []() -> uint16_t { return kBackdoorAnswer; },
    .ReadTimeStampCounter = []() -> uint64_t { gCalls.push_back("rdtsc"); return kTsc; },
    .CpuPause = [] {},
    .WriteBackInvalidateCaches = [] { gCalls.push_back("wbinvd"); },
    .ReadMsr = [](uint32_t Index) -> uint64_t { gCalls.push_back("rdmsr " + Hex(Index)); return kMsrValue; },
    .WriteMsr = [](uint32_t Index, uint64_t Value) { gCalls.push_back("wrmsr " + Hex(Index) + " " + Hex(Value)); },
    .IoRead =
        [](uint16_t Port, unsigned Width) -> uint32_t {
          gCalls.push_back("in " + Hex(Port) + " " + W(Width));
          return static_cast<uint32_t>(Low(kPortValue, Width));
        },
    .IoWrite =
        [](uint16_t Port, unsigned Width, uint32_t Value) {
          gCalls.push_back("out " + Hex(Port) + " " + W(Width) + " " + Hex(Value));
        },
    .MmioRead =
        [](uint64_t Address, unsigned Width) -> uint64_t {
          if (gWindowReadsFail) throw std::runtime_error("no device answers " + Hex(Address));
          gCalls.push_back("mmio_read " + Hex(Address) + " " + W(Width));
          return Low(kWindowValue, Width);
        },
    .MmioWrite =
        [](uint64_t Address, unsigned Width, uint64_t Value) {
          gCalls.push_back("mmio_write " + Hex(Address) + " " + W(Width) + " " + Hex(Value));
        },
};

// The vendor string of this host, read before any test turns CPUID faulting on.
std::string NativeVendor() {
  uint32_t A = 0, B = 0, C = 0, D = 0;
  __asm__ __volatile__("cpuid" : "+a"(A), "=b"(B), "+c"(C), "=d"(D));
  char Text[13] = {};
  std::memcpy(Text, &B, 4);
  std::memcpy(Text + 4, &D, 4);
  std::memcpy(Text + 8, &C, 4);
  return Text;
}
const std::string kHostVendor = NativeVendor();

using TrapCounts = std::array<uint64_t, kTrapKindCount>;
TrapCounts Counted(std::initializer_list<std::pair<TrapKind, uint64_t>> Taken) {
  TrapCounts Counts{};
  for (const auto &[Kind, Count] : Taken) Counts[static_cast<size_t>(Kind)] = Count;
  return Counts;
}

// Ends a boot as the platform would, visibly for a death test.
void EndBootForTest(const std::string &Problem) {
  std::fprintf(stderr, "boot ended: %s\n", Problem.c_str());
  _exit(3);
}

class TrapEmulatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string Why;
    if (!ImageTrapsSupported(Why)) GTEST_SKIP() << "image traps unsupported here: " << Why;
    void *Page = mmap(reinterpret_cast<void *>(kCodePage), kPage, PROT_READ | PROT_WRITE | PROT_EXEC,
                      MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
    ASSERT_EQ(Page, reinterpret_cast<void *>(kCodePage)) << std::strerror(errno);
    Code_ = static_cast<uint8_t *>(Page);
    StartSession({{kWindow, kPage}, {kSmallWindow, 0x20}});
    if (TrapInSetUp_) TrapPrivilegedInstructionsOnThisThread();
    Previous_ = CcxInstallArchHostHooks(&kFakeHooks);
    gCalls.clear();
    gWindowReadsFail = false;
  }
  void TearDown() override {
    if (Code_ == nullptr) return;
    CcxInstallArchHostHooks(Previous_);
    Session_.reset();
    munmap(Code_, kPage);
  }

  void StartSession(std::vector<AddressRange> Windows) {
    Session_.reset();
    Session_ = std::make_unique<ImageTrapSession>(Begin(), Begin() + kPage, std::move(Windows), EndBootForTest);
  }
  uint64_t Begin() const { return reinterpret_cast<uint64_t>(Code_); }
  // Where the code under test starts.
  uint64_t Body() const { return Begin() + kPrologue.size(); }

  Gprs Run(const Bytes &Snippet, Gprs Registers) {
    Bytes Code = kPrologue;
    Code.insert(Code.end(), Snippet.begin(), Snippet.end());
    Code.insert(Code.end(), kEpilogue.begin(), kEpilogue.end());
    std::memcpy(Code_, Code.data(), Code.size());
    reinterpret_cast<void (*)(Gprs *)>(Code_)(&Registers);
    return Registers;
  }

  bool TrapInSetUp_ = true;
  uint8_t *Code_ = nullptr;
  std::unique_ptr<ImageTrapSession> Session_;
  const CCX_ARCH_HOST_HOOKS *Previous_ = nullptr;
};

TEST_F(TrapEmulatorTest, CpuidTakesEaxEcxAndFillsFourRegisters) {
  Gprs In = Inputs();
  In.Rax = 0xFFFFFFFF00000007;
  In.Rcx = 0xFFFFFFFF00000001;
  Gprs Expected = In;
  Expected.Rax = 8;
  Expected.Rbx = 3;
  Expected.Rcx = 0xC0C0C0C0;
  Expected.Rdx = 0xD0D0D0D0;
  EXPECT_EQ(Run({0x0f, 0xa2}, In), Expected);  // cpuid
  EXPECT_EQ(gCalls, std::vector<std::string>{"cpuid 0x7 0x1"});
  EXPECT_EQ(Session_->Counts(), Counted({{TrapKind::Cpuid, 1}}));
}

TEST_F(TrapEmulatorTest, CheckingSupportAgainKeepsCpuidFaulting) {
  // A later boot checks support again on the thread that already traps.
  std::string Why;
  ASSERT_TRUE(ImageTrapsSupported(Why)) << Why;
  EXPECT_EQ(syscall(SYS_arch_prctl, ARCH_GET_CPUID, 0), 0);
  Run({0x0f, 0xa2}, Inputs());  // cpuid
  EXPECT_EQ(gCalls, std::vector<std::string>{"cpuid 0x89ABA55A 0x11111111"});
}

TEST_F(TrapEmulatorTest, BackdoorAnswersInSiAndKeepsTheRestOfRsi) {
  Gprs In = Inputs();
  In.Rax = 0xBACCD00B;
  In.Rbx = 2;
  EXPECT_EQ(Run({0x0f, 0xa2}, In).Rsi, 0x333333333333BEEF);  // cpuid
  EXPECT_TRUE(gCalls.empty());
  // The same leaf without EBX = 2 is an ordinary CPUID.
  In.Rbx = 3;
  EXPECT_EQ(Run({0x0f, 0xa2}, In).Rsi, In.Rsi);
  EXPECT_EQ(gCalls, std::vector<std::string>{"cpuid 0xBACCD00B 0x11111111"});
  EXPECT_EQ(Session_->Counts(), Counted({{TrapKind::Backdoor, 1}, {TrapKind::Cpuid, 1}}));
}

TEST_F(TrapEmulatorTest, TimeStampCounterAndMsrsUseEdxEax) {
  Gprs Expected = Inputs();
  Expected.Rax = 0x9ABCDEF0;
  Expected.Rdx = 0x12345678;
  EXPECT_EQ(Run({0x0f, 0x31}, Inputs()), Expected);  // rdtsc

  Gprs In = Inputs();
  In.Rcx = 0xFFFFFFFFC0010015;
  Expected = In;
  Expected.Rax = 0x44332211;
  Expected.Rdx = 0x88776655;
  EXPECT_EQ(Run({0x0f, 0x32}, In), Expected);  // rdmsr

  In.Rcx = 0xFFFFFFFFC0010058;
  In.Rax = 0xAAAAAAAA11223344;
  In.Rdx = 0xBBBBBBBB55667788;
  EXPECT_EQ(Run({0x0f, 0x30}, In), In);  // wrmsr
  EXPECT_EQ(gCalls, (std::vector<std::string>{"rdtsc", "rdmsr 0xC0010015", "wrmsr 0xC0010058 0x5566778811223344"}));
  EXPECT_EQ(Session_->Counts(),
            Counted({{TrapKind::TimeStamp, 1}, {TrapKind::MsrRead, 1}, {TrapKind::MsrWrite, 1}}));
}

TEST_F(TrapEmulatorTest, CacheFlushAndInterruptFlagChangeNoRegister) {
  EXPECT_EQ(Run({0x0f, 0x09, 0xfa, 0xfb}, Inputs()), Inputs());  // wbinvd; cli; sti
  EXPECT_EQ(gCalls, std::vector<std::string>{"wbinvd"});
  EXPECT_EQ(Session_->Counts(), Counted({{TrapKind::CacheFlush, 1}, {TrapKind::InterruptFlag, 2}}));
}

// One instruction, the register it changes (none for a write) and its value after, and the call
// the hardware sees.
struct AccessCase {
  const char *Name;
  Bytes Code;
  uint64_t Gprs::*Changed;
  uint64_t After;
  std::string Call;
  TrapKind Kind;
};
void PrintTo(const AccessCase &Case, std::ostream *Out) { *Out << Case.Name; }

AccessCase In(const char *Name, Bytes Code, uint16_t Port, unsigned Width, uint64_t Rax) {
  return {Name, std::move(Code), &Gprs::Rax, Rax, "in " + Hex(Port) + " " + W(Width), TrapKind::PortRead};
}
AccessCase Out(const char *Name, Bytes Code, uint16_t Port, unsigned Width, uint64_t Value) {
  return {Name, std::move(Code), nullptr, 0, "out " + Hex(Port) + " " + W(Width) + " " + Hex(Value),
          TrapKind::PortWrite};
}
// Offset from the window's base.
AccessCase Load(const char *Name, Bytes Code, uint64_t Gprs::*Changed, uint64_t After, uint64_t Offset,
                unsigned Width) {
  return {Name, std::move(Code), Changed, After, "mmio_read " + Hex(kWindow + Offset) + " " + W(Width),
          TrapKind::MmioRead};
}
AccessCase Store(const char *Name, Bytes Code, uint64_t Offset, unsigned Width, uint64_t Value) {
  return {Name, std::move(Code), nullptr, 0, "mmio_write " + Hex(kWindow + Offset) + " " + W(Width) + " " + Hex(Value),
          TrapKind::MmioWrite};
}

class TrapEmulatorAccessTest : public TrapEmulatorTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(TrapEmulatorAccessTest, ReachesTheHookAndWritesOnlyItsRegister) {
  const AccessCase &Case = GetParam();
  Gprs Expected = Inputs();
  if (Case.Changed != nullptr) Expected.*Case.Changed = Case.After;
  EXPECT_EQ(Run(Case.Code, Inputs()), Expected);
  EXPECT_EQ(gCalls, std::vector<std::string>{Case.Call});
  EXPECT_EQ(Session_->Counts(), Counted({{Case.Kind, 1}}));
}

std::string Name(const ::testing::TestParamInfo<AccessCase> &Info) { return Info.param.Name; }

// DX holds 0x2222; the fake port reads 0xA1B2C3D4 cut to the width; AL = 0x5A, AH = 0xA5.
INSTANTIATE_TEST_SUITE_P(Ports, TrapEmulatorAccessTest,
                         ::testing::Values(In("InAlDxKeepsTheRest", {0xec}, 0x2222, 1, 0x0123456789ABA5D4),
                                           In("InAxDxKeepsTheRest", {0x66, 0xed}, 0x2222, 2, 0x0123456789ABC3D4),
                                           In("InEaxDxClearsTheUpperHalf", {0xed}, 0x2222, 4, 0xA1B2C3D4),
                                           In("InAlImmediate", {0xe4, 0x80}, 0x80, 1, 0x0123456789ABA5D4),
                                           In("InEaxImmediate", {0xe5, 0x71}, 0x71, 4, 0xA1B2C3D4),
                                           Out("OutDxAl", {0xee}, 0x2222, 1, 0x5A),
                                           Out("OutDxAx", {0x66, 0xef}, 0x2222, 2, 0xA55A),
                                           Out("OutDxEax", {0xef}, 0x2222, 4, 0x89ABA55A),
                                           Out("OutImmediateAl", {0xe6, 0x80}, 0x80, 1, 0x5A),
                                           Out("OutImmediateAx", {0x66, 0xe7, 0x70}, 0x70, 2, 0xA55A)),
                         Name);

// RBX points 0x10 into the window; the window reads 0xF1E2D3C4B5A69788 cut to the width.
INSTANTIATE_TEST_SUITE_P(
    Loads, TrapEmulatorAccessTest,
    ::testing::Values(Load("MovAl", {0x8a, 0x03}, &Gprs::Rax, 0x0123456789ABA588, 0x10, 1),
                      Load("MovAhDisplaced", {0x8a, 0x63, 0x01}, &Gprs::Rax, 0x0123456789AB885A, 0x11, 1),
                      Load("MovSil", {0x40, 0x8a, 0x33}, &Gprs::Rsi, 0x3333333333333388, 0x10, 1),
                      Load("MovCxKeepsTheRest", {0x66, 0x8b, 0x0b}, &Gprs::Rcx, 0x1111111111119788, 0x10, 2),
                      Load("MovEdxClearsTheUpperHalf", {0x8b, 0x13}, &Gprs::Rdx, 0xB5A69788, 0x10, 4),
                      Load("MovR8", {0x4c, 0x8b, 0x03}, &Gprs::R8, kWindowValue, 0x10, 8),
                      Load("MovR9dDisplaced", {0x44, 0x8b, 0x4b, 0x08}, &Gprs::R9, 0xB5A69788, 0x18, 4),
                      Load("MovzxEaxByte", {0x0f, 0xb6, 0x03}, &Gprs::Rax, 0x88, 0x10, 1),
                      Load("MovzxEcxWord", {0x0f, 0xb7, 0x0b}, &Gprs::Rcx, 0x9788, 0x10, 2),
                      Load("MovzxR10Byte", {0x4c, 0x0f, 0xb6, 0x13}, &Gprs::R10, 0x88, 0x10, 1),
                      Load("MovsxRaxByte", {0x48, 0x0f, 0xbe, 0x03}, &Gprs::Rax, 0xFFFFFFFFFFFFFF88, 0x10, 1),
                      Load("MovsxEdxWordClearsTheUpperHalf", {0x0f, 0xbf, 0x13}, &Gprs::Rdx, 0xFFFF9788, 0x10, 2),
                      Load("MovsxCxByteKeepsTheRest", {0x66, 0x0f, 0xbe, 0x0b}, &Gprs::Rcx, 0x111111111111FF88, 0x10,
                           1),
                      Load("MovsxR11Word", {0x4c, 0x0f, 0xbf, 0x1b}, &Gprs::R11, 0xFFFFFFFFFFFF9788, 0x10, 2)),
    Name);

// Sources: AL = 0x5A, AH = 0xA5, DIL = 0xC7, SI = 0x3333, R10D = 0xDEADBEEF, R11 = 0x8888888899999999.
INSTANTIATE_TEST_SUITE_P(
    Stores, TrapEmulatorAccessTest,
    ::testing::Values(Store("MovAl", {0x88, 0x03}, 0x10, 1, 0x5A),
                      Store("MovAh", {0x88, 0x23}, 0x10, 1, 0xA5),
                      Store("MovDil", {0x40, 0x88, 0x3b}, 0x10, 1, 0xC7),
                      Store("MovSiDisplaced", {0x66, 0x89, 0x73, 0x02}, 0x12, 2, 0x3333),
                      Store("MovR10dDisplaced", {0x44, 0x89, 0x53, 0x04}, 0x14, 4, 0xDEADBEEF),
                      Store("MovR11", {0x4c, 0x89, 0x1b}, 0x10, 8, 0x8888888899999999),
                      Store("ImmediateByte", {0xc6, 0x03, 0x5a}, 0x10, 1, 0x5A),
                      Store("ImmediateWord", {0x66, 0xc7, 0x03, 0x34, 0x12}, 0x10, 2, 0x1234),
                      Store("ImmediateDword", {0xc7, 0x03, 0x01, 0x00, 0x00, 0x80}, 0x10, 4, 0x80000001),
                      // mov qword [rbx], -2: the 32-bit immediate is sign-extended to the quadword.
                      Store("ImmediateQwordSignExtended", {0x48, 0xc7, 0x03, 0xfe, 0xff, 0xff, 0xff}, 0x10, 8,
                            0xFFFFFFFFFFFFFFFE)),
    Name);

TEST_F(TrapEmulatorTest, EachTrapResumesAfterItsInstruction) {
  const Bytes Code = {
      0x8b, 0x03,        // mov eax, [rbx]       -> 0xB5A69788
      0x83, 0xc0, 0x01,  // add eax, 1
      0x89, 0x43, 0x08,  // mov [rbx+8], eax
      0x0f, 0x31,        // rdtsc                -> edx = 0x12345678
      0xec,              // in al, dx            port 0x5678
      0x0f, 0xa2,        // cpuid                eax = 0x9ABCDED4
  };
  EXPECT_EQ(Run(Code, Inputs()).Rax, 0x9ABCDED5);
  EXPECT_EQ(gCalls, (std::vector<std::string>{"mmio_read 0x7E0000000010 4", "mmio_write 0x7E0000000018 4 0xB5A69789",
                                              "rdtsc", "in 0x5678 1", "cpuid 0x9ABCDED4 0x11111111"}));
  EXPECT_EQ(Session_->Counts(), Counted({{TrapKind::MmioRead, 1},
                                         {TrapKind::MmioWrite, 1},
                                         {TrapKind::TimeStamp, 1},
                                         {TrapKind::PortRead, 1},
                                         {TrapKind::Cpuid, 1}}));
}

// The driver's fill primitive, run as image code over a register window, shows each store it makes:
// Length / 8 words that repeat the byte, then the remaining bytes one at a time.
TEST_F(TrapEmulatorTest, SetMemoryStoresWordsThenTheRemainingBytes) {
  const auto Fill = reinterpret_cast<uint64_t>(&CcxImage::SetMemory);
  Session_.reset();
  Session_ = std::make_unique<ImageTrapSession>(Fill, Fill + 512, std::vector<AddressRange>{{kWindow, kPage}},
                                                EndBootForTest);
  EXPECT_EQ(CcxImage::SetMemory(reinterpret_cast<void *>(kWindow + 3), 13, 0xAB), reinterpret_cast<void *>(kWindow + 3));
  std::vector<std::string> Expected = {"mmio_write 0x7E0000000003 8 0xABABABABABABABAB"};
  for (uint64_t Byte = 11; Byte < 16; Byte++) Expected.push_back("mmio_write " + Hex(kWindow + Byte) + " 1 0xAB");
  EXPECT_EQ(gCalls, Expected);
}

TEST_F(TrapEmulatorTest, WindowsGivenInAnyOrderAreAllReserved) {
  StartSession({{kSmallWindow, 0x20}, {kWindow, kPage}});
  ASSERT_TRUE(Session_->InWindow(kWindow));
  ASSERT_TRUE(Session_->InWindow(kSmallWindow));
  Gprs In = Inputs();
  In.Rcx = kSmallWindow + 4;
  Run({0x8b, 0x03, 0x8b, 0x11}, In);  // mov eax, [rbx]; mov edx, [rcx]
  EXPECT_EQ(gCalls, (std::vector<std::string>{"mmio_read 0x7E0000000010 4", "mmio_read 0x7E0000100004 4"}));
}

TEST_F(TrapEmulatorTest, SessionRefusesATakenWindowAndASecondBoot) {
  try {
    ImageTrapSession Second(Begin(), Begin() + kPage, {{kUnmapped, kPage}}, EndBootForTest);
    ADD_FAILURE() << "a second session started";
  } catch (const std::logic_error &) {
  }
  // The refused session gave its reservation back.
  EXPECT_NE(msync(reinterpret_cast<void *>(kUnmapped), kPage, MS_ASYNC), 0);
  Session_.reset();
  try {
    ImageTrapSession OverCode(Begin(), Begin() + kPage, {{Begin(), kPage}}, EndBootForTest);
    ADD_FAILURE() << "a window over mapped memory was reserved";
  } catch (const std::runtime_error &Error) {
    EXPECT_NE(std::string(Error.what()).find("register window " + Hex(Begin()) + "-" + Hex(Begin() + kPage - 1)),
              std::string::npos)
        << Error.what();
  }
}

uint64_t NativeTimeStamp() {
  uint32_t Low = 0, High = 0;
  __asm__ __volatile__("rdtsc" : "=a"(Low), "=d"(High));
  return (uint64_t(High) << 32) | Low;
}

TEST_F(TrapEmulatorTest, HostCodeRunsNativelyWhileTrapping) {
  // Both traps are on for this thread.
  EXPECT_EQ(syscall(SYS_arch_prctl, ARCH_GET_CPUID, 0), 0);
  int TscMode = 0;
  ASSERT_EQ(prctl(PR_GET_TSC, &TscMode, 0, 0, 0), 0);
  EXPECT_EQ(TscMode, PR_TSC_SIGSEGV);

  EXPECT_EQ(NativeVendor(), kHostVendor);
  EXPECT_NE(NativeTimeStamp(), kTsc);
  const auto Steady = std::chrono::steady_clock::now();
  timespec Before{}, After{};
  ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &Before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  ASSERT_EQ(clock_gettime(CLOCK_MONOTONIC, &After), 0);
  EXPECT_GT(std::chrono::steady_clock::now(), Steady);
  EXPECT_GT(After.tv_sec * 1000000000LL + After.tv_nsec, Before.tv_sec * 1000000000LL + Before.tv_nsec);
  EXPECT_TRUE(gCalls.empty());
  EXPECT_EQ(Session_->Counts(), TrapCounts{});
}

// A failed emulation ends the boot through the session; on the BSP that is the platform's EndBoot.
// The death-test child is a fresh execution of this program, and TSC trapping survives exec: a
// child started from a trapping thread dies at the dynamic loader's first RDTSC. So the parent
// never traps here (death-test suites run first); each child turns trapping on itself.
class TrapEmulatorDeathTest : public TrapEmulatorTest {
 protected:
  void SetUp() override {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    int TscMode = 0;
    if (prctl(PR_GET_TSC, &TscMode, 0, 0, 0) == 0 && TscMode == PR_TSC_SIGSEGV) {
      GTEST_SKIP() << "this thread already traps RDTSC, so a re-executed death-test child could not start";
    }
    TrapInSetUp_ = false;
    TrapEmulatorTest::SetUp();
  }
  void TrapAndRun(const Bytes &Code, const Gprs &In) {
    TrapPrivilegedInstructionsOnThisThread();
    Run(Code, In);
  }
  void RunOnBsp(const Bytes &Code, const Gprs &In) {
    Processor Bsp(ProcessorIdentity{}, {}, std::make_shared<const CpuidTable>(), CpuidTable{});
    ProcessorBinding Bound(Bsp);
    TrapAndRun(Code, In);
  }
};

TEST_F(TrapEmulatorDeathTest, UnsupportedInstructionNamesItsAddressAndBytes) {
  const struct {
    Bytes Code;
    std::string Problem;
  } Cases[] = {
      // mov rax, cr0
      {{0x0f, 0x20, 0xc0}, "mov: the emulator does not support it, at " + Hex(Body()) + ": 0f 20 c0 48 87"},
      {{0x0f, 0x08}, "invd: the emulator does not support it, at " + Hex(Body()) + ": 0f 08 48 87"},
      {{0xf4}, "HLT: no interrupt will wake the processor, at " + Hex(Body()) + ": f4 48 87"},
      // add [rbx], eax on a register window
      {{0x01, 0x03}, "add: not a load or store the register windows support, at " + Hex(Body()) + ": 01 03 48 87"},
  };
  for (const auto &Case : Cases) {
    EXPECT_EXIT(RunOnBsp(Case.Code, Inputs()), ::testing::ExitedWithCode(3), "boot ended: " + Case.Problem);
  }
}

TEST_F(TrapEmulatorDeathTest, AccessOutsideTheWindowsNamesTheAddress) {
  Gprs In = Inputs();
  In.Rbx = kUnmapped;
  EXPECT_EXIT(RunOnBsp({0x8b, 0x03}, In), ::testing::ExitedWithCode(3),  // mov eax, [rbx]
              "boot ended: image code at " + Hex(Body()) + " .8b 03 48 87.* touched 0x7E0000400000, which is neither");
}

TEST_F(TrapEmulatorDeathTest, HookErrorNamesTheInstruction) {
  gWindowReadsFail = true;
  EXPECT_EXIT(RunOnBsp({0x8b, 0x03}, Inputs()), ::testing::ExitedWithCode(3),  // mov eax, [rbx]
              "boot ended: no device answers 0x7E0000000010 .emulating 8b 03 48 87.* at " + Hex(Body()));
}

// Host code the image calls with a pointer it was given (SysV: rdi).
[[gnu::noinline]] void StoreThrough(int *Pointer) { *static_cast<int *volatile>(Pointer) = 1; }

Bytes MovRax(uint64_t Value) {
  Bytes Code = {0x48, 0xb8};  // mov rax, imm64
  for (unsigned Byte = 0; Byte < 8; Byte++) Code.push_back(static_cast<uint8_t>(Value >> (8 * Byte)));
  return Code;
}

Bytes Then(Bytes Code, const Bytes &More) {
  Code.insert(Code.end(), More.begin(), More.end());
  return Code;
}

TEST_F(TrapEmulatorDeathTest, AnyFaultOfTheImageOnAProcessorEndsTheBootNamingIt) {
  const uint64_t Host = reinterpret_cast<uint64_t>(&StoreThrough);
  // The message is on standard error at once, before the boot's end is reported.
  EXPECT_EXIT(RunOnBsp({0x0f, 0x0b}, Inputs()), ::testing::ExitedWithCode(3),
              "simulator error in the delivered image on processor 0: image code at " + Hex(Body()));
  const struct {
    Bytes Code;
    std::string Problem;
  } Cases[] = {
      {{0x0f, 0x0b}, "image code at " + Hex(Body()) + " .0f 0b 48 87.*. raised an invalid instruction"},  // ud2
      {{0xcc}, "image code at " + Hex(Body()) + " .cc 48 87.*. raised a breakpoint .INT3."},                // int3
      // xor ecx, ecx; div ecx
      {{0x31, 0xc9, 0xf7, 0xf1}, "image code at " + Hex(Body() + 2) + " .f7 f1 48 87.*. raised a divide error"},
      // A jump out of the image's code to nothing; no image frame lies on the stack.
      {Then(MovRax(kUnmapped), {0xff, 0xe0}),
       "execution left the image's code for 0x7E0000400000, which is not code .no readable bytes., with no image "
       "frame on the stack"},
      // A call out of it names the image code it came from.
      {Then(MovRax(kUnmapped), {0xff, 0xd0}),
       "execution left the image's code for 0x7E0000400000, which is not code .no readable bytes., below image "
       "code at " + Hex(Body() + 12)},
      // Host code given a null pointer by the image: xor edi, edi; call rax.
      {Then(MovRax(Host), {0x31, 0xff, 0xff, 0xd0}),
       "host code at 0x[0-9A-F]+ .* raised a page fault at 0x0 while it ran for the image, below image code at " +
           Hex(Body() + 14)},
  };
  for (const auto &Case : Cases) {
    EXPECT_EXIT(RunOnBsp(Case.Code, Inputs()), ::testing::ExitedWithCode(3),
                "boot ended: " + Case.Problem + ".* .on processor 0.");
  }
}

TEST_F(TrapEmulatorDeathTest, FailureOnAHostThreadEndsTheProcessWithTheMessage) {
  EXPECT_EXIT(TrapAndRun({0x0f, 0x20, 0xc0}, Inputs()), ::testing::ExitedWithCode(70),  // mov rax, cr0
              "simulator error in the delivered image on a host thread: mov: the emulator does not support it, at " +
                  Hex(Body()));
}

TEST_F(TrapEmulatorDeathTest, FaultsOfHostCodeAfterAnImageRanEndWithTheCause) {
  // A thread that is not a simulated processor: the image's stray stores may have caused it.
  int *volatile Null = nullptr;
  EXPECT_EXIT({
    TrapPrivilegedInstructionsOnThisThread();
    *Null = 1;
  }, ::testing::ExitedWithCode(70), "the simulator's own code at 0x[0-9A-F]+ raised signal 0xB .address 0x0. after "
                                    "the delivered image had run");
  // The C library aborting (heap damage it found) ends the same way.
  EXPECT_EXIT(std::abort(), ::testing::ExitedWithCode(70), "raised signal 0x6 after .*the C library aborted");
}

// Without an image session in the process, neither a privileged instruction nor a register-window
// access outside an image's code is emulated, and a crash of the simulator stays a crash.
TEST(TrapHandlerDeathTest, FaultsOfHostCodeStillCrashWhenNoImageRan) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  std::string Why;
  if (!ImageTrapsSupported(Why)) GTEST_SKIP() << Why;
  int *volatile Null = nullptr;
  EXPECT_EXIT({
    TrapPrivilegedInstructionsOnThisThread();
    *Null = 1;
  }, ::testing::KilledBySignal(SIGSEGV), "");
  EXPECT_EXIT({
    TrapPrivilegedInstructionsOnThisThread();
    __asm__ __volatile__("wbinvd");
  }, ::testing::KilledBySignal(SIGSEGV), "");
  volatile uint32_t *Window = reinterpret_cast<volatile uint32_t *>(kWindow);
  EXPECT_EXIT({
    TrapPrivilegedInstructionsOnThisThread();
    *Window = 1;
  }, ::testing::KilledBySignal(SIGSEGV), "");
}

}  // namespace
}  // namespace sim
