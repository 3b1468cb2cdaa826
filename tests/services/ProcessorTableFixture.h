// The driver image over the fake firmware and fabric, set up for the services that append
// processor entries to outside tables: a machine shape, a NUMA service whose domains and failures
// a test chooses per complex, and the APIC IDs of the walk as the register-access code gives them.
#ifndef TESTS_SERVICES_PROCESSOR_TABLE_FIXTURE_H_
#define TESTS_SERVICES_PROCESSOR_TABLE_FIXTURE_H_

#include <array>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "interfaces/FabricNumaServices.h"
#include "services/CoreRegisters.h"
#include "tests/services/ServiceFixture.h"
#include "tests/support/FakeFabric.h"

namespace fake {

// A NUMA service: domains by complex (socket, die, complex die, complex), the socket number for
// complexes it is not told about, and complexes whose query fails after writing garbage.
class FakeNuma {
 public:
  FakeNuma() : Record_{{1, GetProximityDomain}, this} {}
  QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *Protocol() { return &Record_.Interface; }

  std::map<std::array<UINTN, 4>, uint32_t> Domains;
  std::set<std::array<UINTN, 4>> Failing;
  std::vector<std::array<UINTN, 4>> Asked;

 private:
  static EFI_STATUS EFIAPI GetProximityDomain(QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL *This, UINTN Socket, UINTN Die,
                                              UINTN ComplexDie, UINTN Complex, UINT32 *Domain) {
    FakeNuma &Self = *reinterpret_cast<Holder *>(This)->Owner;
    const std::array<UINTN, 4> Key = {Socket, Die, ComplexDie, Complex};
    Self.Asked.push_back(Key);
    if (Self.Failing.count(Key) != 0) {
      *Domain = 0xDEAD;
      return EFI_DEVICE_ERROR;
    }
    auto It = Self.Domains.find(Key);
    *Domain = It != Self.Domains.end() ? It->second : static_cast<uint32_t>(Socket);
    return EFI_SUCCESS;
  }
  struct Holder {
    QORVEX_FABRIC_NUMA_SERVICES_PROTOCOL Interface;
    FakeNuma *Owner;
  };
  Holder Record_;
};

}  // namespace fake

// Counts per level as FabricShape gives them; the core topology register leaves room for every
// index the shapes below use, so socket 1 begins far above APIC ID 255.
class ProcessorTableFixture : public ServiceFixture {
 protected:
  explicit ProcessorTableFixture(fake::FabricShape Shape) : Fabric(Shape) {
    image::gImage.Init.TopologyServices = Fabric.Topology();
    image::gImage.Init.NumaServices = Numa.Protocol();
    Firmware.Msrs[0xC0010058] = 0x3FB00000021;
    SetEnabledCoreMap({1, 0, 0, 0});
    // Sockets up to 2, complex dies up to 16, one complex bit, cores up to 16: thread 1 bit, core
    // 4 bits, complex 1 bit, complex die 4 bits, so the socket field starts at bit 10.
    SetSideband(0x20002FEC, 1U << 25 | 15U << 21 | 1U << 20 | 15U << 16);
    SetThreadsPerCore(static_cast<uint32_t>(Shape.Counts[5]));
    for (UINTN S = 0; S < Shape.Counts[0]; S++)
      for (UINTN D = 0; D < Shape.Counts[1]; D++)
        for (UINTN Cd = 0; Cd < Shape.Counts[2]; Cd++)
          for (UINTN Cx = 0; Cx < Shape.Counts[3]; Cx++) {
            Complexes.push_back({S, D, Cd, Cx});
            for (UINTN Co = 0; Co < Shape.Counts[4]; Co++)
              for (UINTN T = 0; T < Shape.Counts[5]; T++) {
                ApicIds.push_back(image::CcxGetApicId(S, D, Cd, Cx, Co, T));
                ComplexOf.push_back(Complexes.size() - 1);
              }
          }
  }

  static uint32_t Read32(const uint8_t *Bytes, size_t Offset) {
    uint32_t Value = 0;
    std::memcpy(&Value, Bytes + Offset, sizeof(Value));
    return Value;
  }
  static uint16_t Read16(const uint8_t *Bytes, size_t Offset) {
    uint16_t Value = 0;
    std::memcpy(&Value, Bytes + Offset, sizeof(Value));
    return Value;
  }

  fake::FakeFabric Fabric;
  fake::FakeNuma Numa;
  // Complexes and threads in walk order, each thread's APIC ID and the index of its complex.
  std::vector<std::array<UINTN, 4>> Complexes;
  std::vector<uint32_t> ApicIds;
  std::vector<size_t> ComplexOf;
};

#endif  // TESTS_SERVICES_PROCESSOR_TABLE_FIXTURE_H_
