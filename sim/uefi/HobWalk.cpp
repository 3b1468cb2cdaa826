#include "sim/uefi/HobWalk.h"

#include <cstring>

#include "uefi/Hob.h"

namespace sim {

HobWalk WalkHobList(const void *list, uint64_t size) {
  const auto *bytes = static_cast<const uint8_t *>(list);
  HobWalk walk;
  uint64_t offset = 0;
  while (offset + sizeof(EFI_HOB_GENERIC_HEADER) <= size) {
    EFI_HOB_GENERIC_HEADER header;
    std::memcpy(&header, bytes + offset, sizeof(header));
    const std::string where =
        "HOB at offset " + std::to_string(offset) + " (type " + std::to_string(header.HobType) + ")";
    if (header.HobLength < sizeof(EFI_HOB_GENERIC_HEADER) || header.HobLength % 8 != 0) {
      walk.problem = where + " has length " + std::to_string(header.HobLength) +
                     ", not a multiple of 8 of at least the header size";
      return walk;
    }
    if (offset + header.HobLength > size) {
      walk.problem = where + " of length " + std::to_string(header.HobLength) + " runs past the end of the list";
      return walk;
    }
    walk.entries.push_back(HobEntry{header.HobType, header.HobLength, offset});
    if (header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST) {
      walk.complete = true;
      return walk;
    }
    offset += header.HobLength;
  }
  walk.problem = "no end-of-list HOB within " + std::to_string(size) + " bytes";
  return walk;
}

}  // namespace sim
