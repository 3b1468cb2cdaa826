// The UART back-end's byte output on a 16550-compatible UART. Every wait is bounded, so a missing
// or stalled UART costs time per byte but never hangs the boot.
#ifndef DEBUG_UART_BACKEND_H_
#define DEBUG_UART_BACKEND_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Status reads allowed for each of the two waits before a byte is given up.
constexpr UINTN kUartWaitReads = 2000;

// Sends one byte on the UART at DebugUartBase; FALSE when a wait ran out and the byte was dropped.
BOOLEAN UartWriteByte(UINT8 Byte);
// Whether the UART at DebugUartBase sees clear-to-send.
BOOLEAN UartClearToSend();

// The same on a UART at any base: at most 0xFFFF an I/O-port UART, above it a memory-mapped one.
BOOLEAN UartWriteByteAt(UINT64 Base, UINT8 Byte);
BOOLEAN UartClearToSendAt(UINT64 Base);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_UART_BACKEND_H_
