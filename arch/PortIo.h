// I/O-port and memory-mapped register access. Registers are reached only through these, never by
// dereferencing a device address, so that every access goes to the hardware (or its model).
#ifndef ARCH_PORT_IO_H_
#define ARCH_PORT_IO_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

UINT8 IoRead8(UINT16 Port);
UINT16 IoRead16(UINT16 Port);
UINT32 IoRead32(UINT16 Port);
VOID IoWrite8(UINT16 Port, UINT8 Value);
VOID IoWrite16(UINT16 Port, UINT16 Value);
VOID IoWrite32(UINT16 Port, UINT32 Value);

UINT8 MmioRead8(UINT64 Address);
UINT16 MmioRead16(UINT64 Address);
UINT32 MmioRead32(UINT64 Address);
UINT64 MmioRead64(UINT64 Address);
VOID MmioWrite8(UINT64 Address, UINT8 Value);
VOID MmioWrite16(UINT64 Address, UINT16 Value);
VOID MmioWrite32(UINT64 Address, UINT32 Value);
VOID MmioWrite64(UINT64 Address, UINT64 Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_PORT_IO_H_
