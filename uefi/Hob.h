// Hand-off block (HOB) headers of the PI specification, as the pre-memory phase leaves them.
#ifndef UEFI_HOB_H_
#define UEFI_HOB_H_

#include "uefi/SystemTable.h"

#define EFI_HOB_TYPE_HANDOFF 0x0001
#define EFI_HOB_TYPE_MEMORY_ALLOCATION 0x0002
#define EFI_HOB_TYPE_RESOURCE_DESCRIPTOR 0x0003
#define EFI_HOB_TYPE_GUID_EXTENSION 0x0004
#define EFI_HOB_TYPE_FV 0x0005
#define EFI_HOB_TYPE_CPU 0x0006
#define EFI_HOB_TYPE_MEMORY_POOL 0x0007
#define EFI_HOB_TYPE_UNUSED 0xFFFE
#define EFI_HOB_TYPE_END_OF_HOB_LIST 0xFFFF

typedef struct {
  UINT16 HobType;
  UINT16 HobLength;
  UINT32 Reserved;
} EFI_HOB_GENERIC_HEADER;
static_assert(sizeof(EFI_HOB_GENERIC_HEADER) == 8, "HOB header is 8 bytes");

#define EFI_HOB_HANDOFF_TABLE_VERSION 0x0009
typedef UINT32 EFI_BOOT_MODE;
#define BOOT_WITH_FULL_CONFIGURATION 0x00
#define BOOT_ON_S3_RESUME 0x11

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  UINT32 Version;
  EFI_BOOT_MODE BootMode;
  EFI_PHYSICAL_ADDRESS EfiMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryTop;
  EFI_PHYSICAL_ADDRESS EfiFreeMemoryBottom;
  EFI_PHYSICAL_ADDRESS EfiEndOfHobList;
} EFI_HOB_HANDOFF_INFO_TABLE;
static_assert(sizeof(EFI_HOB_HANDOFF_INFO_TABLE) == 56, "handoff HOB is 56 bytes");

typedef UINT32 EFI_RESOURCE_TYPE;
typedef UINT32 EFI_RESOURCE_ATTRIBUTE_TYPE;
#define EFI_RESOURCE_SYSTEM_MEMORY 0x00000000
#define EFI_RESOURCE_MEMORY_MAPPED_IO 0x00000001
#define EFI_RESOURCE_MEMORY_RESERVED 0x00000005

typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Owner;
  EFI_RESOURCE_TYPE ResourceType;
  EFI_RESOURCE_ATTRIBUTE_TYPE ResourceAttribute;
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  UINT64 ResourceLength;
} EFI_HOB_RESOURCE_DESCRIPTOR;
static_assert(sizeof(EFI_HOB_RESOURCE_DESCRIPTOR) == 48, "resource HOB is 48 bytes");

// A GUID extension HOB: the header and name, followed by the data its owner defines.
typedef struct {
  EFI_HOB_GENERIC_HEADER Header;
  EFI_GUID Name;
} EFI_HOB_GUID_TYPE;
static_assert(sizeof(EFI_HOB_GUID_TYPE) == 24, "GUID extension HOB header is 24 bytes");

// SMRAM layout handed over by the pre-memory phase under gEfiSmmPeiSmramMemoryReserveGuid.
#define EFI_SMRAM_OPEN 0x00000001ULL
#define EFI_SMRAM_CLOSED 0x00000002ULL
#define EFI_SMRAM_LOCKED 0x00000004ULL
#define EFI_CACHEABLE 0x00000008ULL
#define EFI_ALLOCATED 0x00000010ULL
#define EFI_NEEDS_TESTING 0x00000020ULL
#define EFI_NEEDS_ECC_INITIALIZATION 0x00000040ULL

typedef struct {
  EFI_PHYSICAL_ADDRESS PhysicalStart;
  EFI_PHYSICAL_ADDRESS CpuStart;
  UINT64 PhysicalSize;
  UINT64 RegionState;
} EFI_SMRAM_DESCRIPTOR;
static_assert(sizeof(EFI_SMRAM_DESCRIPTOR) == 32, "EFI_SMRAM_DESCRIPTOR is 32 bytes");

typedef struct {
  UINT32 NumberOfSmmReservedRegions;
  EFI_SMRAM_DESCRIPTOR Descriptor[1];
} EFI_SMRAM_HOB_DESCRIPTOR_BLOCK;
static_assert(offsetof(EFI_SMRAM_HOB_DESCRIPTOR_BLOCK, Descriptor) == 8, "descriptors follow at offset 8");

#endif  // UEFI_HOB_H_
