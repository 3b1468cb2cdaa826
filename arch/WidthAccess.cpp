#include "arch/WidthAccess.h"

#include "arch/PortIo.h"
#include "debug/FatalStop.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Width code to byte count; 0 for a code the primitives do not know.
UINTN WidthBytes(UINT8 Width) {
  switch (Width) {
    case 0x01:
    case 0x81:
      return 1;
    case 0x02:
    case 0x82:
      return 2;
    case 0x03:
    case 0x83:
      return 4;
    default:
      return 0;
  }
}

// One access by width code: Access(Bytes) performs it for 1, 2 or 4 bytes; any other code stops
// with the operation's fatal code and makes no access.
template <typename AccessFn>
VOID ByWidth(UINT8 Width, UINT32 FatalCode, AccessFn Access) {
  const UINTN Bytes = WidthBytes(Width);
  if (Bytes == 0) {
    FatalStop(FatalCode);
    return;
  }
  Access(Bytes);
}

}  // namespace

VOID IoReadWidth(UINT8 Width, UINT16 Port, VOID *Value) {
  ByWidth(Width, kFatalIoReadWidth, [&](UINTN Bytes) {
    if (Bytes == 1) *static_cast<UINT8 *>(Value) = IoRead8(Port);
    if (Bytes == 2) *static_cast<UINT16 *>(Value) = IoRead16(Port);
    if (Bytes == 4) *static_cast<UINT32 *>(Value) = IoRead32(Port);
  });
}

VOID IoWriteWidth(UINT8 Width, UINT16 Port, const VOID *Value) {
  ByWidth(Width, kFatalIoWriteWidth, [&](UINTN Bytes) {
    if (Bytes == 1) IoWrite8(Port, *static_cast<const UINT8 *>(Value));
    if (Bytes == 2) IoWrite16(Port, *static_cast<const UINT16 *>(Value));
    if (Bytes == 4) IoWrite32(Port, *static_cast<const UINT32 *>(Value));
  });
}

VOID MemReadWidth(UINT8 Width, UINT64 Address, VOID *Value) {
  ByWidth(Width, kFatalMemReadWidth, [&](UINTN Bytes) {
    if (Bytes == 1) *static_cast<UINT8 *>(Value) = MmioRead8(Address);
    if (Bytes == 2) *static_cast<UINT16 *>(Value) = MmioRead16(Address);
    if (Bytes == 4) *static_cast<UINT32 *>(Value) = MmioRead32(Address);
  });
}

VOID MemWriteWidth(UINT8 Width, UINT64 Address, const VOID *Value) {
  ByWidth(Width, kFatalMemWriteWidth, [&](UINTN Bytes) {
    if (Bytes == 1) MmioWrite8(Address, *static_cast<const UINT8 *>(Value));
    if (Bytes == 2) MmioWrite16(Address, *static_cast<const UINT16 *>(Value));
    if (Bytes == 4) MmioWrite32(Address, *static_cast<const UINT32 *>(Value));
  });
}

}  // namespace CCX_IMAGE_NAMESPACE
