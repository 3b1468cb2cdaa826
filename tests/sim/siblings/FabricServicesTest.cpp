// The simulated fabric topology service as the driver calls it: counts per level from the machine
// description, uneven counts, 64-bit results, refused indices and injected failures.
#include <gtest/gtest.h>

#include <string>

#include "sim/machine/Machine.h"
#include "sim/siblings/FabricServices.h"

namespace sim {
namespace {

// Two sockets of one die; socket 1's second complex die has one complex of seven cores, and one
// core of socket 0 runs a single thread.
const char *kUnevenMachine = R"({"name": "uneven", "memory": {"dram": [{"base": "0x100000", "size": "0x1000000"}]},
  "msrs": {"0xC0010058": "0x000003FB00000021"},
  "topology": {"sockets": 2, "dies_per_socket": 1, "complex_dies_per_die": 2, "complexes_per_complex_die": 2,
               "cores_per_complex": 8, "threads_per_core": 2,
               "overrides": [{"socket": 1, "die": 0, "complex_die": 1, "complexes": 1},
                             {"socket": 1, "die": 0, "complex_die": 1, "complex": 0, "cores": 7},
                             {"socket": 0, "die": 0, "complex_die": 0, "complex": 1, "core": 3, "threads": 1}]},
  "faults": [{"service": "fabric_topology", "query": "GetNumberOfCores", "call": 3, "status": "0x8000000000000007"}]})";

class TopologyService : public ::testing::Test {
 protected:
  TopologyService() : Description(ParseMachine(kUnevenMachine, "uneven")), Faults(Description.Faults),
                      Fabric(Description.Shape, Faults) {}

  Machine Description;
  FaultInjector Faults;
  FabricServices Fabric;
  QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service = Fabric.TopologyProtocol();
};

// A count query by level (0 = sockets ... 5 = threads) with the indices of the levels above it.
EFI_STATUS Query(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL *Service, unsigned Level, const UINTN (&At)[5],
                 UINTN *Count) {
  switch (Level) {
    case 0: return Service->GetNumberOfSockets(Service, Count);
    case 1: return Service->GetNumberOfDies(Service, At[0], Count);
    case 2: return Service->GetNumberOfComplexDies(Service, At[0], At[1], Count);
    case 3: return Service->GetNumberOfComplexes(Service, At[0], At[1], At[2], Count);
    case 4: return Service->GetNumberOfCores(Service, At[0], At[1], At[2], At[3], Count);
    default: return Service->GetNumberOfThreads(Service, At[0], At[1], At[2], At[3], At[4], Count);
  }
}

struct CountCase {
  unsigned Level;
  UINTN At[5];
  UINTN Count;
};

class CountQuery : public TopologyService, public ::testing::WithParamInterface<CountCase> {};

TEST_P(CountQuery, AnswersTheMachinesCountInAll64Bits) {
  const CountCase &Case = GetParam();
  // The query fills the whole 64-bit count; nothing of what was there before survives.
  UINTN Count = ~0ULL;
  ASSERT_EQ(Query(Service, Case.Level, Case.At, &Count), EFI_SUCCESS);
  EXPECT_EQ(Count, Case.Count);
}

INSTANTIATE_TEST_SUITE_P(UnevenMachine, CountQuery,
                         ::testing::Values(CountCase{0, {}, 2}, CountCase{1, {1}, 1}, CountCase{2, {0, 0}, 2},
                                           CountCase{3, {1, 0, 0}, 2}, CountCase{3, {1, 0, 1}, 1},
                                           CountCase{4, {1, 0, 1, 0}, 7}, CountCase{4, {1, 0, 0, 1}, 8},
                                           CountCase{5, {0, 0, 0, 1, 3}, 1}, CountCase{5, {0, 0, 0, 1, 4}, 2}));

// An index that names no instance, whether past the count or too large for any count, is refused
// with a negative status and leaves the count alone.
class MissingInstance : public TopologyService, public ::testing::WithParamInterface<CountCase> {};

TEST_P(MissingInstance, IsRefusedWithAnError) {
  UINTN Count = 0x1234;
  EXPECT_TRUE(EFI_ERROR(Query(Service, GetParam().Level, GetParam().At, &Count)));
  EXPECT_EQ(Count, 0x1234u);
}

INSTANTIATE_TEST_SUITE_P(UnevenMachine, MissingInstance,
                         ::testing::Values(CountCase{1, {2}}, CountCase{2, {0, 1}}, CountCase{3, {1, 0, 2}},
                                           CountCase{4, {1, 0, 1, 1}}, CountCase{5, {1, 0, 1, 0, 7}},
                                           CountCase{5, {0x100000000ULL, 0, 0, 0, 0}},
                                           CountCase{2, {0x100000000ULL + 1, 0}}));

TEST_F(TopologyService, InjectedFaultFailsOnlyItsCall) {
  const UINTN At[5] = {0, 0, 0, 0, 0};
  UINTN Count = 0;
  EXPECT_EQ(Query(Service, 4, At, &Count), EFI_SUCCESS);
  EXPECT_EQ(Query(Service, 4, At, &Count), EFI_SUCCESS);
  Count = 99;
  EXPECT_EQ(Query(Service, 4, At, &Count), 0x8000000000000007ULL);
  EXPECT_EQ(Count, 99u);
  EXPECT_EQ(Query(Service, 4, At, &Count), EFI_SUCCESS);
  EXPECT_EQ(Count, 8u);
  EXPECT_EQ(Faults.Calls("fabric_topology", "GetNumberOfCores"), 4u);
  EXPECT_EQ(Faults.Calls("fabric_topology", "GetNumberOfThreads"), 0u);
}

TEST_F(TopologyService, MissingCountPointerIsRefused) {
  EXPECT_TRUE(EFI_ERROR(Service->GetNumberOfSockets(Service, nullptr)));
}

}  // namespace
}  // namespace sim
