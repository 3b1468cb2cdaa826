#include "debug/LegacySerialBackend.h"

#include "arch/Chipset.h"
#include "arch/PciEcam.h"
#include "arch/PortIo.h"
#include "arch/Uart16550.h"
#include "debug/DebugBackend.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT16 kBase = Uart16550::Com2Base;

constexpr UINT16 Port(unsigned Index) {
  return static_cast<UINT16>(Uart16550::RegisterAddress(kBase, Index));
}

// The controllers this platform routes to the legacy serial decode.
constexpr UINT8 kDecodedControllers[2] = {4, 2};
constexpr UINT16 kDecodeWord = LegacySerialDecodeWord(kDecodedControllers);
static_assert(kDecodeWord == 0x040A, "controllers {4, 2} give the decode word 0x040A");

// Slot n of the decode word is in use when bit n is set; bits 2n + 9 and 2n + 8 then name the
// serial controller behind it.
constexpr unsigned kDecodeSlots = 4;
constexpr UINT16 SlotController(UINT16 Word, unsigned Slot) { return (Word >> (2 * Slot + 8)) & 3; }

constexpr UINT64 kRoutingRegister = PciEcam::AddressOf(
    PciEcam::Segment0Base, Chipset::LegacySerialRouting::Bus, Chipset::LegacySerialRouting::Device,
    Chipset::LegacySerialRouting::Function, Chipset::LegacySerialRouting::Offset);

// Divisor 1 (the fastest rate of the UART clock), 8 data bits, no parity, one stop bit, both
// FIFOs on and cleared, modem control lines off.
constexpr UINT8 kDivisorLow = 0x01;
constexpr UINT8 kDivisorHigh = 0x00;
constexpr UINT8 kLineControlDivisorAccess = Uart16550::LineControl::DivisorLatchAccess::Mask;
constexpr UINT8 kFifoControl = Uart16550::FifoControl::FifoEnable::Mask |
                               Uart16550::FifoControl::ClearReceiveFifo::Mask |
                               Uart16550::FifoControl::ClearTransmitFifo::Mask;
constexpr UINT8 kModemControlOff = 0x00;

// The wait has no bound. A board without the port reads all ones from it, which shows the
// transmitter empty, so only a present but stuck UART can hold it.
VOID WaitTransmitterEmpty() {
  while (!Uart16550::LineStatus::TransmitterEmpty::IsSet(IoRead8(Port(Uart16550::LineStatus::Index)))) {
  }
}

UINTN LegacySerialPrint(const CHAR8 *Buffer, UINTN Length) { return LegacySerialWrite(Buffer, Length); }

}  // namespace

VOID LegacySerialInitialize() {
  MmioWrite16(Chipset::LegacySerialDecode::Address, kDecodeWord);

  for (unsigned Slot = 0; Slot < kDecodeSlots; Slot++) {
    if ((kDecodeWord & (1U << Slot)) == 0) {
      continue;
    }
    const UINT16 Controller = SlotController(kDecodeWord, Slot);
    const UINT64 Enable = Chipset::SerialControllerEnable::Address[Controller];
    MmioWrite16(Enable,
                static_cast<UINT16>(Chipset::SerialControllerEnable::Enable::Set(MmioRead16(Enable), 1)));
    const UINT32 Routing = MmioRead32(kRoutingRegister);
    MmioWrite32(kRoutingRegister,
                Routing | (1U << (Chipset::LegacySerialRouting::FirstControllerBit + Controller)));
  }

  IoWrite8(Port(Uart16550::LineControl::Index), kLineControlDivisorAccess);
  IoWrite8(Port(Uart16550::DivisorLatchHigh::Index), kDivisorHigh);
  IoWrite8(Port(Uart16550::DivisorLatchLow::Index), kDivisorLow);
  IoWrite8(Port(Uart16550::LineControl::Index), Uart16550::LineControl::Format8N1);
  IoWrite8(Port(Uart16550::FifoControl::Index), kFifoControl);
  IoWrite8(Port(Uart16550::ModemControl::Index), kModemControlOff);

  for (const UINT64 Address : Chipset::SerialPinByteRegisters) {
    MmioWrite8(Address, 0);
  }
  MmioWrite32(Chipset::SerialPinWordRegister, 0);
}

UINTN LegacySerialWrite(const CHAR8 *Buffer, UINTN Length) {
  if (Buffer == nullptr) {
    return 0;
  }
  // A line format other than 8N1 means the port was never set up (or was changed since).
  if (Uart16550::LineControl::Format::Get(IoRead8(Port(Uart16550::LineControl::Index))) !=
      Uart16550::LineControl::Format8N1) {
    LegacySerialInitialize();
  }
  if (Length == 0) {
    WaitTransmitterEmpty();
    return 0;
  }
  for (UINTN Index = 0; Index < Length; Index++) {
    WaitTransmitterEmpty();
    IoWrite8(Port(Uart16550::Data::Index), static_cast<UINT8>(Buffer[Index]));
  }
  return Length;
}

const DEBUG_OUTPUT_BACKEND LegacySerialBackend = {
    DebugBackendAlwaysSupported,
    DebugBackendNoInitialization,
    DebugBackendKeepFilterMask,
    LegacySerialPrint,
};

}  // namespace CCX_IMAGE_NAMESPACE
