// The legacy serial back-end: the serial port at I/O 0x2F8, which the chipset must first be told
// to decode. The port is set up by the first message that finds it unprogrammed; its line control
// register is the only record of that, so the back-end keeps no state in memory.
#ifndef DEBUG_LEGACY_SERIAL_BACKEND_H_
#define DEBUG_LEGACY_SERIAL_BACKEND_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Sends Length bytes unchanged (no line-ending translation), each after the transmitter is
// empty. Returns Length, or 0 for a null buffer.
UINTN LegacySerialWrite(const CHAR8 *Buffer, UINTN Length);
// Routes the legacy serial controllers, programs the UART to 8N1 at divisor 1 with the FIFOs on,
// and sets up the pins.
VOID LegacySerialInitialize();

// The legacy decode word built from a list of two controller numbers (0 for an unused entry).
constexpr UINT16 LegacySerialDecodeWord(const UINT8 (&Controllers)[2]) {
  UINT16 Word = 0;
  for (UINT16 Position = 0; Position < 2; Position++) {
    const UINT8 Controller = Controllers[Position];
    if (Controller != 0) {
      Word = static_cast<UINT16>(Word + (Position << (2 * Controller + 6)) + (1U << (Controller - 1)));
    }
  }
  return Word;
}

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_LEGACY_SERIAL_BACKEND_H_
