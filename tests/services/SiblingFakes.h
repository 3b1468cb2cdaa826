// Fakes of the sibling services the PCC and SMBIOS services call: the fabric MMIO allocator, the
// region service, the SOC service and the SMU service. Each records its calls and answers what a
// test sets, including failures.
#ifndef TESTS_SERVICES_SIBLING_FAKES_H_
#define TESTS_SERVICES_SIBLING_FAKES_H_

#include <array>
#include <cstdint>
#include <map>
#include <vector>

#include "interfaces/FabricMmioAllocator.h"
#include "interfaces/RegionServices.h"
#include "interfaces/SmuServices.h"
#include "interfaces/SocServices.h"

namespace fake {

struct MmioCall {
  uint64_t Length;
  uint64_t AlignmentMask;
  uint32_t Target;
  uint8_t Attributes;
};

class FakeMmioAllocator {
 public:
  FakeMmioAllocator();
  QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *Protocol() { return &Record_.Protocol; }
  EFI_STATUS Answer = EFI_SUCCESS;
  std::vector<MmioCall> Calls;

 private:
  struct Record {
    QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL Protocol;
    FakeMmioAllocator *Owner;
  };
  static EFI_STATUS EFIAPI Allocate(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, UINT64 *Base, UINT64 *Length,
                                    UINT64 AlignmentMask, FABRIC_MMIO_TARGET Target,
                                    FABRIC_MMIO_ATTRIBUTES *Attributes);
  Record Record_;
};

struct RegionCall {
  uint64_t Base;
  uint64_t Length;
  uint64_t Flags;
  // The first word of the region when it was registered.
  uint32_t FirstWord;
};

// The region service's functions carry no record, so the fake in use is found through a pointer
// it sets while it lives.
class FakeRegionService {
 public:
  FakeRegionService();
  ~FakeRegionService();
  QORVEX_REGION_SERVICES_PROTOCOL *Protocol() { return &Protocol_; }
  std::vector<RegionCall> Calls;

 private:
  static EFI_STATUS EFIAPI Register(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Flags);
  QORVEX_REGION_SERVICES_PROTOCOL Protocol_;
};

class FakeSoc {
 public:
  FakeSoc();
  QORVEX_SOC_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }

  EFI_STATUS MaxFidStatus = EFI_SUCCESS;
  uint16_t MaxCoreFid = 0xB4;

  EFI_STATUS CoreCountStatus = EFI_SUCCESS;
  uint32_t PackagePresentMask = 0;
  uint32_t PackageCoreDisableMask = 0;

  // GetDieCoreInfo, by die index (socket x 4 + die); a die without an entry fails.
  struct Die {
    uint32_t PresentMask = 0;
    uint32_t DisableMask = 0;
    std::array<uint32_t, SOC_MAX_COMPLEX_DIES_PER_DIE> CoreDisableMasks{};
  };
  std::map<uint32_t, Die> Dies;
  uint32_t CoresPerComplexDie = 8;
  BOOLEAN Smt = TRUE;
  std::vector<uint32_t> DieQueries;

 private:
  struct Record {
    QORVEX_SOC_SERVICES_PROTOCOL Protocol;
    FakeSoc *Owner;
  };
  static FakeSoc &Owner(QORVEX_SOC_SERVICES_PROTOCOL *This) { return *reinterpret_cast<Record *>(This)->Owner; }
  static EFI_STATUS EFIAPI GetMaxCoreFid(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT16 *Value);
  static EFI_STATUS EFIAPI GetCoreCountInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 *Present, UINT32 *Disable,
                                            UINT32 *CoresPerComplexDie, BOOLEAN *Smt);
  static EFI_STATUS EFIAPI GetDieCoreInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 DieIndex, UINT32 *Present,
                                          UINT32 *Disable, UINT32 *CoreMasks, UINT32 *ArrayBytes,
                                          UINT32 *CoresPerComplexDie, BOOLEAN *Smt, UINT32 *ArrayEntries);
  Record Record_;
};

class FakeSmu {
 public:
  FakeSmu();
  QORVEX_SMU_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }
  EFI_STATUS Answer = EFI_SUCCESS;
  std::map<uint32_t, uint32_t> Registers;
  std::vector<uint32_t> Reads;

 private:
  struct Record {
    QORVEX_SMU_SERVICES_PROTOCOL Protocol;
    FakeSmu *Owner;
  };
  static EFI_STATUS EFIAPI Read(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN Instance, UINT32 Address, UINT32 *Value);
  Record Record_;
};

}  // namespace fake

#endif  // TESTS_SERVICES_SIBLING_FAKES_H_
