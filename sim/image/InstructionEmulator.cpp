#include "sim/image/InstructionEmulator.h"

#include <Zydis/Zydis.h>

#include <sys/uio.h>
#include <unistd.h>

#include <cstdio>

#include "arch/Cpuid.h"
#include "arch/host/HostHooks.h"
#include "sim/image/LongModeDecoder.h"

namespace sim {
namespace {

// Where a general-purpose register of the decoded instruction lives in the saved context, and
// which of its bytes the instruction names (AH is bits 15:8 of RAX).
struct RegisterSlot {
  int Greg = -1;
  unsigned Bits = 0;
  unsigned Shift = 0;
};

int GregOf(ZydisRegister Full) {
  switch (Full) {
    case ZYDIS_REGISTER_RAX: return REG_RAX;
    case ZYDIS_REGISTER_RBX: return REG_RBX;
    case ZYDIS_REGISTER_RCX: return REG_RCX;
    case ZYDIS_REGISTER_RDX: return REG_RDX;
    case ZYDIS_REGISTER_RSI: return REG_RSI;
    case ZYDIS_REGISTER_RDI: return REG_RDI;
    case ZYDIS_REGISTER_RBP: return REG_RBP;
    case ZYDIS_REGISTER_RSP: return REG_RSP;
    case ZYDIS_REGISTER_R8: return REG_R8;
    case ZYDIS_REGISTER_R9: return REG_R9;
    case ZYDIS_REGISTER_R10: return REG_R10;
    case ZYDIS_REGISTER_R11: return REG_R11;
    case ZYDIS_REGISTER_R12: return REG_R12;
    case ZYDIS_REGISTER_R13: return REG_R13;
    case ZYDIS_REGISTER_R14: return REG_R14;
    case ZYDIS_REGISTER_R15: return REG_R15;
    default: return -1;
  }
}

RegisterSlot SlotOf(ZydisRegister Register) {
  RegisterSlot Slot;
  Slot.Greg = GregOf(ZydisRegisterGetLargestEnclosing(ZYDIS_MACHINE_MODE_LONG_64, Register));
  Slot.Bits = ZydisRegisterGetWidth(ZYDIS_MACHINE_MODE_LONG_64, Register);
  if (Register == ZYDIS_REGISTER_AH || Register == ZYDIS_REGISTER_BH || Register == ZYDIS_REGISTER_CH ||
      Register == ZYDIS_REGISTER_DH) {
    Slot.Shift = 8;
  }
  return Slot;
}

uint64_t Mask(unsigned Bits) { return Bits >= 64 ? ~0ULL : (1ULL << Bits) - 1; }

class Registers {
 public:
  explicit Registers(ucontext_t &Context) : Gregs_(Context.uc_mcontext.gregs) {}

  uint64_t Get(int Greg) const { return static_cast<uint64_t>(Gregs_[Greg]); }
  void Set(int Greg, uint64_t Value) { Gregs_[Greg] = static_cast<greg_t>(Value); }

  uint64_t Read(const RegisterSlot &Slot) const { return (Get(Slot.Greg) >> Slot.Shift) & Mask(Slot.Bits); }
  // Writes as the processor does: a 32-bit destination clears bits 63:32, narrower ones keep the rest.
  void Write(const RegisterSlot &Slot, uint64_t Value) {
    if (Slot.Bits == 32 || Slot.Bits == 64) {
      Set(Slot.Greg, Value & Mask(Slot.Bits));
      return;
    }
    const uint64_t Field = Mask(Slot.Bits) << Slot.Shift;
    Set(Slot.Greg, (Get(Slot.Greg) & ~Field) | ((Value << Slot.Shift) & Field));
  }
  void Advance(unsigned Length) { Set(REG_RIP, Get(REG_RIP) + Length); }

 private:
  greg_t *Gregs_;
};

TrapOutcome Done(TrapKind Kind) { return {TrapOutcome::Emulated, Kind, ""}; }

TrapOutcome Refused(const char *Mnemonic, const std::string &Why) {
  return {TrapOutcome::Unsupported, TrapKind::Count, std::string(Mnemonic) + ": " + Why};
}

uint64_t SignExtend(uint64_t Value, unsigned Bits) {
  if (Bits >= 64) return Value;
  const uint64_t Sign = 1ULL << (Bits - 1);
  return ((Value & Mask(Bits)) ^ Sign) - Sign;
}

// The value a source operand holds: a register or an immediate.
bool SourceValue(const Registers &Regs, const ZydisDecodedOperand &Operand, uint64_t &Value) {
  if (Operand.type == ZYDIS_OPERAND_TYPE_REGISTER) {
    const RegisterSlot Slot = SlotOf(Operand.reg.value);
    if (Slot.Greg < 0) return false;
    Value = Regs.Read(Slot);
    return true;
  }
  if (Operand.type == ZYDIS_OPERAND_TYPE_IMMEDIATE) {
    // A signed immediate is sign-extended to the full width; the caller cuts it to the access's
    // width (mov qword [m], imm32 stores the 32-bit immediate sign-extended to 64 bits).
    Value = Operand.imm.is_signed ? SignExtend(Operand.imm.value.u, Operand.size)
                                  : Operand.imm.value.u & Mask(Operand.size);
    return true;
  }
  return false;
}

// A load or store to a register window: MOV in either direction (register or immediate source),
// and the widening loads MOVZX and MOVSX.
TrapOutcome EmulateMmio(Registers &Regs, const ZydisDecodedInstruction &Instruction,
                        const ZydisDecodedOperand *Operands, uint64_t Address) {
  const CCX_ARCH_HOST_HOOKS &Hooks = CcxArchHostHooks();
  const char *Name = ZydisMnemonicGetString(Instruction.mnemonic);
  if (Instruction.mnemonic != ZYDIS_MNEMONIC_MOV && Instruction.mnemonic != ZYDIS_MNEMONIC_MOVZX &&
      Instruction.mnemonic != ZYDIS_MNEMONIC_MOVSX) {
    return Refused(Name, "not a load or store the register windows support");
  }
  const ZydisDecodedOperand &Destination = Operands[0];
  const ZydisDecodedOperand &Source = Operands[1];
  if (Destination.type == ZYDIS_OPERAND_TYPE_MEMORY && Instruction.mnemonic == ZYDIS_MNEMONIC_MOV) {
    uint64_t Value = 0;
    if (!SourceValue(Regs, Source, Value)) return Refused(Name, "source is neither a register nor an immediate");
    Hooks.MmioWrite(Address, Destination.size / 8, Value & Mask(Destination.size));
    Regs.Advance(Instruction.length);
    return Done(TrapKind::MmioWrite);
  }
  if (Destination.type != ZYDIS_OPERAND_TYPE_REGISTER || Source.type != ZYDIS_OPERAND_TYPE_MEMORY) {
    return Refused(Name, "neither a load into a register nor a store");
  }
  const RegisterSlot Slot = SlotOf(Destination.reg.value);
  if (Slot.Greg < 0) return Refused(Name, "destination is not a general-purpose register");
  uint64_t Value = Hooks.MmioRead(Address, Source.size / 8);
  if (Instruction.mnemonic == ZYDIS_MNEMONIC_MOVSX) Value = SignExtend(Value, Source.size);
  Regs.Write(Slot, Value & Mask(Destination.size));
  Regs.Advance(Instruction.length);
  return Done(TrapKind::MmioRead);
}

// IN and OUT: the port is DX or an immediate byte, the data AL, AX or EAX.
TrapOutcome EmulatePort(Registers &Regs, const ZydisDecodedInstruction &Instruction,
                        const ZydisDecodedOperand *Operands) {
  const CCX_ARCH_HOST_HOOKS &Hooks = CcxArchHostHooks();
  const bool In = Instruction.mnemonic == ZYDIS_MNEMONIC_IN;
  const ZydisDecodedOperand &Data = In ? Operands[0] : Operands[1];
  const ZydisDecodedOperand &PortOperand = In ? Operands[1] : Operands[0];
  uint64_t Port = 0;
  const RegisterSlot DataSlot = Data.type == ZYDIS_OPERAND_TYPE_REGISTER ? SlotOf(Data.reg.value) : RegisterSlot{};
  if (DataSlot.Greg < 0 || !SourceValue(Regs, PortOperand, Port)) {
    return Refused(ZydisMnemonicGetString(Instruction.mnemonic), "operands are not a port and AL, AX or EAX");
  }
  const unsigned Width = Data.size / 8;
  if (In) {
    Regs.Write(DataSlot, Hooks.IoRead(static_cast<uint16_t>(Port), Width));
  } else {
    Hooks.IoWrite(static_cast<uint16_t>(Port), Width, static_cast<uint32_t>(Regs.Read(DataSlot)));
  }
  Regs.Advance(Instruction.length);
  return Done(In ? TrapKind::PortRead : TrapKind::PortWrite);
}

TrapOutcome EmulateCpuid(Registers &Regs, unsigned Length) {
  const CCX_ARCH_HOST_HOOKS &Hooks = CcxArchHostHooks();
  const uint32_t Leaf = static_cast<uint32_t>(Regs.Get(REG_RAX));
  const uint32_t SubLeaf = static_cast<uint32_t>(Regs.Get(REG_RCX));
  if (Leaf == CpuidLeaf::BackdoorLeaf && static_cast<uint32_t>(Regs.Get(REG_RBX)) == CpuidLeaf::BackdoorEbx) {
    // The back-door answers in SI; the other outputs of the instruction carry nothing.
    const uint16_t Answer = Hooks.BackdoorQuery();
    Regs.Set(REG_RSI, (Regs.Get(REG_RSI) & ~0xFFFFULL) | Answer);
    for (int Greg : {REG_RAX, REG_RBX, REG_RCX, REG_RDX}) Regs.Set(Greg, 0);
    Regs.Advance(Length);
    return Done(TrapKind::Backdoor);
  }
  uint32_t Values[4] = {0, 0, 0, 0};
  Hooks.Cpuid(Leaf, SubLeaf, Values);
  Regs.Set(REG_RAX, Values[0]);
  Regs.Set(REG_RBX, Values[1]);
  Regs.Set(REG_RCX, Values[2]);
  Regs.Set(REG_RDX, Values[3]);
  Regs.Advance(Length);
  return Done(TrapKind::Cpuid);
}

void SetEdxEax(Registers &Regs, uint64_t Value) {
  Regs.Set(REG_RAX, Value & 0xFFFFFFFFULL);
  Regs.Set(REG_RDX, Value >> 32);
}

}  // namespace

const ZydisDecoder &LongModeDecoder() {
  static const ZydisDecoder Instance = [] {
    ZydisDecoder Made;
    ZydisDecoderInit(&Made, ZYDIS_MACHINE_MODE_LONG_64, ZYDIS_STACK_WIDTH_64);
    return Made;
  }();
  return Instance;
}

const char *TrapKindName(TrapKind Kind) {
  switch (Kind) {
    case TrapKind::Cpuid: return "cpuid";
    case TrapKind::Backdoor: return "backdoor";
    case TrapKind::TimeStamp: return "rdtsc";
    case TrapKind::MsrRead: return "rdmsr";
    case TrapKind::MsrWrite: return "wrmsr";
    case TrapKind::PortRead: return "in";
    case TrapKind::PortWrite: return "out";
    case TrapKind::CacheFlush: return "wbinvd";
    case TrapKind::InterruptFlag: return "cli_sti";
    case TrapKind::Halt: return "hlt";
    case TrapKind::MmioRead: return "mmio_read";
    case TrapKind::MmioWrite: return "mmio_write";
    case TrapKind::Count: break;
  }
  return "unknown";
}

size_t CopyReadableBytes(uint64_t Address, void *Out, size_t Size) {
  iovec Local{Out, Size};
  iovec Remote{reinterpret_cast<void *>(Address), Size};
  const ssize_t Copied = process_vm_readv(getpid(), &Local, 1, &Remote, 1, 0);
  return Copied < 0 ? 0 : static_cast<size_t>(Copied);
}

std::string InstructionBytes(uint64_t Address, size_t Available) {
  uint8_t Bytes[15];
  const size_t Readable = CopyReadableBytes(Address, Bytes, Available < 15 ? Available : 15);
  if (Readable == 0) return "no readable bytes";
  std::string Text;
  for (size_t Index = 0; Index < Readable; Index++) {
    char Byte[4];
    std::snprintf(Byte, sizeof(Byte), Index == 0 ? "%02x" : " %02x", Bytes[Index]);
    Text += Byte;
  }
  return Text;
}

TrapOutcome EmulateInstruction(ucontext_t &Context, bool PageFault, uint64_t FaultAddress) {
  const uint64_t Rip = static_cast<uint64_t>(Context.uc_mcontext.gregs[REG_RIP]);
  // The instruction may end the image's last page: only the bytes that can be read are decoded.
  uint8_t Bytes[15];
  const size_t Readable = CopyReadableBytes(Rip, Bytes, sizeof(Bytes));
  return EmulateInstructionBytes(Context, Bytes, Readable, PageFault, FaultAddress);
}

TrapOutcome EmulateInstructionBytes(ucontext_t &Context, const uint8_t *Bytes, size_t Available, bool PageFault,
                                    uint64_t FaultAddress) {
  Registers Regs(Context);
  ZydisDecodedInstruction Instruction;
  ZydisDecodedOperand Operands[ZYDIS_MAX_OPERAND_COUNT];
  if (ZYAN_FAILED(ZydisDecoderDecodeFull(&LongModeDecoder(), Bytes, Available < 15 ? Available : 15, &Instruction,
                                         Operands))) {
    return Refused("(undecodable)", "not a valid instruction");
  }
  if (PageFault) return EmulateMmio(Regs, Instruction, Operands, FaultAddress);

  const CCX_ARCH_HOST_HOOKS &Hooks = CcxArchHostHooks();
  switch (Instruction.mnemonic) {
    case ZYDIS_MNEMONIC_CPUID:
      return EmulateCpuid(Regs, Instruction.length);
    case ZYDIS_MNEMONIC_RDTSC:
      SetEdxEax(Regs, Hooks.ReadTimeStampCounter());
      Regs.Advance(Instruction.length);
      return Done(TrapKind::TimeStamp);
    case ZYDIS_MNEMONIC_RDMSR:
      SetEdxEax(Regs, Hooks.ReadMsr(static_cast<uint32_t>(Regs.Get(REG_RCX))));
      Regs.Advance(Instruction.length);
      return Done(TrapKind::MsrRead);
    case ZYDIS_MNEMONIC_WRMSR:
      Hooks.WriteMsr(static_cast<uint32_t>(Regs.Get(REG_RCX)),
                     (Regs.Get(REG_RDX) << 32) | (Regs.Get(REG_RAX) & 0xFFFFFFFFULL));
      Regs.Advance(Instruction.length);
      return Done(TrapKind::MsrWrite);
    case ZYDIS_MNEMONIC_IN:
    case ZYDIS_MNEMONIC_OUT:
      return EmulatePort(Regs, Instruction, Operands);
    case ZYDIS_MNEMONIC_WBINVD:
      Hooks.WriteBackInvalidateCaches();
      Regs.Advance(Instruction.length);
      return Done(TrapKind::CacheFlush);
    case ZYDIS_MNEMONIC_CLI:
    case ZYDIS_MNEMONIC_STI:
      // No interrupt is ever delivered to a simulated processor, so the flag changes nothing.
      Regs.Advance(Instruction.length);
      return Done(TrapKind::InterruptFlag);
    case ZYDIS_MNEMONIC_HLT:
      return {TrapOutcome::Halted, TrapKind::Halt, "HLT: no interrupt will wake the processor"};
    default:
      return Refused(ZydisMnemonicGetString(Instruction.mnemonic), "the emulator does not support it");
  }
}

}  // namespace sim
