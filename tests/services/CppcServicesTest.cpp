// The CPPC template and its callbacks: the template's bytes entry by entry, as a table builder
// reads them (golden values, not the driver's own definitions), the end entry, and the callbacks'
// answers from a builder record: the autonomous-selection flag and the override scans.
#include <cstring>
#include <vector>

#include "services/CppcServices.h"
#include "tests/driver/DriverFixture.h"

namespace {

struct TemplateRow {
  uint8_t Kind;
  uint8_t Width;
  uint8_t Offset;
  uint64_t Msr;
  uint8_t Revision;
};

// The 21 elements after NumEntries and Revision of a revision-3 _CPC package, in package order.
// Kind 0x0A with width 0 is the empty register; kind 0 is a callback.
constexpr TemplateRow kRows[] = {
    {0x0A, 8, 24, 0xC00102B0, 2}, {0x0A, 8, 16, 0xC00102B0, 2}, {0x0A, 8, 8, 0xC00102B0, 2},
    {0x0A, 8, 0, 0xC00102B0, 2},  {0x0A, 8, 8, 0xC00102B2, 2},  {0x0A, 8, 16, 0xC00102B3, 2},
    {0x0A, 8, 8, 0xC00102B3, 2},  {0x0A, 8, 0, 0xC00102B3, 2},  {0x0A, 0, 0, 0, 2},
    {0x0A, 0, 0, 0, 2},           {0x0A, 0, 0, 0, 2},           {0x0A, 64, 0, 0xE7, 2},
    {0x0A, 64, 0, 0xE8, 2},       {0x0A, 2, 0, 0xC00102B4, 2},  {0x0A, 1, 0, 0xC00102B1, 2},
    {0x00, 0, 0, 0, 2},           {0x0A, 0, 0, 0, 2},           {0x0A, 8, 24, 0xC00102B3, 2},
    {0x0A, 0, 0, 0, 2},           {0x00, 0, 0, 0, 3},           {0x00, 0, 0, 0, 3},
};

class CppcTemplate : public DriverFixture {
 protected:
  const uint8_t *Bytes() {
    const CCX_CPPC_TEMPLATE_ENTRY *Template = nullptr;
    EXPECT_EQ(image::GetCppcTemplate(nullptr, &Template), EFI_SUCCESS);
    return reinterpret_cast<const uint8_t *>(Template);
  }
  static uint64_t Read64(const uint8_t *Bytes) {
    uint64_t Value = 0;
    std::memcpy(&Value, Bytes, sizeof(Value));
    return Value;
  }
};

TEST_F(CppcTemplate, EntriesArePacked22ByteRecordsInPackageOrder) {
  const uint8_t *Entry = Bytes();
  const void *Callbacks[] = {reinterpret_cast<const void *>(&image::QorvexCppcGetAutonomousSelect),
                             reinterpret_cast<const void *>(&image::QorvexCppcGetLowestSpeed),
                             reinterpret_cast<const void *>(&image::QorvexCppcGetNominalSpeed)};
  size_t CallbackIndex = 0;
  for (size_t Index = 0; Index < std::size(kRows); Index++, Entry += 22) {
    SCOPED_TRACE(Index);
    const TemplateRow &Row = kRows[Index];
    EXPECT_EQ(Entry[0], Row.Kind);
    EXPECT_EQ(Entry[21], Row.Revision);
    if (Row.Kind == 0) {
      for (size_t Byte = 1; Byte < 13; Byte++) EXPECT_EQ(Entry[Byte], 0xFF);
      EXPECT_EQ(Read64(Entry + 13), reinterpret_cast<uint64_t>(Callbacks[CallbackIndex++]));
    } else if (Row.Width == 0) {
      for (size_t Byte = 1; Byte < 21; Byte++) EXPECT_EQ(Entry[Byte], 0);
    } else {
      EXPECT_EQ(Entry[1], 0x7F);
      EXPECT_EQ(Entry[2], Row.Width);
      EXPECT_EQ(Entry[3], Row.Offset);
      EXPECT_EQ(Entry[4], 4);
      EXPECT_EQ(Read64(Entry + 5), Row.Msr);
      EXPECT_EQ(Read64(Entry + 13), 0u);
    }
  }
  EXPECT_EQ(CallbackIndex, 3u);
  // The end entry: kind 0xFF, an all-ones register, no callback, revision 0.
  EXPECT_EQ(Entry[0], 0xFF);
  for (size_t Byte = 1; Byte < 13; Byte++) EXPECT_EQ(Entry[Byte], 0xFF);
  EXPECT_EQ(Read64(Entry + 13), 0u);
  EXPECT_EQ(Entry[21], 0);
  EXPECT_EQ(image::gCcxCppcServicesProtocol.Revision, 1u);
}

// A builder record whose two services answer what a test sets, and record what they were given.
struct Builder {
  CCX_CPPC_BUILDER_CONTEXT Record{};
  static inline bool TouchFlag = true;
  static inline uint8_t Flag = 0;
  static inline std::vector<CCX_CPPC_OVERRIDE> Overrides;
  static inline bool NullList = false;
  static inline std::vector<uint64_t> Arguments;

  Builder() {
    Record.GetAutonomousSelect = GetAutonomousSelect;
    Record.GetCpcOverrides = GetCpcOverrides;
  }
  static EFI_STATUS EFIAPI GetAutonomousSelect(UINT8 *Out, UINT64 A, UINT64 B, UINT64 C) {
    Arguments = {A, B, C};
    if (TouchFlag) *Out = Flag;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI GetCpcOverrides(CCX_CPPC_OVERRIDE **List, UINT32 *Count, UINT32 A, UINT64 C) {
    Arguments = {A, C};
    *List = NullList ? nullptr : Overrides.data();
    *Count = static_cast<UINT32>(Overrides.size());
    return EFI_SUCCESS;
  }
};

class CppcCallbacks : public DriverFixture {
 protected:
  CppcCallbacks() {
    Builder::TouchFlag = true;
    Builder::Overrides.clear();
    Builder::NullList = false;
  }
  static CCX_CPPC_OVERRIDE Override(uint8_t Present, uint32_t Element, uint32_t Value) {
    CCX_CPPC_OVERRIDE Record{};
    Record.Present = Present;
    Record.Element = Element;
    Record.Value = Value;
    return Record;
  }
  Builder Context;
};

struct SelectCase {
  bool Touch;
  uint8_t Flag;
  uint32_t Expected;
};

class AutonomousSelect : public CppcCallbacks, public ::testing::WithParamInterface<SelectCase> {};

TEST_P(AutonomousSelect, OnlyAFlagOfOneEnables) {
  Builder::TouchFlag = GetParam().Touch;
  Builder::Flag = GetParam().Flag;
  EXPECT_EQ(image::QorvexCppcGetAutonomousSelect(&Context.Record, 5, 6, 7), GetParam().Expected);
  EXPECT_EQ(Builder::Arguments, (std::vector<uint64_t>{5, 6, 7}));
}

INSTANTIATE_TEST_SUITE_P(Flags, AutonomousSelect,
                         ::testing::Values(SelectCase{true, 1, 1}, SelectCase{true, 0, 0}, SelectCase{true, 3, 0},
                                           SelectCase{false, 0, 0}));

TEST_F(CppcCallbacks, FrequenciesComeFromTheFirstPresentOverride) {
  Builder::Overrides = {Override(0, 19, 111), Override(1, 20, 3000), Override(1, 19, 400), Override(1, 19, 500)};
  EXPECT_EQ(image::QorvexCppcGetLowestSpeed(&Context.Record, 0x100000002ULL, 9, 4), 400u);
  // The builder gets A cut to 32 bits, and C.
  EXPECT_EQ(Builder::Arguments, (std::vector<uint64_t>{2, 4}));
  EXPECT_EQ(image::QorvexCppcGetNominalSpeed(&Context.Record, 0, 0, 0), 3000u);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"  QorvexCppcGetLowestSpeed 400", "  QorvexCppcGetNominalSpeed 3000"}));
}

TEST_F(CppcCallbacks, AbsentOverridesGiveZeroWithoutAMessage) {
  Builder::Overrides = {Override(0, 19, 111)};
  EXPECT_EQ(image::QorvexCppcGetLowestSpeed(&Context.Record, 0, 0, 0), 0u);
  EXPECT_EQ(image::QorvexCppcGetNominalSpeed(&Context.Record, 0, 0, 0), 0u);
  Builder::NullList = true;
  Builder::Overrides = {Override(1, 19, 111)};
  EXPECT_EQ(image::QorvexCppcGetLowestSpeed(&Context.Record, 0, 0, 0), 0u);
  Builder::NullList = false;
  Builder::Overrides.clear();
  EXPECT_EQ(image::QorvexCppcGetLowestSpeed(&Context.Record, 0, 0, 0), 0u);
  EXPECT_TRUE(Lines().empty());
}

}  // namespace
