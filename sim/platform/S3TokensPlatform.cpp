#include "sim/platform/S3TokensPlatform.h"

#include <cstring>
#include <map>

#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/S3SaveTable.h"
#include "sim/oracle/TokenOracle.h"

namespace sim {
namespace {

constexpr uint32_t kPstate0Msr = 0xC0010064;

bool ReadMemory(PhysicalMemory &Memory, uint64_t Address, uint64_t Length, void *Out) {
  if (Length == 0) return true;
  if (Address + Length < Address || !Memory.IsMapped(Address, Length)) return false;
  std::memcpy(Out, reinterpret_cast<const void *>(static_cast<uintptr_t>(Address)), Length);
  return true;
}

bool WriteMemory(PhysicalMemory &Memory, uint64_t Address, const void *Data, uint64_t Length) {
  if (Length == 0) return true;
  if (Address + Length < Address || !Memory.IsMapped(Address, Length)) return false;
  std::memcpy(reinterpret_cast<void *>(static_cast<uintptr_t>(Address)), Data, Length);
  return true;
}

std::vector<Pstate0Group> Pstate0Groups(ProcessorSet &Processors) {
  std::map<uint64_t, std::vector<size_t>> ByValue;
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    ByValue[Processors.At(Index).PeekMsr(kPstate0Msr).value_or(0)].push_back(Index);
  }
  std::vector<Pstate0Group> Groups;
  for (auto &[Value, Which] : ByValue) Groups.push_back({Value, Which});
  return Groups;
}

}  // namespace

void PrepareS3Platform(Platform &Machine) {
  PhysicalMemory &Memory = Machine.Core().Memory();
  Machine.Smm().SetMemoryReader(
      [&Memory](uint64_t Address, uint64_t Length, void *Out) { return ReadMemory(Memory, Address, Length, Out); });
  if (!Machine.Description().S3.CommBuffer) return;
  uint64_t Buffer = 0;
  if (EFI_ERROR(Memory.AllocatePages(AllocateAnyPages, EfiRuntimeServicesData, 1, Buffer))) {
    throw std::runtime_error("no page for the SMM communication buffer");
  }
  Machine.Pcd().SetEx(gQorvexS3SaveTokenSpaceGuid, PcdQorvexS3SmmCommBufferAddress, Buffer);
}

std::vector<std::string> AddOtherDriversS3Entries(Platform &Machine) {
  const S3PlatformSettings &Settings = Machine.Description().S3;
  std::vector<std::string> Notes;
  if (Settings.Entries.empty() && !Settings.NextOffset) return Notes;
  PhysicalMemory &Memory = Machine.Core().Memory();
  QorvexS3LibPrivateData Record{};
  const uint64_t RecordAddress = Machine.Pcd().Get(PcdQorvexS3LibPrivateDataAddress);
  if (RecordAddress == 0 || !ReadMemory(Memory, RecordAddress, sizeof(Record), &Record) || Record.Table == 0) {
    Notes.push_back("other drivers found no S3 save table to add entries to");
    return Notes;
  }
  QorvexS3LibTableHeader Header{};
  if (!ReadMemory(Memory, Record.Table, sizeof(Header), &Header) || Header.Signature != QORVEX_S3_TABLE_SIGNATURE) {
    Notes.push_back("other drivers found the S3 save table unreadable");
    return Notes;
  }
  for (const S3EntrySetting &Entry : Settings.Entries) {
    const uint64_t Length = 4 + Entry.Data.size();
    // A driver leaves room for the end mark behind its entry.
    if (Header.NextOffset + Length + sizeof(uint16_t) > Header.TableSize) {
      Notes.push_back("an S3 entry of kind " + std::to_string(Entry.Kind) + " did not fit in the table");
      continue;
    }
    std::vector<uint8_t> Bytes(Length);
    const uint16_t Words[2] = {Entry.Kind, uint16_t(Length)};
    std::memcpy(Bytes.data(), Words, sizeof(Words));
    if (!Entry.Data.empty()) std::memcpy(Bytes.data() + 4, Entry.Data.data(), Entry.Data.size());
    WriteMemory(Memory, Record.Table + Header.NextOffset, Bytes.data(), Length);
    Header.NextOffset += Length;
  }
  if (Settings.NextOffset) Header.NextOffset = *Settings.NextOffset;
  WriteMemory(Memory, Record.Table + offsetof(QorvexS3LibTableHeader, NextOffset), &Header.NextOffset,
              sizeof(Header.NextOffset));
  return Notes;
}

S3TokensRecord TakeS3TokensSnapshot(Platform &Machine, const HeapSnapshot &Heap) {
  PhysicalMemory &Memory = Machine.Core().Memory();
  return TakeS3TokensSnapshot(Machine, Heap, [&Memory](uint64_t Address, uint64_t Length, void *Out) {
    return ReadMemory(Memory, Address, Length, Out);
  });
}

S3TokensRecord TakeS3TokensSnapshot(Platform &Machine, const HeapSnapshot &Heap, const MemoryReader &Read) {
  S3TokensRecord Record;
  const TokenStoreSettings &Store = Machine.Description().TokenStore;
  if (Store.Present) Record.TokensBefore = DecodeTokenStore(LayOutTokenStore(Store));
  for (const HeapBufferView &Buffer : Heap.Buffers) {
    if (Buffer.Handle != kTokenStoreHandle) continue;
    std::vector<uint8_t> Bytes(Buffer.Size);
    if (Read(Buffer.Address, Buffer.Size, Bytes.data())) {
      Record.TokensAfter = DecodeTokenStore(Bytes);
    }
    break;
  }
  // A reset or a halting fatal stop may have ended the boot before the hook was done.
  const bool EndedEarly = Machine.Core().LastReset().has_value() || !Machine.Hardware().HaltWindows().empty();
  CheckTokenStore(Machine.Description(), Record.TokensAfter, EndedEarly, Record.TokenErrors);
  for (const SmuCall &Call : Machine.Smu().Calls()) {
    if (Call.Query == "SmuServiceRequest") Record.SmuMessages.push_back(Call);
  }
  Record.Pstate0 = Pstate0Groups(Machine.Processors());
  Record.S3RecordAddress = Machine.Pcd().Get(PcdQorvexS3LibPrivateDataAddress);
  Record.S3TableAddress = Machine.Pcd().Get(PcdQorvexS3LibTableAddress);
  QorvexS3LibPrivateData Shared{};
  if (Record.S3RecordAddress != 0 &&
      Read(Record.S3RecordAddress, sizeof(Shared), &Shared)) {
    Record.S3RecordRead = true;
    Record.S3Locked = Shared.Locked;
    Record.S3Closed = Shared.Closed;
  }
  Record.S3Handoffs = Machine.Smm().S3Handoffs();
  return Record;
}

}  // namespace sim
