// Emulates one instruction of the delivered image that a user process may not execute: CPUID
// (and the simulation back-door that rides on it), RDTSC, RDMSR, WRMSR, IN, OUT, WBINVD, CLI, STI,
// HLT, and loads and stores to the machine's memory-mapped register windows. Each goes through the
// very hooks the host build of the driver calls, so both reach the same processor and device models.
#ifndef SIM_IMAGE_INSTRUCTION_EMULATOR_H_
#define SIM_IMAGE_INSTRUCTION_EMULATOR_H_

#include <ucontext.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

enum class TrapKind : unsigned {
  Cpuid,
  Backdoor,
  TimeStamp,
  MsrRead,
  MsrWrite,
  PortRead,
  PortWrite,
  CacheFlush,
  InterruptFlag,
  Halt,
  MmioRead,
  MmioWrite,
  Count
};
constexpr size_t kTrapKindCount = static_cast<size_t>(TrapKind::Count);

// The name the report uses ("cpuid", "msr_read", ...).
const char *TrapKindName(TrapKind Kind);

struct TrapOutcome {
  enum Result {
    Emulated,     // done; the context resumes after the instruction
    Halted,       // HLT: nothing in the simulation raises the interrupt that would wake it
    Unsupported,  // the emulator does not know the instruction (Problem says which)
  } How = Unsupported;
  TrapKind Kind = TrapKind::Count;
  std::string Problem;
};

// Emulates the instruction at the context's instruction pointer. PageFault tells that the
// instruction touched FaultAddress in a register window (a load or a store to emulate) rather
// than raising a general-protection fault. On Emulated the instruction pointer has moved past it.
// The hooks may throw (a simulator error); the caller handles that.
TrapOutcome EmulateInstruction(ucontext_t &Context, bool PageFault, uint64_t FaultAddress);

// The same, for an instruction whose bytes lie elsewhere than at the instruction pointer: the
// original bytes of an instruction that real firmware has rewritten so it traps, sent with the
// registers of the processor that ran it (Available of them, at most 15).
TrapOutcome EmulateInstructionBytes(ucontext_t &Context, const uint8_t *Bytes, size_t Available, bool PageFault,
                                    uint64_t FaultAddress);

// "48 8b 01" for the bytes at Address (at most 15, fewer when Available says so, or when the
// bytes end at memory this process cannot read; "no readable bytes" when none can be read).
std::string InstructionBytes(uint64_t Address, size_t Available = 15);

// Copies up to Size bytes at Address into Out without touching Address directly, so that an
// address this process cannot read gives fewer bytes (or none) rather than a second fault. Safe
// inside a signal handler. Returns how many bytes were copied.
size_t CopyReadableBytes(uint64_t Address, void *Out, size_t Size);

}  // namespace sim

#endif  // SIM_IMAGE_INSTRUCTION_EMULATOR_H_
