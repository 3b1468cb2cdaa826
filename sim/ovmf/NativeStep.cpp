#include "sim/ovmf/NativeStep.h"

#include <Zydis/Zydis.h>
#include <sys/mman.h>

#include <cstring>
#include <mutex>
#include <stdexcept>

#include "sim/image/LongModeDecoder.h"

namespace sim {
namespace {

// The general registers but RSP, then RFLAGS, as the template reads and writes them.
struct NativeContext {
  uint64_t Rax, Rcx, Rdx, Rbx, Rbp, Rsi, Rdi, R8, R9, R10, R11, R12, R13, R14, R15, Rflags;
  uint8_t Xmm[16][16];
};
static_assert(sizeof(NativeContext) == 16 * 8 + 256, "the template's offsets");

constexpr size_t kSlot = 16;  // bytes left for the instruction, padded with NOPs

}  // namespace
}  // namespace sim

// The template, copied into an executable page with the instruction in its slot. It is entered with
// the context's address in RDI (System V), saves the callee-saved registers, loads the context, runs
// the slot, stores the context back and returns.
extern "C" const unsigned char CcxNativeStepBegin[], CcxNativeStepSlot[], CcxNativeStepEnd[];
__asm__(
    ".text\n"
    ".globl CcxNativeStepBegin\n.globl CcxNativeStepSlot\n.globl CcxNativeStepEnd\n"
    "CcxNativeStepBegin:\n"
    "  pushq %rbx\n  pushq %rbp\n  pushq %r12\n  pushq %r13\n  pushq %r14\n  pushq %r15\n"
    "  pushq %rdi\n"
    "  pushfq\n  popq %rax\n  andq $~0xCD5, %rax\n  movq 120(%rdi), %rcx\n  andq $0xCD5, %rcx\n  orq %rcx, %rax\n"
    "  pushq %rax\n  popfq\n"
    "  movdqu 128(%rdi), %xmm0\n  movdqu 144(%rdi), %xmm1\n  movdqu 160(%rdi), %xmm2\n  movdqu 176(%rdi), %xmm3\n  movdqu 192(%rdi), %xmm4\n  movdqu 208(%rdi), %xmm5\n  movdqu 224(%rdi), %xmm6\n  movdqu 240(%rdi), %xmm7\n  movdqu 256(%rdi), %xmm8\n  movdqu 272(%rdi), %xmm9\n  movdqu 288(%rdi), %xmm10\n  movdqu 304(%rdi), %xmm11\n  movdqu 320(%rdi), %xmm12\n  movdqu 336(%rdi), %xmm13\n  movdqu 352(%rdi), %xmm14\n  movdqu 368(%rdi), %xmm15\n"
    "  movq 0(%rdi), %rax\n  movq 8(%rdi), %rcx\n  movq 16(%rdi), %rdx\n  movq 24(%rdi), %rbx\n"
    "  movq 32(%rdi), %rbp\n  movq 40(%rdi), %rsi\n  movq 56(%rdi), %r8\n  movq 64(%rdi), %r9\n"
    "  movq 72(%rdi), %r10\n  movq 80(%rdi), %r11\n  movq 88(%rdi), %r12\n  movq 96(%rdi), %r13\n"
    "  movq 104(%rdi), %r14\n  movq 112(%rdi), %r15\n  movq 48(%rdi), %rdi\n"
    "CcxNativeStepSlot:\n"
    "  .fill 16, 1, 0x90\n"
    "  xchgq %rdi, (%rsp)\n"
    "  movq %rax, 0(%rdi)\n  movq %rcx, 8(%rdi)\n  movq %rdx, 16(%rdi)\n  movq %rbx, 24(%rdi)\n"
    "  movq %rbp, 32(%rdi)\n  movq %rsi, 40(%rdi)\n  movq %r8, 56(%rdi)\n  movq %r9, 64(%rdi)\n"
    "  movq %r10, 72(%rdi)\n  movq %r11, 80(%rdi)\n  movq %r12, 88(%rdi)\n  movq %r13, 96(%rdi)\n"
    "  movq %r14, 104(%rdi)\n  movq %r15, 112(%rdi)\n"
    "  pushfq\n  popq %rax\n  movq %rax, 120(%rdi)\n"
    "  movdqu %xmm0, 128(%rdi)\n  movdqu %xmm1, 144(%rdi)\n  movdqu %xmm2, 160(%rdi)\n  movdqu %xmm3, 176(%rdi)\n  movdqu %xmm4, 192(%rdi)\n  movdqu %xmm5, 208(%rdi)\n  movdqu %xmm6, 224(%rdi)\n  movdqu %xmm7, 240(%rdi)\n  movdqu %xmm8, 256(%rdi)\n  movdqu %xmm9, 272(%rdi)\n  movdqu %xmm10, 288(%rdi)\n  movdqu %xmm11, 304(%rdi)\n  movdqu %xmm12, 320(%rdi)\n  movdqu %xmm13, 336(%rdi)\n  movdqu %xmm14, 352(%rdi)\n  movdqu %xmm15, 368(%rdi)\n"
    "  popq %rax\n  movq %rax, 48(%rdi)\n"
    "  cld\n"
    "  popq %r15\n  popq %r14\n  popq %r13\n  popq %r12\n  popq %rbp\n  popq %rbx\n"
    "  ret\n"
    "CcxNativeStepEnd:\n");

namespace sim {
namespace {

bool IsStackOrInstructionPointer(ZydisRegister Register) {
  // The instruction pointer has no enclosing general register: it is named as it stands.
  if (Register == ZYDIS_REGISTER_RIP || Register == ZYDIS_REGISTER_EIP || Register == ZYDIS_REGISTER_IP) return true;
  return ZydisRegisterGetLargestEnclosing(ZYDIS_MACHINE_MODE_LONG_64, Register) == ZYDIS_REGISTER_RSP;
}

// Why the instruction may not run here, or "".
std::string Refusal(const ZydisDecodedInstruction &Instruction, const ZydisDecodedOperand *Operands) {
  switch (Instruction.meta.category) {
    case ZYDIS_CATEGORY_COND_BR:
    case ZYDIS_CATEGORY_UNCOND_BR:
    case ZYDIS_CATEGORY_CALL:
    case ZYDIS_CATEGORY_RET:
    case ZYDIS_CATEGORY_PUSH:
    case ZYDIS_CATEGORY_POP:
    case ZYDIS_CATEGORY_SYSTEM:
    case ZYDIS_CATEGORY_INTERRUPT:
      return "it branches, uses the stack or is a system instruction";
    default:
      break;
  }
  for (uint8_t Index = 0; Index < Instruction.operand_count; Index++) {
    const ZydisDecodedOperand &Operand = Operands[Index];
    if (Operand.type == ZYDIS_OPERAND_TYPE_REGISTER) {
      if (IsStackOrInstructionPointer(Operand.reg.value)) return "it uses RSP, RIP or the flags' stack";
      const ZydisRegisterClass Class = ZydisRegisterGetClass(Operand.reg.value);
      if (Class != ZYDIS_REGCLASS_GPR8 && Class != ZYDIS_REGCLASS_GPR16 && Class != ZYDIS_REGCLASS_GPR32 &&
          Class != ZYDIS_REGCLASS_GPR64 && Class != ZYDIS_REGCLASS_FLAGS && Class != ZYDIS_REGCLASS_XMM) {
        return "it uses a register other than the general ones and XMM0-15";
      }
    }
    if (Operand.type == ZYDIS_OPERAND_TYPE_MEMORY &&
        (IsStackOrInstructionPointer(Operand.mem.base) || IsStackOrInstructionPointer(Operand.mem.index) ||
         Operand.mem.segment == ZYDIS_REGISTER_FS || Operand.mem.segment == ZYDIS_REGISTER_GS)) {
      return "it addresses memory relative to RSP, RIP or a segment";
    }
  }
  return "";
}

// The executable page the template runs in; one step at a time.
std::mutex gPageLock;
unsigned char *Page() {
  static unsigned char *Made = [] {
    void *Mapped = mmap(nullptr, 4096, PROT_READ | PROT_WRITE | PROT_EXEC, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (Mapped == MAP_FAILED) throw std::runtime_error("cannot map a page to run the guest's instruction in");
    return static_cast<unsigned char *>(Mapped);
  }();
  return Made;
}

}  // namespace

std::string RunNativeStep(ccx_channel::Registers &Regs, uint8_t *Xmm, const uint8_t *Bytes, size_t Available) {
  ZydisDecodedInstruction Instruction;
  ZydisDecodedOperand Operands[ZYDIS_MAX_OPERAND_COUNT];
  if (ZYAN_FAILED(ZydisDecoderDecodeFull(&LongModeDecoder(), Bytes, Available < 15 ? Available : 15, &Instruction,
                                         Operands))) {
    return "not a valid instruction";
  }
  const std::string Why = Refusal(Instruction, Operands);
  if (!Why.empty()) return std::string(ZydisMnemonicGetString(Instruction.mnemonic)) + ": " + Why;

  NativeContext Context = {Regs.Rax, Regs.Rcx, Regs.Rdx, Regs.Rbx, Regs.Rbp, Regs.Rsi, Regs.Rdi, Regs.R8,
                           Regs.R9,  Regs.R10, Regs.R11, Regs.R12, Regs.R13, Regs.R14, Regs.R15, Regs.Rflags, {}};
  std::memcpy(Context.Xmm, Xmm, sizeof(Context.Xmm));
  {
    std::lock_guard<std::mutex> Guard(gPageLock);
    unsigned char *Code = Page();
    const size_t Size = size_t(CcxNativeStepEnd - CcxNativeStepBegin);
    const size_t Slot = size_t(CcxNativeStepSlot - CcxNativeStepBegin);
    std::memcpy(Code, CcxNativeStepBegin, Size);
    std::memset(Code + Slot, 0x90, kSlot);
    std::memcpy(Code + Slot, Bytes, Instruction.length);
    reinterpret_cast<void (*)(NativeContext *)>(Code)(&Context);
  }
  std::memcpy(Xmm, Context.Xmm, sizeof(Context.Xmm));
  Regs = {Context.Rax, Context.Rcx, Context.Rdx, Context.Rbx, Regs.Rsp, Context.Rbp, Context.Rsi, Context.Rdi,
          Context.R8,  Context.R9,  Context.R10, Context.R11, Context.R12, Context.R13, Context.R14, Context.R15,
          Regs.Rip + Instruction.length,
          (Regs.Rflags & ~ccx_channel::kArithmeticFlags) | (Context.Rflags & ccx_channel::kArithmeticFlags)};
  return "";
}

}  // namespace sim
