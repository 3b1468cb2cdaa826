#include "tests/services/SiblingFakes.h"

#include <cstring>

namespace fake {
namespace {

FakeRegionService *gRegionService = nullptr;

}  // namespace

FakeMmioAllocator::FakeMmioAllocator() : Record_{{1, nullptr, Allocate}, this} {}

EFI_STATUS EFIAPI FakeMmioAllocator::Allocate(QORVEX_FABRIC_MMIO_ALLOCATOR_PROTOCOL *This, UINT64 *Base,
                                              UINT64 *Length, UINT64 AlignmentMask, FABRIC_MMIO_TARGET Target,
                                              FABRIC_MMIO_ATTRIBUTES *Attributes) {
  FakeMmioAllocator &Self = *reinterpret_cast<Record *>(This)->Owner;
  Self.Calls.push_back({*Length, AlignmentMask, Target, *Attributes});
  if (Self.Answer == EFI_SUCCESS) *Base = 0xE0000000;
  return Self.Answer;
}

FakeRegionService::FakeRegionService() : Protocol_{1, nullptr, nullptr, Register} { gRegionService = this; }
FakeRegionService::~FakeRegionService() { gRegionService = nullptr; }

EFI_STATUS EFIAPI FakeRegionService::Register(EFI_PHYSICAL_ADDRESS Base, UINT64 Length, UINT64 Flags) {
  uint32_t FirstWord = 0;
  std::memcpy(&FirstWord, reinterpret_cast<const void *>(static_cast<uintptr_t>(Base)), sizeof(FirstWord));
  gRegionService->Calls.push_back({Base, Length, Flags, FirstWord});
  return EFI_SUCCESS;
}

FakeSoc::FakeSoc() : Record_{{1, GetMaxCoreFid, GetCoreCountInfo, nullptr, GetDieCoreInfo}, this} {}

EFI_STATUS EFIAPI FakeSoc::GetMaxCoreFid(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT16 *Value) {
  FakeSoc &Self = Owner(This);
  if (Self.MaxFidStatus == EFI_SUCCESS) *Value = Self.MaxCoreFid;
  return Self.MaxFidStatus;
}

EFI_STATUS EFIAPI FakeSoc::GetCoreCountInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 *Present, UINT32 *Disable,
                                            UINT32 *CoresPerComplexDie, BOOLEAN *Smt) {
  FakeSoc &Self = Owner(This);
  if (Self.CoreCountStatus != EFI_SUCCESS) return Self.CoreCountStatus;
  *Present = Self.PackagePresentMask;
  *Disable = Self.PackageCoreDisableMask;
  *CoresPerComplexDie = Self.CoresPerComplexDie;
  *Smt = Self.Smt;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI FakeSoc::GetDieCoreInfo(QORVEX_SOC_SERVICES_PROTOCOL *This, UINT32 DieIndex, UINT32 *Present,
                                          UINT32 *Disable, UINT32 *CoreMasks, UINT32 *ArrayBytes,
                                          UINT32 *CoresPerComplexDie, BOOLEAN *Smt, UINT32 *ArrayEntries) {
  FakeSoc &Self = Owner(This);
  Self.DieQueries.push_back(DieIndex);
  auto Found = Self.Dies.find(DieIndex);
  if (Found == Self.Dies.end()) return EFI_NOT_FOUND;
  if (*ArrayBytes != 48 || *ArrayEntries != SOC_MAX_COMPLEX_DIES_PER_DIE) return EFI_BUFFER_TOO_SMALL;
  *Present = Found->second.PresentMask;
  *Disable = Found->second.DisableMask;
  std::memcpy(CoreMasks, Found->second.CoreDisableMasks.data(), 48);
  *CoresPerComplexDie = Self.CoresPerComplexDie;
  *Smt = Self.Smt;
  return EFI_SUCCESS;
}

FakeSmu::FakeSmu() : Record_{{1, nullptr, nullptr, nullptr, Read}, this} {}

EFI_STATUS EFIAPI FakeSmu::Read(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN Instance, UINT32 Address, UINT32 *Value) {
  FakeSmu &Self = *reinterpret_cast<Record *>(This)->Owner;
  Self.Reads.push_back(Address);
  if (Self.Answer != EFI_SUCCESS || Instance != 0) return Self.Answer;
  auto Found = Self.Registers.find(Address);
  *Value = Found == Self.Registers.end() ? 0 : Found->second;
  return EFI_SUCCESS;
}

}  // namespace fake
