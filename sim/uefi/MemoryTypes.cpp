#include "sim/uefi/MemoryTypes.h"

#include <cstdio>

namespace sim {

bool IsAllocatableMemoryType(uint32_t type) {
  if (type >= kFirstOemMemoryType) {
    return true;
  }
  if (type >= EfiMaxMemoryType) {
    return false;
  }
  return type != EfiConventionalMemory && type != EfiPersistentMemory && type != EfiUnacceptedMemoryType;
}

uint64_t MemoryAttributesOf(uint32_t type) {
  uint64_t attributes = EFI_MEMORY_UC | EFI_MEMORY_WC | EFI_MEMORY_WT | EFI_MEMORY_WB;
  // The OS must keep these ranges mapped after ExitBootServices, so they carry the runtime bit.
  if (type == EfiRuntimeServicesCode || type == EfiRuntimeServicesData || type == EfiPalCode) {
    attributes |= EFI_MEMORY_RUNTIME;
  }
  return attributes;
}

std::string MemoryTypeName(uint32_t type) {
  static constexpr const char *kNames[] = {"EfiReservedMemoryType",
                                           "EfiLoaderCode",
                                           "EfiLoaderData",
                                           "EfiBootServicesCode",
                                           "EfiBootServicesData",
                                           "EfiRuntimeServicesCode",
                                           "EfiRuntimeServicesData",
                                           "EfiConventionalMemory",
                                           "EfiUnusableMemory",
                                           "EfiACPIReclaimMemory",
                                           "EfiACPIMemoryNVS",
                                           "EfiMemoryMappedIO",
                                           "EfiMemoryMappedIOPortSpace",
                                           "EfiPalCode",
                                           "EfiPersistentMemory",
                                           "EfiUnacceptedMemoryType"};
  static_assert(sizeof(kNames) / sizeof(kNames[0]) == EfiMaxMemoryType, "one name per standard type");
  if (type < EfiMaxMemoryType) {
    return kNames[type];
  }
  char text[32];
  const char *range = type >= 0x80000000U ? "OS" : type >= kFirstOemMemoryType ? "OEM" : "invalid";
  std::snprintf(text, sizeof(text), "%s 0x%08X", range, type);
  return text;
}

}  // namespace sim
