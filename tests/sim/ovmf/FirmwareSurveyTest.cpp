// The survey the platform package sends after the boot: every kind of record read back as it was
// written and put where the report shows a simulator boot's firmware state, and a damaged survey
// refused naming the record, never read past its end.
#include "sim/ovmf/FirmwareSurvey.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "firmware/ovmf/ChannelFormat.h"
#include "interfaces/QorvexGuids.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

using namespace ccx_channel;

class SurveyBytes {
 public:
  template <typename... Parts>
  SurveyBytes &Put(uint16_t Kind, const Parts &...Each) {
    const SurveyEntry Entry = {Kind, 0, static_cast<uint32_t>((sizeof(Each) + ... + 0))};
    Append(&Entry, sizeof(Entry));
    (Append(&Each, sizeof(Each)), ...);
    return *this;
  }
  SurveyBytes &Raw(std::vector<uint8_t> More) {
    Bytes.insert(Bytes.end(), More.begin(), More.end());
    return *this;
  }
  std::vector<uint8_t> Bytes;

 private:
  void Append(const void *Data, size_t Size) {
    const auto *From = static_cast<const uint8_t *>(Data);
    Bytes.insert(Bytes.end(), From, From + Size);
  }
};

TEST(FirmwareSurvey, EveryRecordIsReadAndPutWhereTheReportShowsIt) {
  const uint32_t ImageHandle = 2;
  const uint64_t Heap = 0, Interface = 0x7000;
  const SurveyEvent Event = {0xD001234, 16, 0, 1, {}};
  const SurveySmmCall Lock = {kSmmLock, 3, 0};
  const uint64_t Region[4] = {0x7F000000, 0x7F000000, 0x400000, 0x1A};
  const char16_t Name[] = u"DownCoreStatus";
  const uint32_t Sizes[2] = {sizeof(Name), 1};
  const uint8_t Value = 0;
  const uint32_t NvsType[2] = {EfiACPIMemoryNVS, 0};
  const uint64_t Range[2] = {0x100000, 4};
  SurveyBytes Survey;
  Survey.Put(kSurveyInstalled, ImageHandle, gEfiLoadedImageProtocolGuid, Interface)
      .Put(kSurveyInstalled, ImageHandle, gQorvexCcxOcCompleteProtocolGuid, Heap)
      .Put(kSurveyVariable, gQorvexDownCoreStatusVariableGuid, Sizes, Name, Value)
      .Put(kSurveyEvent, Event, gQorvexCcxOcTriggerProtocolGuid)
      .Put(kSurveySmmAccess)
      .Put(kSurveySmmCall, Lock)
      .Put(kSurveySmramRegion, Region)
      .Put(kSurveyMemoryBefore, NvsType, Range)
      .Put(kSurveyMemory, NvsType, Range)
      .Put(kSurveyTruncated);
  const FirmwareSurvey Read = ReadFirmwareSurvey(Survey.Bytes);
  ASSERT_EQ(Read.Installed.size(), 2u);
  EXPECT_EQ(Read.Installed[0].Interface, Interface);
  EXPECT_TRUE(Read.SmmCore.Found);
  ASSERT_EQ(Read.SmmCore.Calls.size(), 1u);
  EXPECT_EQ(Read.SmmCore.Calls[0].Operation, "Lock");
  EXPECT_TRUE(Read.SmmCore.Calls[0].OpenState && Read.SmmCore.Calls[0].LockState);
  ASSERT_EQ(Read.SmmCore.Map.size(), 1u);
  EXPECT_EQ(Read.SmmCore.Map[0].RegionState, 0x1Au);
  EXPECT_TRUE(Read.Truncated);

  char Template[] = "/tmp/ccx-survey-XXXXXX";
  const std::filesystem::path Dir = mkdtemp(Template);
  {
    GuestMemory Memory(Dir / "ram", 2ULL << 20);
    BootRecord Record;
    ApplyFirmwareSurvey(Read, Memory, [](uint64_t Address) { return Address == 0xD001234 ? "CcxOcTriggerHandler" : "?"; },
                        Record);
    ASSERT_EQ(Record.Installed.size(), 2u);
    EXPECT_EQ(Record.Installed[1].Handle, "handle 2");
    EXPECT_EQ(Record.Installed[1].Protocol, "gQorvexCcxOcCompleteProtocolGuid");
    EXPECT_EQ(Record.OcCompletions, 1u);
    ASSERT_EQ(Record.Variables.size(), 1u);
    EXPECT_EQ(Record.Variables[0].first, "DownCoreStatus gQorvexDownCoreStatusVariableGuid");
    ASSERT_EQ(Record.Armed.size(), 1u);
    EXPECT_EQ(Record.Armed[0].Notify, "CcxOcTriggerHandler");
    EXPECT_EQ(Record.Armed[0].Tpl, 16u);
    EXPECT_EQ(Record.Armed[0].WaitsFor, std::vector<std::string>{"gQorvexCcxOcTriggerProtocolGuid"});
    EXPECT_EQ(Record.FirmwareMapBefore.size(), 1u);
    EXPECT_EQ(Record.FirmwareMapAfter.size(), 1u);
    EXPECT_FALSE(Record.Heap.Published);  // the survey named no heap
    EXPECT_FALSE(Record.Notes.empty());   // and said it was cut short
  }
  std::filesystem::remove_all(Dir);
}

TEST(FirmwareSurvey, ADamagedSurveyIsRefusedNamingTheRecord) {
  const auto Refusal = [](const std::vector<uint8_t> &Bytes) {
    try {
      ReadFirmwareSurvey(Bytes);
    } catch (const std::runtime_error &Error) {
      return std::string(Error.what());
    }
    return std::string("(read)");
  };
  const uint32_t Handle = 1;
  SurveyBytes Short;
  Short.Put(kSurveyInstalled, Handle);  // no GUID and no interface
  EXPECT_EQ(Refusal(Short.Bytes), "survey record of kind 1 holds 4 bytes, fewer than its 28");
  SurveyBytes PastTheEnd;
  PastTheEnd.Raw({2, 0, 0, 0, 0xFF, 0xFF, 0, 0});
  EXPECT_EQ(Refusal(PastTheEnd.Bytes), "survey record of kind 2 at offset 8 says 65535 bytes, past the end");
  SurveyBytes Unknown;
  Unknown.Put(uint16_t(99));
  EXPECT_EQ(Refusal(Unknown.Bytes), "survey record of unknown kind 99");
  SurveyBytes Cut;
  Cut.Raw({1, 0, 0});
  EXPECT_EQ(Refusal(Cut.Bytes), "the survey ends inside a record's tag");
  // A variable whose name and data lengths reach past its record.
  const uint32_t Sizes[2] = {0xFFFFFFF0, 0x20};
  SurveyBytes Lengths;
  Lengths.Put(kSurveyVariable, gQorvexDownCoreStatusVariableGuid, Sizes);
  EXPECT_NE(Refusal(Lengths.Bytes).find("survey record of kind 2 holds 24 bytes"), std::string::npos);
}

}  // namespace
}  // namespace sim
