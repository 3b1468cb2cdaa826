#include "sim/siblings/MmioRegionServices.h"

#include <atomic>

namespace sim {
namespace {

std::atomic<RegionService *> gCurrentRegionService{nullptr};

FabricMmioAllocator &OwnerOf(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This) {
  return *reinterpret_cast<MmioAllocatorRecord *>(This)->Owner;
}

EFI_STATUS EFIAPI GetAvailableMmio(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, FABRIC_MMIO_TARGET, UINT64 *Base,
                                   UINT64 *Size) {
  return OwnerOf(This).Available(Base, Size);
}
EFI_STATUS EFIAPI AllocateMmio(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, UINT64 *Base, UINT64 *Length,
                               UINT64 AlignmentMask, FABRIC_MMIO_TARGET Target, FABRIC_MMIO_ATTRIBUTES *Attributes) {
  return OwnerOf(This).Allocate(Base, Length, AlignmentMask, Target, Attributes);
}

EFI_STATUS EFIAPI GetRegionCount(UINTN *Count) {
  RegionService *Service = RegionService::Current();
  return Service == nullptr ? EFI_NOT_READY : Service->RegionCount(Count);
}
EFI_STATUS EFIAPI GetRegion(UINTN Index, EFI_PHYSICAL_ADDRESS *Base, UINT64 *Length) {
  RegionService *Service = RegionService::Current();
  return Service == nullptr ? EFI_NOT_READY : Service->RegionAt(Index, Base, Length);
}
EFI_STATUS EFIAPI RegisterRegion(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Flags) {
  RegionService *Service = RegionService::Current();
  return Service == nullptr ? EFI_NOT_READY : Service->Register(Base, Length, Flags);
}

}  // namespace

FabricMmioAllocator::FabricMmioAllocator(uint64_t PoolBase, uint64_t PoolSize, FaultInjector &Faults)
    : PoolEnd_(PoolBase + PoolSize), Next_(PoolBase), Faults_(Faults) {
  Record_.Protocol = {1, sim::GetAvailableMmio, sim::AllocateMmio};
  Record_.Owner = this;
}

std::vector<MmioAllocation> FabricMmioAllocator::Allocations() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Allocations_;
}

EFI_STATUS FabricMmioAllocator::Allocate(UINT64 *Base, UINT64 *Length, UINT64 AlignmentMask, UINT32 Target,
                                         UINT8 *Attributes) {
  std::lock_guard<std::mutex> Guard(Lock_);
  MmioAllocation Call;
  Call.AlignmentMask = AlignmentMask;
  Call.Target = Target;
  if (Length != nullptr) Call.Length = *Length;
  if (Attributes != nullptr) Call.Attributes = *Attributes;
  EFI_STATUS Status = EFI_SUCCESS;
  if (auto Injected = Faults_.Call(SiblingQuery::MmioAllocate)) {
    Status = *Injected;
  } else if (Base == nullptr || Length == nullptr || Attributes == nullptr || *Length == 0) {
    Status = EFI_INVALID_PARAMETER;
  } else {
    const uint64_t Start = (Next_ + AlignmentMask) & ~AlignmentMask;
    if (Start < Next_ || Start + *Length < Start || Start + *Length > PoolEnd_) {
      Status = EFI_OUT_OF_RESOURCES;
    } else {
      *Base = Start;
      Call.Base = Start;
      Next_ = Start + *Length;
    }
  }
  Call.Status = Status;
  Allocations_.push_back(Call);
  return Status;
}

EFI_STATUS FabricMmioAllocator::Available(UINT64 *Base, UINT64 *Size) const {
  if (Base == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;
  std::lock_guard<std::mutex> Guard(Lock_);
  *Base = Next_;
  *Size = PoolEnd_ - Next_;
  return EFI_SUCCESS;
}

RegionService::RegionService(FaultInjector &Faults)
    : Faults_(Faults), Protocol_{1, sim::GetRegionCount, sim::GetRegion, sim::RegisterRegion},
      Previous_(gCurrentRegionService.exchange(this)) {}

RegionService::~RegionService() { gCurrentRegionService.store(Previous_); }

RegionService *RegionService::Current() { return gCurrentRegionService.load(); }

std::vector<RegisteredRegion> RegionService::Regions() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Regions_;
}

EFI_STATUS RegionService::Register(UINT64 Base, UINT64 Length, UINT64 Flags) {
  EFI_STATUS Status = EFI_SUCCESS;
  if (auto Injected = Faults_.Call(SiblingQuery::RegionRegister)) Status = *Injected;
  std::lock_guard<std::mutex> Guard(Lock_);
  Regions_.push_back({Base, Length, Flags, Status});
  return Status;
}

EFI_STATUS RegionService::RegionCount(UINTN *Count) const {
  if (Count == nullptr) return EFI_INVALID_PARAMETER;
  std::lock_guard<std::mutex> Guard(Lock_);
  UINTN Registered = 0;
  for (const RegisteredRegion &Region : Regions_) Registered += EFI_ERROR(Region.Status) ? 0 : 1;
  *Count = Registered;
  return EFI_SUCCESS;
}

EFI_STATUS RegionService::RegionAt(UINTN Index, UINT64 *Base, UINT64 *Length) const {
  if (Base == nullptr || Length == nullptr) return EFI_INVALID_PARAMETER;
  std::lock_guard<std::mutex> Guard(Lock_);
  for (const RegisteredRegion &Region : Regions_) {
    if (EFI_ERROR(Region.Status)) continue;
    if (Index-- == 0) {
      *Base = Region.Base;
      *Length = Region.Length;
      return EFI_SUCCESS;
    }
  }
  return EFI_NOT_FOUND;
}

}  // namespace sim
