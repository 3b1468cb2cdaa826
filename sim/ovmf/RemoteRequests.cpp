#include "sim/ovmf/RemoteRequests.h"

#include <sys/uio.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "sim/HexText.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/ovmf/NativeStep.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"

namespace sim {
namespace {

using namespace ccx_channel;

// The general registers in the layout the emulator works on.
constexpr int kGregOf[] = {REG_RAX, REG_RCX, REG_RDX, REG_RBX, REG_RSP, REG_RBP, REG_RSI, REG_RDI, REG_R8,
                           REG_R9,  REG_R10, REG_R11, REG_R12, REG_R13, REG_R14, REG_R15, REG_RIP, REG_EFL};

uint64_t *Slots(Registers &Regs) { return &Regs.Rax; }

std::string BytesText(const uint8_t *Bytes, size_t Count) {
  std::string Text;
  for (size_t Index = 0; Index < Count; Index++) Text += (Index == 0 ? "" : " ") + Hex(Bytes[Index], 2).substr(2);
  return Text;
}

bool HostMemoryReadable(uint64_t Address) {
  uint8_t Byte;
  iovec Local{&Byte, 1}, Remote{reinterpret_cast<void *>(Address), 1};
  return process_vm_readv(getpid(), &Local, 1, &Remote, 1, 0) == 1;
}

std::string TextOf(const Mailbox &Box) {
  return std::string(reinterpret_cast<const char *>(Box.Data), Box.Header.DataSize);
}

}  // namespace

RemoteRequests::RemoteRequests(Platform &Machine, const RemoteImage &Image, const GuestMemory &Memory,
                               std::vector<std::string> &Steps)
    : Machine_(Machine), Image_(Image), Memory_(Memory), Steps_(Steps), Siblings_(Machine) {}

void RemoteRequests::Arrive(Mailbox &Box) {
  const std::string What = TextOf(Box);
  std::vector<std::string> Names;
  if (What == "start") {
    for (const std::string &Name : KnownSiblings()) {
      if (Machine_.Description().SiblingAtStart(Name)) Names.push_back(Name);
    }
  } else {
    Names = Machine_.ArrivalsAfter(What);
    for (const std::string &Name : Names) {
      Steps_.push_back("arrival of " + Name);
      Machine_.Hardware().Accounting().Enter(Steps_.back());
    }
  }
  Box.Header.DataSize = static_cast<uint32_t>(Siblings_.Offer(Names, Box.Data, sizeof(Box.Data)));
}

void RemoteRequests::Hobs(Mailbox &Box) {
  const std::vector<uint8_t> Guided = Machine_.MachineGuidHobs();
  if (Guided.size() > sizeof(Box.Data)) throw std::runtime_error("the machine's HOBs do not fit the mailbox");
  std::memcpy(Box.Data, Guided.data(), Guided.size());
  Box.Header.DataSize = static_cast<uint32_t>(Guided.size());
}

Processor &RemoteRequests::Asking(const Mailbox &Box) {
  if (Box.Header.Processor >= Machine_.Processors().Count()) {
    throw std::runtime_error("a request came from processor " + std::to_string(Box.Header.Processor) +
                             ", and the machine has " + std::to_string(Machine_.Processors().Count()));
  }
  return Machine_.Processors().At(Box.Header.Processor);
}

void RemoteRequests::Hello(Mailbox &Box) {
  const size_t Count = Machine_.Processors().Count();
  if (Box.Header.Value != Count) {
    throw std::runtime_error("OVMF's MP services report " + std::to_string(Box.Header.Value) +
                             " processors, and the machine has " + std::to_string(Count));
  }
  // The SMM communication buffer the machine provides lies where the firmware can reach it.
  Memory_.At(Box.Header.FaultAddress, kMachineBlockSize);
  MachineBlock_ = Box.Header.FaultAddress;
  if (Machine_.Description().S3.CommBuffer) {
    Machine_.Pcd().SetEx(gQorvexS3SaveTokenSpaceGuid, PcdQorvexS3SmmCommBufferAddress, Box.Header.FaultAddress);
  }
  HelloAnswer Answer{static_cast<uint32_t>(Image_.File.size()), static_cast<uint32_t>(Image_.Sites.size()),
                     static_cast<uint32_t>(Image_.Windows.size()), 0};
  const size_t Needed = sizeof(Answer) + Image_.Sites.size() * 4 + Image_.Windows.size() * sizeof(AddressWindow);
  if (Needed > sizeof(Box.Data)) {
    throw std::runtime_error("the image's " + std::to_string(Image_.Sites.size()) + " trap sites do not fit the mailbox");
  }
  uint8_t *Out = Box.Data;
  std::memcpy(Out, &Answer, sizeof(Answer));
  Out += sizeof(Answer);
  for (const TrapSite &Site : Image_.Sites) {
    std::memcpy(Out, &Site.Rva, 4);
    Out += 4;
  }
  for (const AddressRange &Window : Image_.Windows) {
    const AddressWindow Record{Window.Base, Window.Size};
    std::memcpy(Out, &Record, sizeof(Record));
    Out += sizeof(Record);
  }
  Box.Header.DataSize = static_cast<uint32_t>(Needed);
}

void RemoteRequests::CallHostFunction(Mailbox &Box) {
  // The guest called a function of this process (one a caller handed the driver): the arguments as
  // the calling convention lays them out, the stack's in the guest's RAM, then a return.
  Registers &Regs = Box.Header.Regs;
  uint64_t Stacked[6];
  std::memcpy(Stacked, Memory_.At(Regs.Rsp + 0x28, sizeof(Stacked)), sizeof(Stacked));
  using HostFunction = uint64_t(EFIAPI *)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                          uint64_t, uint64_t, uint64_t);
  Regs.Rax = reinterpret_cast<HostFunction>(Regs.Rip)(Regs.Rcx, Regs.Rdx, Regs.R8, Regs.R9, Stacked[0], Stacked[1],
                                                       Stacked[2], Stacked[3], Stacked[4], Stacked[5]);
  std::memcpy(&Regs.Rip, Memory_.At(Regs.Rsp, 8), 8);
  Regs.Rsp += 8;
}

void RemoteRequests::Emulate(Mailbox &Box) {
  Processor &Running = Asking(Box);
  const MailboxHeader &Header = Box.Header;
  const bool PageFault = Header.Request == kPageFault;
  const uint64_t Rip = Header.Regs.Rip;
  const std::string Where = "processor " + std::to_string(Running.Index()) + " at " + Hex(Rip);
  ImageBase_ = Header.Value;
  const bool InImage = Rip >= ImageBase_ && Rip - ImageBase_ < Image_.SizeOfImage;
  bool InWindow = false;
  for (const AddressRange &Window : Image_.Windows) InWindow = InWindow || Window.Contains(Header.FaultAddress);
  // While the host calls a driver service, a fault on the caller's buffer may come from the image or
  // from the firmware code it calls (CopyMem).
  const bool ToHost = PageFault && !InWindow && HostMemory_ && HostMemoryReadable(Header.FaultAddress);
  if (ToHost && Header.FaultAddress == Rip && IsHostFunction(Rip)) {
    CallHostFunction(Box);
    return;
  }
  const TrapSite *Site = InImage && !PageFault ? TrapSiteAt(Image_.Sites, static_cast<uint32_t>(Rip - ImageBase_)) : nullptr;
  if (!InImage && !ToHost) {
    throw std::runtime_error(std::string(PageFault ? "a page fault at " + Hex(Header.FaultAddress) : "an invalid opcode") +
                             " outside the image, " + Where + " (" + BytesText(Header.Instruction, 15) + ")");
  }
  if (!PageFault && Site == nullptr) {
    throw std::runtime_error("an invalid opcode in the image that is no trap site, " + Where + " (RVA " +
                             Hex(Rip - ImageBase_) + ": " + BytesText(Header.Instruction, 15) + ")");
  }
  if (PageFault && !ToHost && !InWindow) {
    throw std::runtime_error("image code " + Where + " (" + BytesText(Header.Instruction, 15) + ") touched " +
                             Hex(Header.FaultAddress) + ", which is neither RAM nor a register window");
  }
  if (ToHost) {
    // A driver service the host called touched a buffer of the caller's: run the instruction here.
    if (Box.Header.DataSize != kXmmBytes) throw std::runtime_error("a page fault came without the XMM registers");
    Registers Moved = Header.Regs;
    const std::string Why = RunNativeStep(Moved, Box.Data, Header.Instruction, sizeof(Header.Instruction) - 1);
    if (!Why.empty()) {
      throw std::runtime_error(Why + ", " + Where + " touching the caller's " + Hex(Header.FaultAddress) + " (" +
                               BytesText(Header.Instruction, 15) + ")");
    }
    Box.Header.Regs = Moved;
    return;
  }
  ucontext_t Context{};
  Registers Regs = Header.Regs;
  for (size_t Index = 0; Index < std::size(kGregOf); Index++) {
    Context.uc_mcontext.gregs[kGregOf[Index]] = static_cast<greg_t>(Slots(Regs)[Index]);
  }
  const uint8_t *Bytes = PageFault ? Header.Instruction : Site->Bytes;
  const size_t Available = PageFault ? 15 : Site->Length;
  TrapOutcome Outcome;
  {
    ProcessorBinding RunningAs(Running);
    Outcome = EmulateInstructionBytes(Context, Bytes, Available, PageFault, Header.FaultAddress);
  }
  if (Outcome.How != TrapOutcome::Emulated) {
    throw std::runtime_error(Outcome.Problem + ", " + Where + " (" + BytesText(Bytes, Available) + ")");
  }
  Counts_[static_cast<size_t>(Outcome.Kind)]++;
  for (size_t Index = 0; Index < std::size(kGregOf); Index++) {
    Slots(Regs)[Index] = static_cast<uint64_t>(Context.uc_mcontext.gregs[kGregOf[Index]]);
  }
  Box.Header.Regs = Regs;
}

ChannelLink::Next RemoteRequests::Answer(Mailbox &Box) {
  using Next = ChannelLink::Next;
  Box.Header.Answer = kResume;
  switch (Box.Header.Request) {
    case kHello:
      Hello(Box);
      return Next::Continue;
    case kImageBytes:
      std::memcpy(Memory_.At(Box.Header.Value, Image_.File.size()), Image_.File.data(), Image_.File.size());
      return Next::Continue;
    case kTrap:
    case kPageFault:
      Emulate(Box);
      return Next::Continue;
    case kStep:
      Steps_.push_back(TextOf(Box));
      Machine_.Hardware().Accounting().Enter(Steps_.back());
      return Next::Continue;
    case kArrive:
      Arrive(Box);
      return Next::Continue;
    case kHobs:
      Hobs(Box);
      return Next::Continue;
    case kCall: {
      if (Box.Header.DataSize < sizeof(CallFrame)) throw std::runtime_error("a sibling call came without its arguments");
      CallFrame Frame;
      std::memcpy(&Frame, Box.Data, sizeof(Frame));
      ProcessorBinding RunningAs(Asking(Box));
      Box.Header.Value = Siblings_.Call(static_cast<uint32_t>(Box.Header.Value), Frame);
      return Next::Continue;
    }
    case kSurvey:
      Survey_ = ReadFirmwareSurvey(std::span<const uint8_t>(Box.Data, Box.Header.DataSize));
      return Next::Continue;
    case kPages: {
      uint32_t Type = 0;
      if (Box.Header.DataSize >= sizeof(Type)) std::memcpy(&Type, Box.Data, sizeof(Type));
      const MemoryRange Range{Box.Header.Value, Box.Header.FaultAddress, Type};
      if (Type != kPagesFreed) {
        ImagePages_.push_back(Range);
      } else {
        std::erase_if(ImagePages_, [&Range](const MemoryRange &Held) {
          return Held.base == Range.base && Held.pages == Range.pages;
        });
      }
      return Next::Continue;
    }
    case kAfterBoot:
      if (AfterBoot_) AfterBoot_(Box);
      Box.Header.Answer = kResume;
      return Next::Continue;
    case kCallDone:
      throw std::runtime_error("the platform package said a call returned, and none was made");
    case kFinish:
      EntryStatus_ = Box.Header.Value;
      Box.Header.Answer = kStop;
      return Next::Finish;
    case kFailure:
      throw std::runtime_error("the platform package stopped: " + TextOf(Box));
    default:
      throw std::runtime_error("the platform package sent request " + std::to_string(Box.Header.Request) +
                               ", which this ccxsim does not know");
  }
}

}  // namespace sim
