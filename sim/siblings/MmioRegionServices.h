// The fabric's MMIO allocator (QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL) and the platform's region
// service (QORVEX_REGION_SERVICES_PROTOCOL): the allocator hands out aligned windows from the
// machine's MMIO pool, and the region service keeps the regions components register. Both record
// every call, and their calls can fail through the fault injector (services "fabric_mmio" and
// "region").
#ifndef SIM_SIBLINGS_MMIO_REGION_SERVICES_H_
#define SIM_SIBLINGS_MMIO_REGION_SERVICES_H_

#include <cstdint>
#include <mutex>
#include <vector>

#include "interfaces/FabricMmioAllocator.h"
#include "interfaces/RegionServices.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {

class FabricMmioAllocator;

struct MmioAllocatorRecord {
  QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL Protocol;
  FabricMmioAllocator *Owner;
};

// One AllocateMmio call as it came, and what it answered.
struct MmioAllocation {
  uint64_t Length = 0;
  uint64_t AlignmentMask = 0;
  uint32_t Target = 0;
  uint8_t Attributes = 0;
  uint64_t Base = 0;
  uint64_t Status = 0;
};

class FabricMmioAllocator {
 public:
  // Windows come from [PoolBase, PoolBase + PoolSize).
  FabricMmioAllocator(uint64_t PoolBase, uint64_t PoolSize, FaultInjector &Faults);
  FabricMmioAllocator(const FabricMmioAllocator &) = delete;
  FabricMmioAllocator &operator=(const FabricMmioAllocator &) = delete;

  QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *Protocol() { return &Record_.Protocol; }
  std::vector<MmioAllocation> Allocations() const;

  EFI_STATUS Allocate(UINT64 *Base, UINT64 *Length, UINT64 AlignmentMask, UINT32 Target, UINT8 *Attributes);
  EFI_STATUS Available(UINT64 *Base, UINT64 *Size) const;

 private:
  uint64_t PoolEnd_;
  uint64_t Next_;
  FaultInjector &Faults_;
  mutable std::mutex Lock_;
  std::vector<MmioAllocation> Allocations_;
  MmioAllocatorRecord Record_;
};

// One registered region.
struct RegisteredRegion {
  uint64_t Base = 0;
  uint64_t Length = 0;
  uint64_t Flags = 0;
  uint64_t Status = 0;
};

// The region service's functions take no record, so the thunks reach the installed instance
// through a pointer the instance sets while it lives; a platform has one region service.
class RegionService {
 public:
  explicit RegionService(FaultInjector &Faults);
  ~RegionService();
  RegionService(const RegionService &) = delete;
  RegionService &operator=(const RegionService &) = delete;

  QORVEX_REGION_SERVICES_PROTOCOL *Protocol() { return &Protocol_; }
  std::vector<RegisteredRegion> Regions() const;

  static RegionService *Current();
  EFI_STATUS Register(UINT64 Base, UINT64 Length, UINT64 Flags);
  EFI_STATUS RegionCount(UINTN *Count) const;
  EFI_STATUS RegionAt(UINTN Index, UINT64 *Base, UINT64 *Length) const;

 private:
  FaultInjector &Faults_;
  mutable std::mutex Lock_;
  std::vector<RegisteredRegion> Regions_;
  QORVEX_REGION_SERVICES_PROTOCOL Protocol_;
  RegionService *Previous_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_MMIO_REGION_SERVICES_H_
