// Port and memory access by width code: 1 or 0x81 for 8 bits, 2 or 0x82 for 16 bits, 3 or 0x83
// for 32 bits. Only as many bytes as the width are read or written through Value. Any other code
// raises the operation's fatal stop and, if that returns, makes no access.
#ifndef ARCH_WIDTH_ACCESS_H_
#define ARCH_WIDTH_ACCESS_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

constexpr UINT32 kFatalIoReadWidth = 0x00010098;
constexpr UINT32 kFatalIoWriteWidth = 0x00010135;
constexpr UINT32 kFatalMemReadWidth = 0x00010279;
constexpr UINT32 kFatalMemWriteWidth = 0x00010320;

VOID IoReadWidth(UINT8 Width, UINT16 Port, VOID *Value);
VOID IoWriteWidth(UINT8 Width, UINT16 Port, const VOID *Value);
VOID MemReadWidth(UINT8 Width, UINT64 Address, VOID *Value);
VOID MemWriteWidth(UINT8 Width, UINT64 Address, const VOID *Value);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // ARCH_WIDTH_ACCESS_H_
