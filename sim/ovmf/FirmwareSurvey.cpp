#include "sim/ovmf/FirmwareSurvey.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <stdexcept>

#include "firmware/ovmf/ChannelFormat.h"
#include "interfaces/QorvexGuids.h"
#include "sim/platform/GuidNames.h"
#include "sim/uefi/Guid.h"

namespace sim {
namespace {

using namespace ccx_channel;

template <typename Value>
Value Take(std::span<const uint8_t> Bytes, size_t Offset) {
  Value Out;
  std::memcpy(&Out, Bytes.data() + Offset, sizeof(Out));
  return Out;
}

std::string Utf8Of(std::span<const uint8_t> Ucs2) {
  std::string Text;
  for (size_t Index = 0; Index + 1 < Ucs2.size(); Index += 2) {
    const uint16_t Character = uint16_t(Ucs2[Index] | Ucs2[Index + 1] << 8);
    if (Character == 0) break;
    Text += Character < 0x80 ? static_cast<char>(Character) : '?';
  }
  return Text;
}

const char *OperationName(uint32_t Operation) {
  switch (Operation) {
    case kSmmGetCapabilities: return "GetCapabilities";
    case kSmmOpen: return "Open";
    case kSmmClose: return "Close";
    case kSmmLock: return "Lock";
    default: return "(unknown)";
  }
}

}  // namespace

FirmwareSurvey ReadFirmwareSurvey(std::span<const uint8_t> Data) {
  FirmwareSurvey Survey;
  size_t Offset = 0;
  while (Offset < Data.size()) {
    if (Data.size() - Offset < sizeof(SurveyEntry)) throw std::runtime_error("the survey ends inside a record's tag");
    const auto Entry = Take<SurveyEntry>(Data, Offset);
    Offset += sizeof(Entry);
    if (Entry.Size > Data.size() - Offset) {
      throw std::runtime_error("survey record of kind " + std::to_string(Entry.Kind) + " at offset " +
                               std::to_string(Offset) + " says " + std::to_string(Entry.Size) + " bytes, past the end");
    }
    const std::span<const uint8_t> Body = Data.subspan(Offset, Entry.Size);
    Offset += Entry.Size;
    auto Needs = [&](size_t Size) {
      if (Body.size() < Size) {
        throw std::runtime_error("survey record of kind " + std::to_string(Entry.Kind) + " holds " +
                                 std::to_string(Body.size()) + " bytes, fewer than its " + std::to_string(Size));
      }
    };
    switch (Entry.Kind) {
      case kSurveyInstalled:
        Needs(28);
        Survey.Installed.push_back({Take<uint32_t>(Body, 0), Take<EFI_GUID>(Body, 4), Take<uint64_t>(Body, 20)});
        break;
      case kSurveyVariable: {
        Needs(24);
        const auto Guid = Take<EFI_GUID>(Body, 0);
        const auto NameBytes = Take<uint32_t>(Body, 16);
        const auto DataBytes = Take<uint32_t>(Body, 20);
        Needs(24 + uint64_t(NameBytes) + DataBytes);
        const std::string Name = Utf8Of(Body.subspan(24, NameBytes)) + " " + GuidName(Guid);
        const auto Value = Body.subspan(24 + NameBytes, DataBytes);
        Survey.Variables.emplace_back(Name, std::vector<uint8_t>(Value.begin(), Value.end()));
        break;
      }
      case kSurveySmmAccess:
        Survey.SmmCore.Found = true;
        break;
      case kSurveySmmCall: {
        Needs(sizeof(SurveySmmCall));
        const auto Call = Take<SurveySmmCall>(Body, 0);
        Survey.SmmCore.Calls.push_back({OperationName(Call.Operation), Call.Status, (Call.States & 1) != 0, (Call.States & 2) != 0});
        break;
      }
      case kSurveySmramRegion:
        Needs(32);
        Survey.SmmCore.Map.push_back({Take<uint64_t>(Body, 0), Take<uint64_t>(Body, 8), Take<uint64_t>(Body, 16),
                                      Take<uint64_t>(Body, 24)});
        break;
      case kSurveyInterface:
        Needs(24);
        if (SameGuid(Take<EFI_GUID>(Body, 0), gQorvexHeapProtocolGuid)) Survey.HeapInterface = Take<uint64_t>(Body, 16);
        break;
      case kSurveyMemory:
      case kSurveyMemoryBefore:
        Needs(24);
        (Entry.Kind == kSurveyMemory ? Survey.MemoryMap : Survey.MemoryMapBefore)
            .push_back({Take<uint64_t>(Body, 8), Take<uint64_t>(Body, 16), Take<uint32_t>(Body, 0)});
        break;
      case kSurveyEvent: {
        Needs(sizeof(SurveyEvent));
        const auto Seen = Take<SurveyEvent>(Body, 0);
        Needs(sizeof(SurveyEvent) + uint64_t(Seen.WaitCount) * sizeof(EFI_GUID));
        FirmwareSurvey::Event Made{Seen.Notify, Seen.Tpl, std::nullopt, {}};
        if (Seen.HasGroup != 0) Made.Group = Take<EFI_GUID>(Body, offsetof(SurveyEvent, Group));
        for (uint32_t Index = 0; Index < Seen.WaitCount; Index++) {
          Made.WaitsFor.push_back(Take<EFI_GUID>(Body, sizeof(SurveyEvent) + Index * sizeof(EFI_GUID)));
        }
        Survey.Events.push_back(std::move(Made));
        break;
      }
      case kSurveyTruncated:
        Survey.Truncated = true;
        break;
      default:
        throw std::runtime_error("survey record of unknown kind " + std::to_string(Entry.Kind));
    }
  }
  return Survey;
}

void ApplyFirmwareSurvey(const FirmwareSurvey &Survey, const GuestMemory &Memory,
                         const std::function<std::string(uint64_t)> &NameOf, BootRecord &Record) {
  Record.Installed.clear();
  for (const FirmwareSurvey::SurveyedProtocol &Entry : Survey.Installed) {
    Record.Installed.push_back({"handle " + std::to_string(Entry.Handle), GuidName(Entry.Guid)});
  }
  Record.OcCompletions = 0;
  for (const InstalledEntry &Entry : Record.Installed) {
    if (Entry.Protocol == "gQorvexCcxOcCompleteProtocolGuid") Record.OcCompletions++;
  }
  Record.Armed.clear();
  for (const FirmwareSurvey::Event &Event : Survey.Events) {
    ArmedEvent Armed;
    Armed.Notify = Event.Notify != 0 ? NameOf(Event.Notify) : "";
    Armed.Tpl = Event.Tpl;
    if (Event.Group) Armed.Group = GuidName(*Event.Group);
    for (const EFI_GUID &Guid : Event.WaitsFor) Armed.WaitsFor.push_back(GuidName(Guid));
    Record.Armed.push_back(Armed);
  }
  Record.FirmwareMapBefore = Survey.MemoryMapBefore;
  // The map after the outside builders' calls, when the caller has it, holds what they took too.
  if (Record.FirmwareMapAfter.empty()) Record.FirmwareMapAfter = Survey.MemoryMap;
  // The reverse-map table lies in the firmware's memory: reserved there, page by page, and in RAM
  // this process can read.
  if (Record.Snp.TableLast != 0 && Record.Snp.TableLast >= Record.Snp.TableFirst) {
    bool Reserved = Memory.Holds(Record.Snp.TableFirst, Record.Snp.TableLast - Record.Snp.TableFirst + 1);
    for (uint64_t Page = Record.Snp.TableFirst & ~uint64_t(4095); Reserved && Page <= Record.Snp.TableLast; Page += 4096) {
      Reserved = MemoryTypeIn(Record.FirmwareMapAfter, Page) == EfiReservedMemoryType;
    }
    Record.Snp.TableReserved = Reserved;
  }
  Record.Variables = Survey.Variables;
  Record.SmmCore = Survey.SmmCore;
  Record.Heap = HeapSnapshot{};
  if (Survey.HeapInterface) {
    const auto InRam = [&Memory](uint64_t Address, uint64_t Length) { return Memory.Holds(Address, Length); };
    const auto TypeAt = [&Record](uint64_t Address) { return MemoryTypeIn(Record.FirmwareMapAfter, Address); };
    if (InRam(*Survey.HeapInterface, 1)) {
      Record.Heap = TakeHeapSnapshot(reinterpret_cast<const void *>(*Survey.HeapInterface), {InRam, TypeAt});
    }
  }
  if (Survey.Truncated) Record.Notes.push_back("the firmware's survey did not fit the mailbox: some records are missing");
}

}  // namespace sim
