// QORVEX_ZRB_OPTION_HOOK_PROTOCOL: the setup-options component. It takes the hook numbers that no
// local handler of the driver claims, and it supplies the option values as a packed NV table.
// The driver keeps a fetched copy of that table in a heap buffer, where other drivers find it too.
#ifndef INTERFACES_ZRB_OPTION_HOOK_H_
#define INTERFACES_ZRB_OPTION_HOOK_H_

#include "arch/Registers.h"
#include "uefi/SystemTable.h"

typedef struct _QORVEX_ZRB_OPTION_HOOK_PROTOCOL QORVEX_ZRB_OPTION_HOOK_PROTOCOL;

// What every hook call carries. Params is null for an ordinary hook and points at a
// ZRB_NV_TABLE_REQUEST for the table fetch.
typedef struct {
  UINT64 Reserved;
  VOID *Params;
} ZRB_OPTION_HOOK_REQUEST;
static_assert(sizeof(ZRB_OPTION_HOOK_REQUEST) == 16, "the hook request is 16 bytes");
static_assert(offsetof(ZRB_OPTION_HOOK_REQUEST, Params) == 8, "parameters at offset 8");

// The table fetch in two calls: with a null Buffer the component stores the table's size in
// *Size; with a buffer it copies the table there and may update *Size.
typedef struct {
  VOID *Buffer;
  UINT32 *Size;
} ZRB_NV_TABLE_REQUEST;
static_assert(sizeof(ZRB_NV_TABLE_REQUEST) == 16, "the fetch parameters are two addresses");
static_assert(offsetof(ZRB_NV_TABLE_REQUEST, Size) == 8, "size address at offset 8");

// The record holds the hook entry in its first slot. The component receives its own record last,
// after the boot services it may need and the hook number; a negative status is a failure.
struct _QORVEX_ZRB_OPTION_HOOK_PROTOCOL {
  EFI_STATUS(EFIAPI *ZrbOptionHook)(IN EFI_BOOT_SERVICES *BootServices, IN ZRB_OPTION_HOOK_REQUEST *Request,
                                    IN UINT32 HookId, IN QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This);
};
static_assert(offsetof(QORVEX_ZRB_OPTION_HOOK_PROTOCOL, ZrbOptionHook) == 0, "the hook entry is the first slot");

// The hook number that asks for the NV table instead of running a hook.
constexpr UINT32 ZRB_HOOK_FETCH_NV_TABLE = 0xFFFFFFFE;

// The option NV table: a 32-byte header that begins with "$KNV", then packed entries of an
// option number, an attribute byte and a value of 1, 2, 4 or 8 bytes, ended by option 0xFFFF.
constexpr UINT32 ZRB_NV_TABLE_SIGNATURE = 0x564E4B24;
constexpr UINTN ZRB_NV_TABLE_HEADER_SIZE = 32;
constexpr UINT16 ZRB_NV_OPTION_END = 0xFFFF;

#pragma pack(push, 1)
typedef struct {
  UINT16 OptionId;
  UINT8 Attributes;
} ZRB_NV_ENTRY_HEADER;
#pragma pack(pop)
static_assert(sizeof(ZRB_NV_ENTRY_HEADER) == 3, "the value follows three bytes into an entry");

// Bits 1:0 of the attribute byte give the value's size as a power of two.
using ZrbNvValueSizeCode = RegisterField<1, 0>;

constexpr UINTN ZrbNvValueSize(UINT8 Attributes) {
  return static_cast<UINTN>(1) << ZrbNvValueSizeCode::Get(Attributes);
}

// The fetched table's heap buffer: handle "NVDT" (the four ASCII bytes in memory order), and room
// behind the table for a guard word. The guard is written before the component fills the buffer;
// finding it changed afterwards proves that the component wrote past the size it announced.
constexpr UINT32 HEAP_HANDLE_NV_TABLE = 0x5444564E;
constexpr UINT8 ZRB_NV_TABLE_PERSISTENCE = 7;
constexpr UINT32 ZRB_NV_TABLE_SLACK = 104;
constexpr UINT32 ZRB_NV_TABLE_GUARD_OFFSET = 100;
constexpr UINT32 ZRB_NV_TABLE_GUARD = 0x55AA;

#endif  // INTERFACES_ZRB_OPTION_HOOK_H_
