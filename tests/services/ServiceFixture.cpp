#include "tests/services/ServiceFixture.h"

#include <cstdlib>
#include <cstring>

#include "arch/Cpuid.h"

namespace {

sim::DeviceSet *gDevices = nullptr;
std::vector<void *> gPool;

// Fresh pool memory holds a pattern, so that zeros a test sees come from the code under test.
EFI_STATUS EFIAPI TrackedAllocatePool(EFI_MEMORY_TYPE, UINTN Size, VOID **Buffer) {
  *Buffer = std::malloc(Size == 0 ? 1 : Size);
  if (*Buffer == nullptr) return EFI_OUT_OF_RESOURCES;
  std::memset(*Buffer, 0xA5, Size);
  gPool.push_back(*Buffer);
  return EFI_SUCCESS;
}

uint64_t DeviceMmioRead(uint64_t Address, unsigned Width) { return gDevices->Mmio().Read(Address, Width); }
void DeviceMmioWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  gDevices->Mmio().Write(Address, Width, Value);
}

}  // namespace

ServiceFixture::ServiceFixture() : Devices_(std::make_unique<sim::DeviceSet>()) {
  gDevices = Devices_.get();
  // Everything but memory-mapped registers stays with the fake firmware.
  Hooks_ = CcxArchHostHooks();
  Hooks_.MmioRead = DeviceMmioRead;
  Hooks_.MmioWrite = DeviceMmioWrite;
  Previous_ = CcxInstallArchHostHooks(&Hooks_);
  SetThreadsPerCore(1);
  Firmware.SystemTable()->BootServices->AllocatePool = TrackedAllocatePool;
}

ServiceFixture::~ServiceFixture() {
  CcxInstallArchHostHooks(Previous_);
  gDevices = nullptr;
  for (void *Block : gPool) std::free(Block);
  gPool.clear();
}

void ServiceFixture::UseDevices(const sim::DeviceSetConfig &Config) {
  Devices_ = std::make_unique<sim::DeviceSet>(Config);
  gDevices = Devices_.get();
}

void ServiceFixture::SetThreadsPerCore(uint32_t Threads) {
  Firmware.CpuidLeaves[CpuidLeaf::ProcessorTopology::Leaf] = {0, (Threads - 1) << 8, 0, 0};
}

void ServiceFixture::SetSignature(uint32_t Eax, uint32_t Ebx) {
  Firmware.CpuidLeaves[CpuidLeaf::ExtendedSignature] = {Eax, Ebx, 0, 0};
}

void ServiceFixture::SetEnabledCoreMap(const std::array<uint32_t, 4> &Words) {
  for (uint32_t Index = 0; Index < Words.size(); Index++) SetSideband(0x49001140 + 4 * Index, Words[Index]);
}

void ServiceFixture::SetSideband(uint32_t Address, uint32_t Value) { Devices_->Sideband().Set(Address, Value); }

void ServiceFixture::SetSidebandDefault(uint32_t Value) { Devices_->Sideband().SetDefaultValue(Value); }
