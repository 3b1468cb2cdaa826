#include "tests/driver/HeapTestSupport.h"

#include <cstdlib>
#include <cstring>

#include "arch/PostCode.h"
#include "driver/ImageState.h"
#include "uefi/StandardGuids.h"

namespace heaptest {
namespace {

HeapFixture *gActive = nullptr;

EFI_STATUS EFIAPI TrackedAllocatePool(EFI_MEMORY_TYPE Type, UINTN Size, VOID **Buffer) {
  if (gActive->FailingPoolTypes.count(Type) != 0) {
    return EFI_OUT_OF_RESOURCES;
  }
  // Filled with a pattern, so that a test sees what the code under test clears.
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  std::memset(*Buffer, 0xA5, Size == 0 ? 1 : Size);
  gActive->Pool.push_back({static_cast<uint32_t>(Type), Size, *Buffer});
  return EFI_SUCCESS;
}

}  // namespace

std::vector<uint8_t> HeapRecord(uint32_t Handle, uint8_t Persistence, const std::vector<uint8_t> &Data,
                                std::optional<uint32_t> Size, uint8_t Valid, uint32_t Signature) {
  HEAP_BUFFER_HEADER Header = {};
  Header.Signature = Signature;
  Header.Handle = Handle;
  Header.Size = Size.value_or(static_cast<uint32_t>(Data.size()));
  Header.Persistence = Persistence;
  Header.Valid = Valid;
  std::vector<uint8_t> Bytes(sizeof(Header));
  std::memcpy(Bytes.data(), &Header, sizeof(Header));
  Bytes.insert(Bytes.end(), Data.begin(), Data.end());
  return Bytes;
}

HeapFixture::HeapFixture() {
  gActive = this;
  CcxImage::ImageLoad();
  gST = Firmware.SystemTable();
  gBS = gST->BootServices;
  gRT = gST->RuntimeServices;
  gBS->AllocatePool = TrackedAllocatePool;
  // Fatal stops show on the POST-code port and return, as in any simulation environment.
  CcxImage::gImage.Library.TestPointConfig.FatalStopEnable = 1;
}

HeapFixture::~HeapFixture() {
  for (const PoolBlock &Block : Pool) std::free(Block.Address);
  gActive = nullptr;
}

uint64_t HeapFixture::Publish(std::vector<uint64_t> &&Storage) {
  Storage_.push_back(std::move(Storage));
  Table_.VendorGuid = gEfiHobListGuid;
  Table_.VendorTable = Storage_.back().data();
  Firmware.SystemTable()->ConfigurationTable = &Table_;
  Firmware.SystemTable()->NumberOfTableEntries = 1;
  return reinterpret_cast<uint64_t>(Storage_.back().data());
}

uint64_t HeapFixture::PublishHobList(const sim::HobListBuilder &Builder, std::span<const uint8_t> After) {
  const uint64_t Size = Builder.Size();
  std::vector<uint64_t> Storage((Size + After.size()) / 8 + 1, 0);
  const uint64_t Base = reinterpret_cast<uint64_t>(Storage.data());
  const std::vector<uint8_t> Bytes = Builder.Bytes(Base, Base + Size);
  std::memcpy(Storage.data(), Bytes.data(), Bytes.size());
  if (!After.empty()) std::memcpy(reinterpret_cast<uint8_t *>(Storage.data()) + Bytes.size(), After.data(), After.size());
  return Publish(std::move(Storage));
}

uint64_t HeapFixture::PublishRawHobList(std::span<const uint8_t> Bytes) {
  std::vector<uint64_t> Storage(Bytes.size() / 8 + 1, 0);
  std::memcpy(Storage.data(), Bytes.data(), Bytes.size());
  return Publish(std::move(Storage));
}

std::vector<uint32_t> HeapFixture::FatalStops() const {
  // A fatal stop writes its marker to the marker port, then its code to port 0x80.
  std::vector<uint32_t> Codes;
  const auto &Writes = Firmware.PortWrites;
  for (size_t Index = 0; Index + 1 < Writes.size(); Index++) {
    if (Writes[Index].Port == PostCode::FatalStopPort && Writes[Index + 1].Port == PostCode::Port) {
      Codes.push_back(Writes[Index + 1].Value);
    }
  }
  return Codes;
}

}  // namespace heaptest
