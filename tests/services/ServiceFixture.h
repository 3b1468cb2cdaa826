// The driver image with debug output, loaded over the fake firmware (DriverFixture), with its
// memory-mapped registers served by the simulator's device models: the PCI configuration window
// with the host bridges' sideband pairs, the sideband register space and the data-fabric window.
// Tests set the processor's registers as raw values, so that a field defined wrongly in both the
// driver and the simulator still shows. Pool memory is handed back when a test ends: the shared
// heap never frees its buffers, and the next test's fresh image no longer reaches them.
#ifndef TESTS_SERVICES_SERVICE_FIXTURE_H_
#define TESTS_SERVICES_SERVICE_FIXTURE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "arch/host/HostHooks.h"
#include "sim/devices/DeviceSet.h"
#include "tests/driver/DriverFixture.h"

class ServiceFixture : public DriverFixture {
 protected:
  ServiceFixture();
  ~ServiceFixture() override;

  // Replaces the devices with ones built from Config (segments, host bridges).
  void UseDevices(const sim::DeviceSetConfig &Config);
  sim::DeviceSet &Devices() { return *Devices_; }

  // CPUID 0x8000001E EBX bits 15:8 hold the threads per core less one.
  void SetThreadsPerCore(uint32_t Threads);
  // CPUID 0x80000001: the family signature in EAX, the package type in EBX bits 31:28.
  void SetSignature(uint32_t Eax, uint32_t Ebx);
  // The four words of the enabled-core map, lowest first, behind the sideband host bridge.
  void SetEnabledCoreMap(const std::array<uint32_t, 4> &Words);
  void SetSideband(uint32_t Address, uint32_t Value);
  // The value every sideband address that nothing set reads as.
  void SetSidebandDefault(uint32_t Value);

 private:
  std::unique_ptr<sim::DeviceSet> Devices_;
  CCX_ARCH_HOST_HOOKS Hooks_{};
  const CCX_ARCH_HOST_HOOKS *Previous_ = nullptr;
};

#endif  // TESTS_SERVICES_SERVICE_FIXTURE_H_
