#include "debug/UartBackend.h"

#include "arch/Uart16550.h"
#include "arch/WidthAccess.h"
#include "debug/DebugBackend.h"
#include "debug/DebugOutputSettings.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT8 kByteWidth = 1;

UINT8 UartRead(UINT64 Base, unsigned Index) {
  UINT8 Value = 0;
  const UINT64 Address = Uart16550::RegisterAddress(Base, Index);
  if (Uart16550::IsMemoryMapped(Base)) {
    MemReadWidth(kByteWidth, Address, &Value);
  } else {
    IoReadWidth(kByteWidth, static_cast<UINT16>(Address), &Value);
  }
  return Value;
}

VOID UartWrite(UINT64 Base, unsigned Index, UINT8 Value) {
  const UINT64 Address = Uart16550::RegisterAddress(Base, Index);
  if (Uart16550::IsMemoryMapped(Base)) {
    MemWriteWidth(kByteWidth, Address, &Value);
  } else {
    IoWriteWidth(kByteWidth, static_cast<UINT16>(Address), &Value);
  }
}

// Both the holding register and the shift register empty: the previous byte is fully out.
BOOLEAN TransmitterIdle(UINT8 LineStatus) {
  return Uart16550::LineStatus::TransmitHoldingEmpty::IsSet(LineStatus) &&
         Uart16550::LineStatus::TransmitterEmpty::IsSet(LineStatus);
}

// Terminals expect CR LF; the formatter already ends lines that way, so a formatted line leaves
// this back-end as CR CR LF, which terminals show the same.
UINTN UartPrint(const CHAR8 *Buffer, UINTN Length) {
  UINTN Sent = 0;
  for (UINTN Index = 0; Index < Length; Index++) {
    const UINT8 Byte = static_cast<UINT8>(Buffer[Index]);
    if (Byte == '\n') {
      UartWriteByte('\r');
    }
    if (UartWriteByte(Byte)) {
      Sent++;
    }
  }
  return Sent;
}

}  // namespace

BOOLEAN UartClearToSendAt(UINT64 Base) {
  return Uart16550::ModemStatus::ClearToSend::IsSet(UartRead(Base, Uart16550::ModemStatus::Index));
}

// A wait that runs out on its last read gives the byte up even if that read showed ready: the
// count alone decides, which keeps the per-byte cost at a fixed bound.
BOOLEAN UartWriteByteAt(UINT64 Base, UINT8 Byte) {
  UINTN Count = kUartWaitReads;
  BOOLEAN Idle;
  do {
    Idle = TransmitterIdle(UartRead(Base, Uart16550::LineStatus::Index));
    Count--;
  } while (!Idle && Count != 0);
  if (Count == 0) {
    return FALSE;
  }

  Count = kUartWaitReads;
  BOOLEAN Clear;
  do {
    Count--;
    Clear = UartClearToSendAt(Base);
  } while (!Clear && Count != 0);
  if (Count == 0) {
    return FALSE;
  }

  UartWrite(Base, Uart16550::Data::Index, Byte);
  return TRUE;
}

BOOLEAN UartWriteByte(UINT8 Byte) { return UartWriteByteAt(DebugUartBase, Byte); }

BOOLEAN UartClearToSend() { return UartClearToSendAt(DebugUartBase); }

const DEBUG_OUTPUT_BACKEND UartBackend = {
    DebugBackendEnabledByBuild,
    DebugBackendNoInitialization,
    DebugBackendKeepFilterMask,
    UartPrint,
};

}  // namespace CCX_IMAGE_NAMESPACE
