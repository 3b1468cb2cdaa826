// The SMBIOS builder: for every socket a type 4 structure and the three type 7 structures it
// links, then the end-of-table structure, behind an SMBIOS 3 (64-bit) entry point. The dump has
// the layout that `dmidecode --from-dump` reads: the entry point at offset 0 with its table
// address set to 32, where the structure table starts.
#include <cstring>
#include <string>

#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AcpiTableBytes.h"
#include "sim/consumers/PlatformTables.h"
#include "sim/oracle/SmbiosOracle.h"

namespace sim {
namespace {

constexpr uint8_t kSmbiosMajor = 3;
constexpr uint8_t kSmbiosMinor = 3;
constexpr size_t kEntryPointLength = 0x18;
constexpr size_t kTableOffset = 32;
constexpr uint8_t kProcessorLength = 0x30;
constexpr uint8_t kCacheLength = 0x1B;
// Family byte 0xFE sends readers to the 16-bit family field; 0xFF in a count byte to the 16-bit count.
constexpr uint16_t kFamilyInFamily2 = 0xFE;
constexpr uint16_t kCountInCount2 = 0xFF;

uint16_t ProcessorHandle(uint32_t Socket) { return uint16_t(0x0400 + Socket); }
uint16_t CacheHandle(uint32_t Socket, unsigned Level) { return uint16_t(0x0700 + Socket * CCX_SMBIOS_CACHE_LEVELS + Level); }

class Structure {
 public:
  Structure(uint8_t Type, uint8_t Length, uint16_t Handle) : Formatted_(Length, 0) {
    Formatted_[0] = Type;
    Formatted_[1] = Length;
    Put(2, Handle, 2);
  }
  void Put(size_t Offset, uint64_t Value, unsigned Width) {
    for (unsigned Index = 0; Index < Width; Index++) Formatted_[Offset + Index] = uint8_t(Value >> (8 * Index));
  }
  // Adds a string and gives its number; an empty string is "no string", number 0.
  uint8_t AddString(const std::string &Text) {
    if (Text.empty()) return 0;
    Strings_.push_back(Text);
    return uint8_t(Strings_.size());
  }
  void AppendTo(std::vector<uint8_t> &Table) const {
    Table.insert(Table.end(), Formatted_.begin(), Formatted_.end());
    for (const std::string &Text : Strings_) {
      Table.insert(Table.end(), Text.begin(), Text.end());
      Table.push_back(0);
    }
    if (Strings_.empty()) Table.push_back(0);
    Table.push_back(0);
  }

 private:
  std::vector<uint8_t> Formatted_;
  std::vector<std::string> Strings_;
};

// A fixed-width text field up to its first NUL, without trailing blanks.
std::string FieldText(const CHAR8 *Field, size_t Width) {
  std::string Text(Field, strnlen(Field, Width));
  while (!Text.empty() && Text.back() == ' ') Text.pop_back();
  return Text;
}

void AddProcessor(std::vector<uint8_t> &Table, const SmbiosSocket &Socket) {
  const CCX_SMBIOS_PROCESSOR_INFO &Info = Socket.Processor;
  Structure Record(4, kProcessorLength, ProcessorHandle(Socket.Socket));
  Record.Put(0x04, Record.AddString("P" + std::to_string(Socket.Socket)), 1);
  Record.Put(0x05, Info.ProcessorType, 1);
  Record.Put(0x06, Info.ProcessorFamily < kFamilyInFamily2 ? Info.ProcessorFamily : kFamilyInFamily2, 1);
  Record.Put(0x07, Record.AddString(FieldText(Info.Manufacturer, CCX_SMBIOS_MANUFACTURER_LENGTH)), 1);
  Record.Put(0x08, Info.ProcessorIdLow, 4);
  Record.Put(0x0C, Info.ProcessorIdHigh, 4);
  Record.Put(0x10, Record.AddString(FieldText(Info.ProcessorVersion, CCX_SMBIOS_VERSION_LENGTH)), 1);
  Record.Put(0x11, Info.Voltage, 1);
  Record.Put(0x12, Info.ExternalClock, 2);
  Record.Put(0x14, Info.MaxSpeed, 2);
  Record.Put(0x16, Info.CurrentSpeed, 2);
  Record.Put(0x18, Info.Status, 1);
  Record.Put(0x19, Info.ProcessorUpgrade, 1);
  for (unsigned Level = 0; Level < CCX_SMBIOS_CACHE_LEVELS; Level++) {
    Record.Put(0x1A + 2 * Level, CacheHandle(Socket.Socket, Level), 2);
  }
  auto Count8 = [](uint16_t Count) { return Count < kCountInCount2 ? Count : kCountInCount2; };
  Record.Put(0x23, Count8(Info.CoreCount), 1);
  Record.Put(0x24, Count8(Info.CoreEnabled), 1);
  Record.Put(0x25, Count8(Info.ThreadCount), 1);
  Record.Put(0x26, Info.ProcessorCharacteristics, 2);
  Record.Put(0x28, Info.ProcessorFamily, 2);
  Record.Put(0x2A, Info.CoreCount, 2);
  Record.Put(0x2C, Info.CoreEnabled, 2);
  Record.Put(0x2E, Info.ThreadCount, 2);
  Record.AppendTo(Table);
}

void AddCache(std::vector<uint8_t> &Table, uint32_t Socket, unsigned Level, const CCX_SMBIOS_CACHE_INFO &Info) {
  Structure Record(7, kCacheLength, CacheHandle(Socket, Level));
  Record.Put(0x04, Record.AddString("L" + std::to_string(Level + 1) + " - Cache"), 1);
  Record.Put(0x05, Info.CacheConfiguration, 2);
  Record.Put(0x07, Info.MaximumCacheSize, 2);
  Record.Put(0x09, Info.InstalledSize, 2);
  Record.Put(0x0B, Info.SupportedSramType, 2);
  Record.Put(0x0D, Info.CurrentSramType, 2);
  Record.Put(0x0F, Info.CacheSpeed, 1);
  Record.Put(0x10, Info.ErrorCorrectionType, 1);
  Record.Put(0x11, Info.SystemCacheType, 1);
  Record.Put(0x12, Info.Associativity, 1);
  Record.Put(0x13, Info.MaximumCacheSize2, 4);
  Record.Put(0x17, Info.InstalledSize2, 4);
  Record.AppendTo(Table);
}

}  // namespace

std::vector<uint8_t> SmbiosDump(const std::vector<SmbiosSocket> &Sockets) {
  std::vector<uint8_t> Table;
  for (const SmbiosSocket &Socket : Sockets) {
    AddProcessor(Table, Socket);
    for (unsigned Level = 0; Level < CCX_SMBIOS_CACHE_LEVELS; Level++) {
      AddCache(Table, Socket.Socket, Level, Socket.Caches[Level]);
    }
  }
  Structure(127, 4, 0xFEFF).AppendTo(Table);

  std::vector<uint8_t> Dump(kTableOffset, 0);
  std::memcpy(Dump.data(), "_SM3_", 5);
  Dump[6] = kEntryPointLength;
  Dump[7] = kSmbiosMajor;
  Dump[8] = kSmbiosMinor;
  Dump[9] = 0;   // docrev
  Dump[10] = 1;  // entry point revision: SMBIOS 3.0
  const uint32_t MaximumSize = static_cast<uint32_t>(Table.size());
  std::memcpy(&Dump[12], &MaximumSize, sizeof(MaximumSize));
  const uint64_t Address = kTableOffset;
  std::memcpy(&Dump[16], &Address, sizeof(Address));
  Dump[5] = ChecksumFor(Dump.data(), kEntryPointLength);
  Dump.insert(Dump.end(), Table.begin(), Table.end());
  return Dump;
}

SmbiosTables BuildSmbios(Platform &Machine) {
  SmbiosTables Tables;
  VOID *Interface = nullptr;
  if (EFI_ERROR(Machine.Core().BootServices()->LocateProtocol(&gQorvexCcxSmbiosServicesProtocolGuid, nullptr,
                                                              &Interface))) {
    return Tables;
  }
  auto *Service = static_cast<QORVEX_CCX_SMBIOS_SERVICES_PROTOCOL *>(Interface);
  if (Service->GetProcessorInfo == nullptr || Service->GetCacheInfo == nullptr) return Tables;
  Tables.ServiceFound = true;
  const uint32_t Sockets = Machine.Description().Shape.Count(TopologyLevel::Socket);
  for (uint32_t Socket = 0; Socket < Sockets; Socket++) {
    SmbiosSocket Records;
    Records.Socket = Socket;
    const SiblingCallMark BeforeProcessor(Machine);
    const EFI_STATUS ProcessorStatus = Service->GetProcessorInfo(Service, Socket, &Records.Processor, nullptr);
    CheckProcessorInfo(Machine, Socket, BeforeProcessor, ProcessorStatus, Records.Processor, Tables.Errors);
    const SiblingCallMark BeforeCaches(Machine);
    const EFI_STATUS CacheStatus = Service->GetCacheInfo(Service, Socket, Records.Caches);
    CheckCacheInfo(Machine, Socket, BeforeCaches, CacheStatus, Records.Caches, Tables.Errors);
    Tables.Sockets.push_back(Records);
  }
  Tables.Dump = SmbiosDump(Tables.Sockets);
  return Tables;
}

}  // namespace sim
