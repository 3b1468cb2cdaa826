// The resource affinity table's builder catches a wrong answer of each kind: boots whose driver
// record is replaced, after the boot, by a copy in which one service's entries are changed in one
// field on their way to the builder. Also: the builder follows the machine's injected sibling
// faults (a domain query that fails, a topology walk cut short) without complaint, and the clean
// boot of every example machine gives no difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "arch/Msr.h"
#include "driver/ImageDescriptor.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AffinityTableBuilder.h"
#include "sim/oracle/ResourceAffinityOracle.h"
#include "sim/platform/BootRunner.h"

namespace sim {
namespace {

using Protocol = QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL;
using Header = CCX_RESOURCE_AFFINITY_TABLE_HEADER;
using Service = CCX_AFFINITY_ADD_ENTRIES Protocol::*;

// What a test changes after one service's call: the header, the stretch from Begin to the cursor,
// the cursor itself and the status, with the platform at hand.
using Change = std::function<void(Platform &, Header &, UINT8 *Begin, UINT8 *&Cursor, EFI_STATUS &)>;

// The record the driver installed and the change of the one wrapped service; EFIAPI functions
// find them here.
struct Wrapping {
  Protocol *Original = nullptr;
  Platform *Machine = nullptr;
  Change Apply;
};
Wrapping gWrapping;

template <Service Which>
EFI_STATUS EFIAPI Wrapped(Protocol *, Header *TableHeader, UINT8 **Cursor) {
  UINT8 *Begin = *Cursor;
  EFI_STATUS Status = (gWrapping.Original->*Which)(gWrapping.Original, TableHeader, Cursor);
  gWrapping.Apply(*gWrapping.Machine, *TableHeader, Begin, *Cursor, Status);
  return Status;
}

// Puts a copy of the driver's record, with Which wrapped, in its place on the driver's handle.
void WrapService(Platform &Machine, Service Which, EFI_STATUS(EFIAPI *Wrapper)(Protocol *, Header *, UINT8 **),
                 Change Apply, Protocol &Copy) {
  EFI_BOOT_SERVICES *Boot = Machine.Core().BootServices();
  VOID *Interface = nullptr;
  ASSERT_EQ(Boot->LocateProtocol(&gQorvexCcxResourceAffinityServicesProtocolGuid, nullptr, &Interface), EFI_SUCCESS);
  UINTN Count = 0;
  EFI_HANDLE *Handles = nullptr;
  ASSERT_EQ(
      Boot->LocateHandleBuffer(ByProtocol, &gQorvexCcxResourceAffinityServicesProtocolGuid, nullptr, &Count, &Handles),
      EFI_SUCCESS);
  ASSERT_EQ(Count, 1u);
  gWrapping = {static_cast<Protocol *>(Interface), &Machine, std::move(Apply)};
  Copy = *gWrapping.Original;
  Copy.*Which = Wrapper;
  ASSERT_EQ(
      Boot->ReinstallProtocolInterface(Handles[0], &gQorvexCcxResourceAffinityServicesProtocolGuid, Interface, &Copy),
      EFI_SUCCESS);
  Boot->FreePool(Handles);
}

// Boots Description and builds the table after the boot, with one service changed when asked.
AffinityTableReport BuildAfterBoot(const Machine &Description, Service Which = nullptr,
                                   EFI_STATUS(EFIAPI *Wrapper)(Protocol *, Header *, UINT8 **) = nullptr,
                                   Change Apply = {}) {
  AffinityTableReport Report;
  Protocol Copy{};
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    if (Which != nullptr) WrapService(Machine, Which, Wrapper, Apply, Copy);
    Report = BuildAffinityTable(Machine);
  };
  RunBoot(Description, CcxImageDescriptor, Options);
  return Report;
}

// The Index-th entry of type Entry in the stretch a call appended.
template <typename Entry>
Entry *EntryAt(UINT8 *Begin, size_t Index) {
  return reinterpret_cast<Entry *>(Begin + Index * sizeof(Entry));
}

struct ChangedAnswer {
  const char *Name;
  Machine (*Description)();
  Service Which;
  EFI_STATUS(EFIAPI *Wrapper)(Protocol *, Header *, UINT8 **);
  Change Apply;
  // The sentence the builder must report.
  const char *Error;
};

Machine TwoSocket() { return LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/two-socket.json"); }

constexpr Service kUnits = &Protocol::AddComputeUnitEntries;
constexpr Service kCaches = &Protocol::AddCacheEntries;
constexpr Service kTlbs = &Protocol::AddTlbEntries;

// On the default machine the caches each position lists are level-1 data and instruction (2 threads),
// level 2 (2 threads) and level 3 (16 threads): position 0 appends cache entries 0 to 3, position 2
// entries 4 to 6. Every even position appends its four TLB entries, all shared by two threads.
const ChangedAnswer kChangedAnswers[] = {
    {"ComputeUnitDomain", DefaultMachine, kUnits, Wrapped<kUnits>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_COMPUTE_UNIT_ENTRY>(Begin, 0)->ProximityDomain = 7;
     },
     "AddComputeUnitEntries compute-unit entry 0 (APIC ID 0) ProximityDomain: expected 0, received 7"},
    {"ComputeUnitThreadsOnTwoSockets", TwoSocket, kUnits, Wrapped<kUnits>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_COMPUTE_UNIT_ENTRY>(Begin, 1)->ThreadCount -= 1;
     },
     "AddComputeUnitEntries compute-unit entry 1 (APIC ID 32) ThreadCount: expected 32, received 31"},
    {"ComputeUnitMissing", DefaultMachine, kUnits, Wrapped<kUnits>,
     [](Platform &, Header &, UINT8 *, UINT8 *&Cursor, EFI_STATUS &) {
       Cursor -= sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY);
     },
     "AddComputeUnitEntries entries: expected 1 compute-unit entries, received 0"},
    {"CacheSize", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_CACHE_ENTRY>(Begin, 2)->CacheSizeInKb = 512;
     },
     "AddCacheEntries cache entry 2 (walk position 0, level-2 unified cache) CacheSizeInKb: expected 1024, "
     "received 512"},
    {"CacheAssociativity", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_CACHE_ENTRY>(Begin, 3)->Associativity = 8;
     },
     "AddCacheEntries cache entry 3 (walk position 0, level-3 unified cache) Associativity: expected 16, "
     "received 8"},
    {"CacheKind", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_CACHE_ENTRY>(Begin, 1)->Flags |= CCX_AFFINITY_FLAG_DATA;
     },
     "AddCacheEntries cache entry 1 (walk position 0, level-1 instruction cache) Flags: expected 13, received 15"},
    {"CacheSiblingMap", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_CACHE_ENTRY>(Begin, 6)->SiblingMap[0] = 0x04;
     },
     "AddCacheEntries cache entry 6 (walk position 2, level-2 unified cache) SiblingMap byte 0: expected 0x0C, "
     "received 0x04"},
    {"CacheWideGroupMarksOnlyItsOwn", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_CACHE_ENTRY>(Begin, 3)->SiblingMap[2] = 0xFF;
     },
     "AddCacheEntries cache entry 3 (walk position 0, level-3 unified cache) SiblingMap byte 2: expected 0x00, "
     "received 0xFF"},
    {"CacheFeatureBitLeftSet", DefaultMachine, kCaches, Wrapped<kCaches>,
     [](Platform &Machine, Header &, UINT8 *, UINT8 *&, EFI_STATUS &) {
       Processor &Bsp = Machine.Processors().Bsp();
       const uint64_t Value = Bsp.PeekMsr(Msr::CpuidExtFeatures::Number).value_or(0);
       Bsp.WriteMsr(Msr::CpuidExtFeatures::Number, Msr::CpuidExtFeatures::TopologyExtensions::Set(Value, 1));
     },
     "AddCacheEntries BSP MSR 0xC0011005 value after the call: expected 0x178BFBFF, received 0x400000178BFBFF"},
    {"TlbEntries", DefaultMachine, kTlbs, Wrapped<kTlbs>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_TLB_ENTRY>(Begin, 0)->DataTlb4K.Entries = 64;
     },
     "AddTlbEntries TLB entry 0 (walk position 0, level-1 data TLB) DataTlb4K.Entries: expected 72, received 64"},
    {"TlbCountInUnitsOf256", DefaultMachine, kTlbs, Wrapped<kTlbs>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) {
       EntryAt<CCX_AFFINITY_TLB_ENTRY>(Begin, 2)->Flags &= ~CCX_AFFINITY_TLB_FLAG_4K_IN_256;
     },
     "AddTlbEntries TLB entry 2 (walk position 0, level-2 data TLB) Flags: expected 683, received 651"},
    {"TlbReservedByte", DefaultMachine, kTlbs, Wrapped<kTlbs>,
     [](Platform &, Header &, UINT8 *Begin, UINT8 *&, EFI_STATUS &) { Begin[64 * 3 + 60] = 1; },
     "AddTlbEntries TLB entry 3 (walk position 0, level-2 instruction TLB) reserved byte 60: expected 0, received 1"},
    {"TlbHeaderCount", DefaultMachine, kTlbs, Wrapped<kTlbs>,
     [](Platform &, Header &Counters, UINT8 *, UINT8 *&, EFI_STATUS &) { Counters.TotalEntries -= 1; },
     "AddTlbEntries table header TotalEntries: expected 457, received 456"},
    {"TlbStatus", DefaultMachine, kTlbs, Wrapped<kTlbs>,
     [](Platform &, Header &, UINT8 *, UINT8 *&, EFI_STATUS &Status) { Status = EFI_DEVICE_ERROR; },
     "AddTlbEntries call status: expected 0, received 0x8000000000000007"},
};

class ResourceAffinityChangedAnswer : public ::testing::TestWithParam<ChangedAnswer> {};

TEST_P(ResourceAffinityChangedAnswer, IsReported) {
  const ChangedAnswer &Case = GetParam();
  const AffinityTableReport Report = BuildAfterBoot(Case.Description(), Case.Which, Case.Wrapper, Case.Apply);
  ASSERT_TRUE(Report.ServiceFound);
  EXPECT_NE(std::find(Report.Errors.begin(), Report.Errors.end(), Case.Error), Report.Errors.end())
      << "expected: " << Case.Error << "\nreported:\n"
      << ::testing::PrintToString(Report.Errors);
}

INSTANTIATE_TEST_SUITE_P(OneFieldEach, ResourceAffinityChangedAnswer, ::testing::ValuesIn(kChangedAnswers),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ResourceAffinityChangedCursor, LeavingTheAreaIsReportedAndEndsTheTable) {
  const AffinityTableReport Report =
      BuildAfterBoot(DefaultMachine(), kCaches, Wrapped<kCaches>,
                     [](Platform &, Header &, UINT8 *Begin, UINT8 *&Cursor, EFI_STATUS &) { Cursor = Begin - 64; });
  ASSERT_FALSE(Report.Errors.empty());
  EXPECT_EQ(Report.Errors.back().rfind("AddCacheEntries cursor: the call moved it to 0x", 0), 0u) << Report.Errors.back();
  EXPECT_FALSE(Report.TlbStatus.has_value());
  EXPECT_TRUE(Report.Table.empty());
}

// Complex dies 0 to 3 of the default machine in domain 0, 4 to 7 in domain 1.
Machine TwoDomains() {
  Machine Description = DefaultMachine();
  for (uint32_t ComplexDie = 0; ComplexDie < 8; ComplexDie++) {
    Description.NumaDomains.push_back({0, 0, ComplexDie, 0, ComplexDie < 4 ? 0u : 1u});
  }
  return Description;
}

TEST(ResourceAffinityFaults, FirstComplexWithoutDomainGivesNoMapping) {
  Machine Description = DefaultMachine();
  for (uint64_t Call = 1; Call <= 4; Call++) {
    Description.Faults.push_back({"fabric_numa", "GetProximityDomain(0,0,0,0)", Call, EFI_DEVICE_ERROR});
  }
  const AffinityTableReport Report = BuildAfterBoot(Description);
  EXPECT_TRUE(Report.Errors.empty()) << ::testing::PrintToString(Report.Errors);
  EXPECT_EQ(Report.ComputeUnitStatus, EFI_NO_MAPPING);
  EXPECT_TRUE(Report.ComputeUnits.empty());
  EXPECT_EQ(Report.CacheEntries, 64u + 64u + 64u + 8u);
}

TEST(ResourceAffinityFaults, ComplexWhoseQueryFailsKeepsTheDomainBefore) {
  Machine Description = TwoDomains();
  for (uint64_t Call = 1; Call <= 4; Call++) {
    Description.Faults.push_back({"fabric_numa", "GetProximityDomain(0,0,4,0)", Call, EFI_DEVICE_ERROR});
  }
  const AffinityTableReport Report = BuildAfterBoot(Description);
  EXPECT_TRUE(Report.Errors.empty()) << ::testing::PrintToString(Report.Errors);
  ASSERT_EQ(Report.ComputeUnits.size(), 2u);
  EXPECT_EQ(Report.ComputeUnits[0].Threads, 5u * 16u);
  EXPECT_EQ(Report.ComputeUnits[1].Domain, 1u);
}

TEST(ResourceAffinityFaults, WalkCutShortByTheTopologyService) {
  // The thread-count queries the boot makes before the builder, then one that fails in the middle
  // of the cache walk: the compute-unit walk asks once per position and once more at its end.
  uint64_t Before = 0;
  BootOptions Options;
  Options.AfterBoot = [&](Platform &Machine) {
    Before = Machine.Faults().Calls("fabric_topology", "GetNumberOfThreads");
  };
  RunBoot(DefaultMachine(), CcxImageDescriptor, Options);
  Machine Description = DefaultMachine();
  Description.Faults.push_back({"fabric_topology", "GetNumberOfThreads", Before + 128 + 20, EFI_DEVICE_ERROR});
  const AffinityTableReport Report = BuildAfterBoot(Description);
  EXPECT_TRUE(Report.Errors.empty()) << ::testing::PrintToString(Report.Errors);
  // The cache service met only part of the processors and says so; the others walked to the end.
  EXPECT_EQ(Report.ComputeUnitStatus, EFI_SUCCESS);
  EXPECT_EQ(Report.CacheStatus, EFI_DEVICE_ERROR);
  EXPECT_EQ(Report.TlbStatus, EFI_SUCCESS);
  // Positions 0 to 19: three entries at each even position, and the level-3 entry at 0 and 16.
  EXPECT_EQ(Report.CacheEntries, 10u * 3u + 2u);
  EXPECT_EQ(Report.TlbEntries, 64u * 4u);
}

// Sibling maps of groups that do not sit inside one byte: the one-byte rule or the exact members.
struct MapCase {
  uint32_t First;
  uint32_t Sharing;
  std::vector<std::pair<size_t, std::pair<uint8_t, uint8_t>>> Bytes;  // byte → (rule, members)
};

TEST(ResourceAffinitySiblingMap, GroupsAcrossBytesAcceptTheRuleOrTheirMembers) {
  const MapCase Cases[] = {
      {6, 3, {{0, {0xC0, 0xC0}}, {1, {0x00, 0x01}}, {2, {0x00, 0x00}}}},
      {12, 12, {{1, {0xFF, 0xF0}}, {2, {0x00, 0xFF}}, {3, {0x00, 0x00}}}},
      {248, 16, {{31, {0xFF, 0xFF}}, {30, {0x00, 0x00}}}},
      {256, 2, {{0, {0x00, 0x00}}, {31, {0x00, 0x00}}}},
  };
  for (const MapCase &Case : Cases) {
    const ExpectedSiblingMap Map = SiblingMapFor(Case.First, Case.Sharing);
    for (const auto &[Byte, Values] : Case.Bytes) {
      EXPECT_EQ(Map.Bytes[Byte], Values.first) << Case.First << "/" << Case.Sharing << " byte " << Byte;
      EXPECT_EQ(Map.Alternative[Byte], Values.second) << Case.First << "/" << Case.Sharing << " byte " << Byte;
    }
  }
}

std::vector<std::string> ExampleMachines() {
  std::vector<std::string> Names;
  for (const auto &File : std::filesystem::directory_iterator(CCX_MACHINES_DIR)) {
    if (File.path().extension() == ".json") Names.push_back(File.path().stem().string());
  }
  std::sort(Names.begin(), Names.end());
  return Names;
}

class ResourceAffinityCleanBoot : public ::testing::TestWithParam<std::string> {};

TEST_P(ResourceAffinityCleanBoot, AgreesWithTheMachine) {
  const Machine Description = LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/" + GetParam() + ".json");
  const AffinityTableReport Report = BuildAfterBoot(Description);
  ASSERT_TRUE(Report.ServiceFound);
  EXPECT_TRUE(Report.Errors.empty()) << ::testing::PrintToString(Report.Errors);
  EXPECT_EQ(Report.ComputeUnitStatus, EFI_SUCCESS);
  EXPECT_EQ(Report.CacheStatus, EFI_SUCCESS);
  EXPECT_EQ(Report.TlbStatus, EFI_SUCCESS);
  EXPECT_FALSE(Report.ComputeUnits.empty());
  EXPECT_GT(Report.TlbEntries, 0u);
}

INSTANTIATE_TEST_SUITE_P(ExampleMachines, ResourceAffinityCleanBoot, ::testing::ValuesIn(ExampleMachines()),
                         [](const auto &Info) {
                           std::string Name = Info.param;
                           std::replace(Name.begin(), Name.end(), '-', '_');
                           return Name;
                         });

}  // namespace
}  // namespace sim
