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

}  // namespace

VOID IoReadWidth(UINT8 Width, UINT16 Port, VOID *Value) {
  switch (WidthBytes(Width)) {
    case 1:
      *static_cast<UINT8 *>(Value) = IoRead8(Port);
      return;
    case 2:
      *static_cast<UINT16 *>(Value) = IoRead16(Port);
      return;
    case 4:
      *static_cast<UINT32 *>(Value) = IoRead32(Port);
      return;
    default:
      FatalStop(kFatalIoReadWidth);
      return;
  }
}

VOID IoWriteWidth(UINT8 Width, UINT16 Port, const VOID *Value) {
  switch (WidthBytes(Width)) {
    case 1:
      IoWrite8(Port, *static_cast<const UINT8 *>(Value));
      return;
    case 2:
      IoWrite16(Port, *static_cast<const UINT16 *>(Value));
      return;
    case 4:
      IoWrite32(Port, *static_cast<const UINT32 *>(Value));
      return;
    default:
      FatalStop(kFatalIoWriteWidth);
      return;
  }
}

VOID MemReadWidth(UINT8 Width, UINT64 Address, VOID *Value) {
  switch (WidthBytes(Width)) {
    case 1:
      *static_cast<UINT8 *>(Value) = MmioRead8(Address);
      return;
    case 2:
      *static_cast<UINT16 *>(Value) = MmioRead16(Address);
      return;
    case 4:
      *static_cast<UINT32 *>(Value) = MmioRead32(Address);
      return;
    default:
      FatalStop(kFatalMemReadWidth);
      return;
  }
}

VOID MemWriteWidth(UINT8 Width, UINT64 Address, const VOID *Value) {
  switch (WidthBytes(Width)) {
    case 1:
      MmioWrite8(Address, *static_cast<const UINT8 *>(Value));
      return;
    case 2:
      MmioWrite16(Address, *static_cast<const UINT16 *>(Value));
      return;
    case 4:
      MmioWrite32(Address, *static_cast<const UINT32 *>(Value));
      return;
    default:
      FatalStop(kFatalMemWriteWidth);
      return;
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
