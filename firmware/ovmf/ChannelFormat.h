// The one message format between the platform package, which runs inside real UEFI firmware
// (OVMF under QEMU), and the ccxsim process that simulates the machine.
//
// The two share a mailbox in the guest's RAM (QEMU maps the RAM from a file the host maps too)
// and a 16550 UART at port 0x3E8 whose far end is a socket of the host. A request is written into
// the mailbox, then the guest sends one doorbell byte; the host reads the mailbox, writes its
// answer there and sends one byte back. Only the very first message, which tells the host where
// the mailbox is, travels on the UART itself: HelloByte, then the mailbox's physical address as 8
// bytes, least significant first. One request is in flight at a time: processors take the
// package's channel lock around a whole exchange, so APs may trap concurrently.
#ifndef FIRMWARE_OVMF_CHANNEL_FORMAT_H_
#define FIRMWARE_OVMF_CHANNEL_FORMAT_H_

#include <cstdint>

namespace ccx_channel {

inline constexpr uint32_t kMagic = 0x4E484343;  // "CCHN"
inline constexpr uint32_t kVersion = 1;
inline constexpr uint16_t kPort = 0x3E8;
inline constexpr uint8_t kHelloByte = 'H';
inline constexpr uint8_t kDoorbell = 'R';
inline constexpr uint8_t kAnswered = 'A';
inline constexpr uint32_t kMailboxSize = 64 * 1024;
inline constexpr uint32_t kMachineBlockSize = 64 * 1024;
// The byte a trap site starts with once rewritten: PUSH ES, which is invalid in 64-bit mode and
// one byte long, so it raises #UD on any instruction, even a one-byte IN, OUT or HLT, without
// touching the instruction after it.
inline constexpr uint8_t kTrapOpcode = 0x06;

enum Request : uint32_t {
  kHello = 1,       // Value: the number of processors MP services reports; FaultAddress: a block of
                    // kMachineBlockSize bytes of runtime-services data the package set aside for
                    // buffers the machine's other components own (the SMM communication buffer)
  kImageBytes = 2,  // Value: where the host is to write the image file (HelloAnswer::ImageSize bytes)
  kTrap = 3,        // #UD at a rewritten site: Regs, Value the image's base
  kPageFault = 4,   // #PF in a register window: Regs, FaultAddress (CR2), Instruction the bytes at RIP,
                    // Data the 16 XMM registers (kXmmBytes), which the answer may change
  kStep = 5,        // a boot step begins: Data its name
  kFinish = 6,      // the boot is over: Value the entry point's status
  kFailure = 7,     // the package hit something it cannot go on from: Data says what
  kArrive = 8,      // Data names what happened ("start", "entry", "ready_to_lock", "ready_to_boot"); the
                    // answer's Data holds the sibling protocols that arrive with it (ProtocolOffer list)
  kCall = 9,        // a sibling protocol function was called: Value its stub number, Data a CallFrame;
                    // the answer's Value is what the function returned
  kHobs = 10,       // the answer's Data holds the HOBs the machine's earlier phases left, to be added
                    // to the firmware's HOB list
  kSurvey = 11,     // what the firmware holds after the boot: Data is a list of SurveyEntry records
  kAfterBoot = 12,  // the boot is played: the package waits for the calls the outside table builders
                    // make (answers kCallGuest) until the answer is kResume; Value: the boot
                    // services table, whose functions ccxsim may call too (GetMemoryMap)
  kCallDone = 13,   // the function of the last kCallGuest returned: Value is what it returned
  kPages = 14,      // the image took pages (FaultAddress the count, Value the address, Data a uint32_t
                    // memory type) or, with the type kPagesFreed, gave them back
};

inline constexpr uint32_t kPagesFreed = 0xFFFFFFFF;

// One record of kSurvey's Data: the tag, then Size bytes.
struct SurveyEntry {
  uint16_t Kind;
  uint16_t Reserved;
  uint32_t Size;
};

enum SurveyKind : uint16_t {
  kSurveyInstalled = 1,   // uint32_t handle (1 = the first handle made since the package started), GUID,
                          // uint64_t where the protocol's interface lies
  kSurveyVariable = 2,    // GUID, uint32_t name bytes, uint32_t data bytes, the UCS-2 name, the data
  kSurveySmmCall = 3,     // SurveySmmCall
  kSurveySmramRegion = 4, // uint64_t physical start, CPU start, size, region state
  kSurveySmmAccess = 5,   // the SMM core's phase found EFI_SMM_ACCESS2_PROTOCOL (no payload)
  kSurveyInterface = 6,   // GUID, uint64_t where its interface lies
  kSurveyMemory = 7,      // uint32_t memory type, uint32_t 0, uint64_t physical start, uint64_t pages
  kSurveyTruncated = 8,   // the records did not all fit (no payload)
  kSurveyEvent = 9,       // SurveyEvent, then WaitCount GUIDs: an event the image created and left open
  kSurveyMemoryBefore = 10,  // as kSurveyMemory, for the map before the image was loaded
};

inline constexpr uint32_t kMostWaits = 4;

struct SurveyEvent {
  uint64_t Notify;  // the notify function's address
  uint64_t Tpl;
  uint32_t HasGroup;
  uint32_t WaitCount;  // protocols it was registered for
  uint8_t Group[16];
};

struct SurveySmmCall {
  uint32_t Operation;  // SmmOperation
  uint32_t States;     // bit 0 OpenState, bit 1 LockState after the call
  uint64_t Status;
};

enum SmmOperation : uint32_t { kSmmGetCapabilities = 0, kSmmOpen = 1, kSmmClose = 2, kSmmLock = 3 };

enum Answer : uint32_t {
  kResume = 1,  // done; for kTrap and kPageFault Regs hold the registers to resume with
  kStop = 2,    // the host ended the boot (Data says why); the processor must not go on
  kCallGuest = 3,  // to kAfterBoot or kCallDone: call the function at Value with the kCallArguments
                   // arguments in Data, then send kCallDone
};

struct Registers {
  uint64_t Rax, Rcx, Rdx, Rbx, Rsp, Rbp, Rsi, Rdi;
  uint64_t R8, R9, R10, R11, R12, R13, R14, R15;
  uint64_t Rip, Rflags;
};

struct MailboxHeader {
  uint32_t Magic;
  uint32_t Version;
  uint32_t Request;
  uint32_t Answer;
  uint32_t Processor;  // the MP services number of the processor that asks
  uint32_t DataSize;   // bytes of Data in use
  uint64_t Value;
  uint64_t FaultAddress;
  Registers Regs;
  uint8_t Instruction[16];
};

struct Mailbox {
  MailboxHeader Header;
  uint8_t Data[kMailboxSize - sizeof(MailboxHeader)];
};
static_assert(sizeof(Mailbox) == kMailboxSize, "the mailbox is one 64 KiB block");

// The answer to kHello, at the start of Data; then SiteCount RVAs (uint32_t each) of the image's
// instructions to rewrite, then WindowCount AddressWindow records to make fault on every access.
struct HelloAnswer {
  uint32_t ImageSize;
  uint32_t SiteCount;
  uint32_t WindowCount;
  uint32_t Reserved;
};

struct AddressWindow {
  uint64_t Base;
  uint64_t Size;
};

// Sibling protocols are installed in the firmware as proxies: every function slot of the
// interface points at a stub of the package, and stub number Proxy * kSlotsPerProxy + Slot
// forwards the call to the same slot of the simulator's own interface.
inline constexpr uint32_t kProxyCount = 32;
inline constexpr uint32_t kSlotsPerProxy = 64;
inline constexpr uint32_t kCallArguments = 10;
inline constexpr uint32_t kXmmBytes = 16 * 16;
// CF, PF, AF, ZF, SF, DF and OF: the flags an answer may change.
inline constexpr uint64_t kArithmeticFlags = 0xCD5;

// The answer to kArrive: Count, then Count offers, each followed by Slots values.
struct OfferList {
  uint32_t Count;
  uint32_t Reserved;
};

struct ProtocolOffer {
  uint8_t Guid[16];
  uint32_t Proxy;         // which proxy (and stub range) the interface uses
  uint32_t Slots;         // 8-byte slots of the interface, at most kSlotsPerProxy
  uint64_t FunctionMask;  // bit N: slot N is a function (a stub); the others are copied as they are
  uint32_t Replace;       // 1: the firmware has its own instance, and the proxy takes its place
  uint32_t Reserved;
};

struct CallFrame {
  uint64_t Interface;  // where the package placed the proxy's interface
  uint64_t Arguments[kCallArguments];  // as the caller passed them; those beyond its own are junk
};

}  // namespace ccx_channel

#endif  // FIRMWARE_OVMF_CHANNEL_FORMAT_H_
