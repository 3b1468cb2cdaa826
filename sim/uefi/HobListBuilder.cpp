#include "sim/uefi/HobListBuilder.h"

#include <cstring>
#include <stdexcept>

#include "uefi/StandardGuids.h"

namespace sim {

namespace {

constexpr uint64_t kHobAlignment = 8;

template <typename Hob>
std::vector<uint8_t> BytesOf(const Hob &hob) {
  std::vector<uint8_t> bytes(sizeof(Hob));
  std::memcpy(bytes.data(), &hob, sizeof(Hob));
  return bytes;
}

EFI_HOB_GENERIC_HEADER Header(uint16_t type, uint64_t length) {
  return EFI_HOB_GENERIC_HEADER{type, static_cast<UINT16>(length), 0};
}

}  // namespace

HobListBuilder &HobListBuilder::SetBootMode(EFI_BOOT_MODE bootMode) {
  bootMode_ = bootMode;
  return *this;
}

HobListBuilder &HobListBuilder::AddResourceDescriptor(EFI_RESOURCE_TYPE type, EFI_RESOURCE_ATTRIBUTE_TYPE attributes,
                                                      uint64_t start, uint64_t length, const EFI_GUID &owner) {
  EFI_HOB_RESOURCE_DESCRIPTOR hob{};
  hob.Header = Header(EFI_HOB_TYPE_RESOURCE_DESCRIPTOR, sizeof(hob));
  hob.Owner = owner;
  hob.ResourceType = type;
  hob.ResourceAttribute = attributes;
  hob.PhysicalStart = start;
  hob.ResourceLength = length;
  hobs_.push_back(BytesOf(hob));
  return *this;
}

HobListBuilder &HobListBuilder::AddGuidHob(const EFI_GUID &name, std::span<const uint8_t> data) {
  const uint64_t length = (sizeof(EFI_HOB_GUID_TYPE) + data.size() + kHobAlignment - 1) & ~(kHobAlignment - 1);
  if (length > UINT16_MAX) {
    throw std::length_error("a GUID extension HOB with " + std::to_string(data.size()) +
                            " bytes of data exceeds the 16-bit HOB length");
  }
  EFI_HOB_GUID_TYPE header{Header(EFI_HOB_TYPE_GUID_EXTENSION, length), name};
  std::vector<uint8_t> bytes = BytesOf(header);
  bytes.insert(bytes.end(), data.begin(), data.end());
  bytes.resize(length, 0);
  hobs_.push_back(std::move(bytes));
  return *this;
}

HobListBuilder &HobListBuilder::AppendRaw(std::span<const uint8_t> bytes) {
  hobs_.emplace_back(bytes.begin(), bytes.end());
  return *this;
}

HobListBuilder &HobListBuilder::OmitEndOfList() {
  endOfList_ = false;
  return *this;
}

uint64_t HobListBuilder::Size() const {
  uint64_t size = sizeof(EFI_HOB_HANDOFF_INFO_TABLE);
  for (const std::vector<uint8_t> &hob : hobs_) {
    size += hob.size();
  }
  return size + (endOfList_ ? sizeof(EFI_HOB_GENERIC_HEADER) : 0);
}

std::vector<uint8_t> HobListBuilder::Bytes(uint64_t base, uint64_t memoryTop) const {
  const uint64_t size = Size();
  const uint64_t end = base + size;
  EFI_HOB_HANDOFF_INFO_TABLE handoff{};
  handoff.Header = Header(EFI_HOB_TYPE_HANDOFF, sizeof(handoff));
  handoff.Version = EFI_HOB_HANDOFF_TABLE_VERSION;
  handoff.BootMode = bootMode_;
  handoff.EfiMemoryTop = memoryTop;
  handoff.EfiMemoryBottom = base;
  handoff.EfiFreeMemoryTop = memoryTop;
  handoff.EfiFreeMemoryBottom = end;
  // The end-of-list HOB is where the producer would have written its next HOB.
  handoff.EfiEndOfHobList = endOfList_ ? end - sizeof(EFI_HOB_GENERIC_HEADER) : end;
  std::vector<uint8_t> bytes = BytesOf(handoff);
  for (const std::vector<uint8_t> &hob : hobs_) {
    bytes.insert(bytes.end(), hob.begin(), hob.end());
  }
  if (endOfList_) {
    const std::vector<uint8_t> last = BytesOf(Header(EFI_HOB_TYPE_END_OF_HOB_LIST, sizeof(EFI_HOB_GENERIC_HEADER)));
    bytes.insert(bytes.end(), last.begin(), last.end());
  }
  return bytes;
}

EFI_PHYSICAL_ADDRESS HobListBuilder::Install(PhysicalMemory &memory, SystemTables &tables) const {
  HobListBuilder complete;
  complete.bootMode_ = bootMode_;
  complete.endOfList_ = endOfList_;
  for (const DramRange &range : memory.Dram()) {
    complete.AddResourceDescriptor(EFI_RESOURCE_SYSTEM_MEMORY, kTestedDramAttributes, range.base, range.length);
  }
  complete.hobs_.insert(complete.hobs_.end(), hobs_.begin(), hobs_.end());

  const uint64_t size = complete.Size();
  const uint64_t pages = EFI_SIZE_TO_PAGES(size);
  uint64_t base = 0;
  if (EFI_STATUS status = memory.AllocatePages(AllocateAnyPages, EfiBootServicesData, pages, base);
      status != EFI_SUCCESS) {
    throw std::runtime_error("no simulated DRAM for a HOB list of " + std::to_string(size) +
                             " bytes (AllocatePages status " + Hex(status) + ")");
  }
  const std::vector<uint8_t> bytes = complete.Bytes(base, base + pages * EFI_PAGE_SIZE);
  std::memcpy(reinterpret_cast<void *>(base), bytes.data(), bytes.size());
  tables.InstallConfigurationTable(&gEfiHobListGuid, reinterpret_cast<void *>(base));
  return base;
}

}  // namespace sim
