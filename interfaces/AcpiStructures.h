// The two ACPI building blocks that the service records hand to table builders: the common
// description header that begins every ACPI table, and the Generic Address Structure that names a
// register. Both are laid out byte for byte as the ACPI standard defines them.
#ifndef INTERFACES_ACPI_STRUCTURES_H_
#define INTERFACES_ACPI_STRUCTURES_H_

#include "uefi/Base.h"

#pragma pack(push, 1)

// The 36-byte header of every ACPI system description table.
typedef struct {
  UINT32 Signature;
  UINT32 Length;
  UINT8 Revision;
  UINT8 Checksum;
  UINT8 OemId[6];
  UINT64 OemTableId;
  UINT32 OemRevision;
  UINT32 CreatorId;
  UINT32 CreatorRevision;
} EFI_ACPI_DESCRIPTION_HEADER;

// A register as ACPI names it: which address space it lives in, which bits of it count, how wide
// the access must be, and its address in that space.
typedef struct {
  UINT8 AddressSpaceId;
  UINT8 RegisterBitWidth;
  UINT8 RegisterBitOffset;
  UINT8 AccessSize;
  UINT64 Address;
} EFI_ACPI_GENERIC_ADDRESS_STRUCTURE;

#pragma pack(pop)

static_assert(sizeof(EFI_ACPI_DESCRIPTION_HEADER) == 36, "the ACPI table header is 36 bytes");
static_assert(offsetof(EFI_ACPI_DESCRIPTION_HEADER, OemTableId) == 16, "OEM table ID at offset 16");
static_assert(offsetof(EFI_ACPI_DESCRIPTION_HEADER, CreatorRevision) == 32, "creator revision at offset 32");
static_assert(sizeof(EFI_ACPI_GENERIC_ADDRESS_STRUCTURE) == 12, "a Generic Address Structure is 12 bytes");
static_assert(offsetof(EFI_ACPI_GENERIC_ADDRESS_STRUCTURE, Address) == 4, "the address follows the four bytes");

// Address spaces and access sizes the driver's registers use.
constexpr UINT8 EFI_ACPI_ADDRESS_SPACE_SYSTEM_MEMORY = 0x00;
// Functional fixed hardware: on this processor, a model-specific register.
constexpr UINT8 EFI_ACPI_ADDRESS_SPACE_FFIXEDHW = 0x7F;
constexpr UINT8 EFI_ACPI_ACCESS_SIZE_QWORD = 4;

#endif  // INTERFACES_ACPI_STRUCTURES_H_
