#include "firmware/ovmf/Channel.h"

namespace ccx_ovmf {
namespace {

using namespace ccx_channel;

// 16550 registers, as offsets from the port.
constexpr uint16_t kData = 0;
constexpr uint16_t kInterruptEnable = 1;
constexpr uint16_t kFifoControl = 2;
constexpr uint16_t kLineControl = 3;
constexpr uint16_t kModemControl = 4;
constexpr uint16_t kLineStatus = 5;
constexpr uint8_t kDataReady = 0x01;
constexpr uint8_t kTransmitterEmpty = 0x20;

Mailbox *gBox = nullptr;
volatile uint32_t gLock = 0;
uint32_t gNumberOfApic[256];

inline void Out8(uint16_t Port, uint8_t Value) { __asm__ volatile("outb %0, %1" : : "a"(Value), "Nd"(Port)); }
inline uint8_t In8(uint16_t Port) {
  uint8_t Value;
  __asm__ volatile("inb %1, %0" : "=a"(Value) : "Nd"(Port));
  return Value;
}

void SendByte(uint8_t Byte) {
  while ((In8(kPort + kLineStatus) & kTransmitterEmpty) == 0) __asm__ volatile("pause");
  Out8(kPort + kData, Byte);
}

uint8_t ReceiveByte() {
  while ((In8(kPort + kLineStatus) & kDataReady) == 0) __asm__ volatile("pause");
  return In8(kPort + kData);
}

}  // namespace

void OpenChannel(Mailbox *Box) {
  gBox = Box;
  for (uint32_t &Number : gNumberOfApic) Number = 0;
  Out8(kPort + kInterruptEnable, 0);
  Out8(kPort + kLineControl, 0x80);  // divisor latch: 115200 baud (a socket ignores it)
  Out8(kPort + kData, 1);
  Out8(kPort + kInterruptEnable, 0);
  Out8(kPort + kLineControl, 0x03);  // 8 data bits, no parity, one stop bit
  Out8(kPort + kFifoControl, 0x07);  // FIFOs on and cleared
  Out8(kPort + kModemControl, 0x03);
  SendByte(kHelloByte);
  const uint64_t Address = reinterpret_cast<uint64_t>(Box);
  for (int Index = 0; Index < 8; Index++) SendByte(static_cast<uint8_t>(Address >> (8 * Index)));
}

Mailbox &AcquireChannel(uint32_t Request, uint32_t Processor) {
  while (__atomic_exchange_n(&gLock, 1U, __ATOMIC_ACQUIRE) != 0) {
    while (gLock != 0) __asm__ volatile("pause");
  }
  MailboxHeader &Header = gBox->Header;
  Header.Magic = kMagic;
  Header.Version = kVersion;
  Header.Request = Request;
  Header.Answer = 0;
  Header.Processor = Processor;
  Header.DataSize = 0;
  Header.Value = 0;
  Header.FaultAddress = 0;
  return *gBox;
}

uint32_t Exchange() {
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  SendByte(kDoorbell);
  while (ReceiveByte() != kAnswered) {
  }
  __atomic_thread_fence(__ATOMIC_SEQ_CST);
  return gBox->Header.Answer;
}

void ReleaseChannel() { __atomic_store_n(&gLock, 0U, __ATOMIC_RELEASE); }

uint32_t SendText(uint32_t Request, uint32_t Processor, const char *Text) {
  Mailbox &Box = AcquireChannel(Request, Processor);
  uint32_t Length = 0;
  while (Text[Length] != '\0' && Length < sizeof(Box.Data)) {
    Box.Data[Length] = static_cast<uint8_t>(Text[Length]);
    Length++;
  }
  Box.Header.DataSize = Length;
  const uint32_t Answer = Exchange();
  ReleaseChannel();
  return Answer;
}

uint32_t ThisProcessor() {
  uint32_t Eax = 1, Ebx, Ecx = 0, Edx;
  __asm__ volatile("cpuid" : "+a"(Eax), "=b"(Ebx), "+c"(Ecx), "=d"(Edx));
  return gNumberOfApic[Ebx >> 24];
}

void SetProcessorNumber(uint32_t ApicId, uint32_t Number) {
  if (ApicId < 256) gNumberOfApic[ApicId] = Number;
}

void CopyBytes(void *Destination, const void *Source, UINTN Length) {
  auto *To = static_cast<uint8_t *>(Destination);
  const auto *From = static_cast<const uint8_t *>(Source);
  for (UINTN Index = 0; Index < Length; Index++) To[Index] = From[Index];
}

void Park() {
  for (;;) __asm__ volatile("cli; hlt");
}

}  // namespace ccx_ovmf
