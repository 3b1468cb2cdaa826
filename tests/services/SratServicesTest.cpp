// The SRAT processor entries: both structure forms by APIC mode, byte for byte; the cursor's
// movement; the split domain bytes of the local APIC form; threads numbered 255 or above left out
// of the local APIC form only; and complexes whose domain query fails.
#include <algorithm>
#include <string>
#include <vector>

#include "interfaces/PlatformConfig.h"
#include "services/SratServices.h"
#include "tests/services/ProcessorTableFixture.h"

namespace {

constexpr uint8_t kX2ApicMode = 2;

class SratEntries : public ProcessorTableFixture {
 protected:
  explicit SratEntries(fake::FabricShape Shape = {{2, 1, 2, 1, 4, 2}}) : ProcessorTableFixture(Shape) {}

  // Runs the service over a zero-filled area and answers how far the cursor moved.
  size_t Run(uint8_t ApicMode) {
    Firmware.Pcd[PcdCcxApicMode] = ApicMode;
    Table.assign(4096, 0);
    uint8_t *Cursor = Table.data();
    EXPECT_EQ(image::AddProcessorAffinityEntries(nullptr, nullptr, &Cursor), EFI_SUCCESS);
    return static_cast<size_t>(Cursor - Table.data());
  }

  std::vector<uint8_t> Table;
};

// A count query that fails part-way leaves threads without an entry: the service says so, with
// the place the walk ended, rather than answering success for part of the system.
TEST_F(SratEntries, FailedCountQueryIsAnErrorWithItsPlace) {
  Fabric.Fail("GetNumberOfDies", 1, EFI_DEVICE_ERROR);
  Firmware.Pcd[PcdCcxApicMode] = kX2ApicMode;
  Table.assign(4096, 0);
  uint8_t *Cursor = Table.data();
  EXPECT_EQ(image::AddProcessorAffinityEntries(nullptr, nullptr, &Cursor), EFI_DEVICE_ERROR);
  const std::vector<std::string> Lines = this->Lines();
  EXPECT_NE(std::find(Lines.begin(), Lines.end(),
                      "  ERROR: AddProcessorAffinityEntries: fabric topology count query failed after socket 0, die 0, "
                      "complex die 1, complex 0: Device Error"),
            Lines.end())
      << Uart();
}

TEST_F(SratEntries, X2ApicModeGivesOneTwentyFourByteEntryPerThread) {
  Numa.Domains[{1, 0, 1, 0}] = 7;
  ASSERT_EQ(ApicIds.size(), 32u);
  EXPECT_EQ(Run(kX2ApicMode), 32u * 24);
  for (size_t Thread = 0; Thread < ApicIds.size(); Thread++) {
    const uint8_t *Entry = Table.data() + 24 * Thread;
    SCOPED_TRACE(Thread);
    EXPECT_EQ(Entry[0], 2);
    EXPECT_EQ(Entry[1], 24);
    EXPECT_EQ(Read16(Entry, 2), 0);
    const uint32_t Expected = ComplexOf[Thread] == 3 ? 7 : static_cast<uint32_t>(Complexes[ComplexOf[Thread]][0]);
    EXPECT_EQ(Read32(Entry, 4), Expected);
    EXPECT_EQ(Read32(Entry, 8), ApicIds[Thread]);
    EXPECT_EQ(Read32(Entry, 12), 1u);
    EXPECT_EQ(Read32(Entry, 16), 0u);
    EXPECT_EQ(Read32(Entry, 20), 0u);
  }
  // The domain is asked for once per complex, in walk order.
  EXPECT_EQ(Numa.Asked, Complexes);
}

// Socket 1's threads are numbered from 1024 on: in local APIC mode they get no entry, the others
// one 16-byte entry each, in walk order.
TEST_F(SratEntries, LocalApicModeLeavesOutThreadsNumbered255OrAbove) {
  std::vector<uint32_t> Kept;
  for (uint32_t Id : ApicIds)
    if (Id < 255) Kept.push_back(Id);
  ASSERT_EQ(Kept.size(), 16u);
  ASSERT_LT(Kept.size(), ApicIds.size());
  EXPECT_EQ(Run(1), Kept.size() * 16);
  for (size_t Index = 0; Index < Kept.size(); Index++) {
    const uint8_t *Entry = Table.data() + 16 * Index;
    EXPECT_EQ(Entry[0], 0);
    EXPECT_EQ(Entry[1], 16);
    EXPECT_EQ(Entry[3], Kept[Index]);
    EXPECT_EQ(Read32(Entry, 4), 1u);
    EXPECT_EQ(Entry[8], 0);
    EXPECT_EQ(Read32(Entry, 12), 0u);
  }
  EXPECT_EQ(Table[Kept.size() * 16], 0);
}

TEST_F(SratEntries, LocalApicFormSplitsTheDomainAroundTheApicId) {
  Numa.Domains[{0, 0, 0, 0}] = 0x01020304;
  Run(0);
  EXPECT_EQ(Table[2], 0x04);
  EXPECT_EQ(Table[9], 0x03);
  EXPECT_EQ(Table[10], 0x02);
  EXPECT_EQ(Table[11], 0x01);
}

// A failed query keeps the domain held before it: 0 for the first complex, the previous
// complex's domain for a later one. Whatever the failing service wrote is not used.
struct FailureCase {
  const char *Name;
  std::array<UINTN, 4> Failing;
  size_t FailingComplex;
  uint32_t Expected;
};

class SratDomainFailure : public SratEntries, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SratDomainFailure, FailedComplexKeepsTheDomainHeldBefore) {
  for (size_t Index = 0; Index < Complexes.size(); Index++) Numa.Domains[Complexes[Index]] = 10 + Index;
  Numa.Failing.insert(GetParam().Failing);
  Run(kX2ApicMode);
  for (size_t Thread = 0; Thread < ApicIds.size(); Thread++) {
    const uint32_t Domain = Read32(Table.data() + 24 * Thread, 4);
    if (ComplexOf[Thread] == GetParam().FailingComplex) {
      EXPECT_EQ(Domain, GetParam().Expected) << "thread " << Thread;
    } else {
      EXPECT_EQ(Domain, 10 + ComplexOf[Thread]) << "thread " << Thread;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Complexes, SratDomainFailure,
                         ::testing::Values(FailureCase{"First", {0, 0, 0, 0}, 0, 0},
                                           FailureCase{"Later", {1, 0, 1, 0}, 3, 12}),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(SratEntries, MissingCursorIsRefused) {
  uint8_t *Cursor = nullptr;
  EXPECT_EQ(image::AddProcessorAffinityEntries(nullptr, nullptr, &Cursor), EFI_INVALID_PARAMETER);
  EXPECT_EQ(image::AddProcessorAffinityEntries(nullptr, nullptr, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(SratEntries, RecordCarriesRevisionTwoAndTheService) {
  EXPECT_EQ(image::gCcxSratServicesProtocol.Revision, 2u);
  EXPECT_EQ(image::gCcxSratServicesProtocol.AddProcessorAffinityEntries, &image::AddProcessorAffinityEntries);
}

}  // namespace
