#include "sim/consumers/AffinityTableBuilder.h"

#include <cstring>

#include "arch/Msr.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/HexText.h"
#include "sim/consumers/AcpiTableBytes.h"
#include "sim/oracle/ResourceAffinityCheck.h"
#include "sim/oracle/ResourceAffinityOracle.h"

namespace sim {
namespace {

// Room per thread besides what the machine's caches and TLBs need: a cache entry for each of up to
// eight caches, four TLB entries and a share of a compute unit.
constexpr size_t kBytesPerThread = 16 * 64;

// The area the services append to, and where the cursor stood after each call.
class AppendArea {
 public:
  explicit AppendArea(size_t Size) : Bytes_(Size, 0), Cursor_(Bytes_.data()) {}

  UINT8 **Cursor() { return &Cursor_; }
  const std::vector<uint8_t> &Bytes() const { return Bytes_; }
  size_t Used() const { return Used_; }

  // Takes the cursor's new place after a call: false, with a difference told, when the call left
  // it outside the area or before where it began.
  bool Settle(AnswerCheck &Check) {
    const uintptr_t End = reinterpret_cast<uintptr_t>(Cursor_) - reinterpret_cast<uintptr_t>(Bytes_.data());
    if (End < Used_ || End > Bytes_.size()) {
      Check.Problem("cursor", "the call moved it to " + Hex(reinterpret_cast<uintptr_t>(Cursor_)) +
                                  ", outside the area from offset " + std::to_string(Used_) + " to its end at " +
                                  std::to_string(Bytes_.size()));
      return false;
    }
    Begin_ = Used_;
    Used_ = End;
    return true;
  }

  // The entries of one kind the last call appended. Any other type or length there ends the
  // reading with a difference.
  template <typename Entry>
  std::vector<Entry> Read(UINT8 Type, AnswerCheck &Check) const {
    std::vector<Entry> Entries;
    for (size_t Offset = Begin_; Offset < Used_; Offset += sizeof(Entry)) {
      const CCX_AFFINITY_ENTRY_HEADER Found{Bytes_[Offset], Offset + 1 < Used_ ? Bytes_[Offset + 1] : UINT8{0}};
      if (Found.Type != Type || Found.Length != sizeof(Entry) || Offset + sizeof(Entry) > Used_) {
        Check.Problem("entry at offset " + std::to_string(Offset),
                      "type " + std::to_string(Found.Type) + " of length " + std::to_string(Found.Length) +
                          " where the call's " + std::to_string(Used_ - Begin_) + " bytes must hold type " +
                          std::to_string(Type) + " entries of " + std::to_string(sizeof(Entry)) + " bytes");
        break;
      }
      std::memcpy(&Entries.emplace_back(), Bytes_.data() + Offset, sizeof(Entry));
    }
    return Entries;
  }

 private:
  std::vector<uint8_t> Bytes_;
  UINT8 *Cursor_;
  size_t Begin_ = 0;
  size_t Used_ = 0;
};

// Calls one service and checks what every call must leave: its status and the header's counters.
// False when the cursor left the area, so that nothing further may be appended.
bool CallService(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *Service, CCX_AFFINITY_ADD_ENTRIES Add,
                 CCX_RESOURCE_AFFINITY_TABLE_HEADER &Header, AppendArea &Area, EFI_STATUS ExpectedStatus,
                 uint32_t ExpectedTotal, uint16_t ExpectedComputeUnits, std::optional<uint64_t> &Status,
                 AnswerCheck &Check) {
  Status = Add(Service, &Header, Area.Cursor());
  Check.Field("call", "status", ExpectedStatus, *Status);
  Check.Field("table header", "TotalEntries", ExpectedTotal, Header.TotalEntries);
  Check.Field("table header", "ComputeUnitEntries", ExpectedComputeUnits, Header.ComputeUnitEntries);
  return Area.Settle(Check);
}

}  // namespace

AffinityTableReport BuildAffinityTable(Platform &Machine) {
  AffinityTableReport Report;
  VOID *Interface = nullptr;
  EFI_BOOT_SERVICES *BootServices = Machine.Core().BootServices();
  if (EFI_ERROR(BootServices->LocateProtocol(&gQorvexCcxResourceAffinityServicesProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return Report;
  }
  Report.ServiceFound = true;
  auto *Service = static_cast<QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *>(Interface);

  // Taken before the calls: the machine's injected faults count from the calls made so far.
  const ResourceAffinityExpectation Expected = ExpectResourceAffinity(Machine);
  const auto ComputeUnitCount = static_cast<uint16_t>(Expected.ComputeUnits.size());
  const auto AfterCaches = static_cast<uint32_t>(Expected.ComputeUnits.size() + Expected.Caches.size());

  // The services keep their counters in the header and write their entries into a zero-filled
  // area; the table takes the counters and what the cursor covered.
  CCX_RESOURCE_AFFINITY_TABLE_HEADER Header{};
  // Room for what the machine makes the services append, whatever its caches, besides the room
  // per thread.
  const size_t ExpectedBytes = Expected.ComputeUnits.size() * sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY) +
                               Expected.Caches.size() * sizeof(CCX_AFFINITY_CACHE_ENTRY) +
                               Expected.Tlbs.size() * sizeof(CCX_AFFINITY_TLB_ENTRY);
  AppendArea Area(Machine.Processors().Count() * kBytesPerThread + ExpectedBytes);
  bool Appending = false;
  {
    AnswerCheck Check("AddComputeUnitEntries", Report.Errors);
    Appending = CallService(Service, Service->AddComputeUnitEntries, Header, Area, Expected.ComputeUnitStatus,
                            ComputeUnitCount, ComputeUnitCount, Report.ComputeUnitStatus, Check);
    if (Appending) {
      const auto Units = Area.Read<CCX_AFFINITY_COMPUTE_UNIT_ENTRY>(CCX_AFFINITY_TYPE_COMPUTE_UNIT, Check);
      for (const CCX_AFFINITY_COMPUTE_UNIT_ENTRY &Unit : Units) {
        Report.ComputeUnits.push_back({Unit.ProximityDomain, Unit.ApicId, Unit.ThreadCount});
      }
      CheckComputeUnitEntries(Expected.ComputeUnits, Units, Check);
    }
  }
  if (Appending) {
    AnswerCheck Check("AddCacheEntries", Report.Errors);
    // The service may show the cache-properties leaf for its call, and must hide it again after.
    Processor &Bsp = Machine.Processors().Bsp();
    const uint64_t Features = Bsp.PeekMsr(Msr::CpuidExtFeatures::Number).value_or(0);
    Appending = CallService(Service, Service->AddCacheEntries, Header, Area, Expected.CacheStatus, AfterCaches,
                            ComputeUnitCount, Report.CacheStatus, Check);
    Check.Field("BSP MSR " + Hex(Msr::CpuidExtFeatures::Number), "value after the call", Features,
                Bsp.PeekMsr(Msr::CpuidExtFeatures::Number).value_or(0));
    if (Appending) {
      const auto Caches = Area.Read<CCX_AFFINITY_CACHE_ENTRY>(CCX_AFFINITY_TYPE_CACHE, Check);
      Report.CacheEntries = Caches.size();
      CheckCacheEntries(Expected.Caches, Caches, Check);
    }
  }
  if (Appending) {
    AnswerCheck Check("AddTlbEntries", Report.Errors);
    Appending = CallService(Service, Service->AddTlbEntries, Header, Area, Expected.TlbStatus,
                            AfterCaches + static_cast<uint32_t>(Expected.Tlbs.size()), ComputeUnitCount,
                            Report.TlbStatus, Check);
    if (Appending) {
      const auto Tlbs = Area.Read<CCX_AFFINITY_TLB_ENTRY>(CCX_AFFINITY_TYPE_TLB, Check);
      Report.TlbEntries = Tlbs.size();
      CheckTlbEntries(Expected.Tlbs, Tlbs, Check);
    }
  }
  if (!Appending) return Report;

  Report.TotalEntries = Header.TotalEntries;
  Report.ComputeUnitCount = Header.ComputeUnitEntries;
  AcpiTableBytes Table(kAffinityTableSignature, 1, "CCXQRAT");
  Table.Put32(Header.TotalEntries);
  Table.Put16(Header.ComputeUnitEntries);
  Table.PutZeros(kAffinityTableFixedSize - sizeof(Header));
  Table.PutBytes(Area.Bytes().data(), Area.Used());
  Report.Table = Table.Finish();
  return Report;
}

}  // namespace sim
