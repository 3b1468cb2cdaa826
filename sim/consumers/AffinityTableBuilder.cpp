#include "sim/consumers/AffinityTableBuilder.h"

#include <cstring>

#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/consumers/AcpiTableBytes.h"

namespace sim {
namespace {

// Room per thread: a cache entry for each of up to eight caches, four TLB entries and a share of
// a compute unit, far more than any machine here needs.
constexpr size_t kBytesPerThread = 16 * 64;

void ReadEntries(const std::vector<uint8_t> &Table, size_t End, AffinityTableReport &Report) {
  size_t Offset = 0;
  while (Offset < End) {
    const uint8_t Type = Table[Offset];
    const uint8_t Length = Offset + 1 < End ? Table[Offset + 1] : 0;
    if (Length == 0 || Offset + Length > End) {
      Report.Errors.push_back("an entry at offset " + std::to_string(Offset) + " runs past the entries");
      return;
    }
    if (Type == CCX_AFFINITY_TYPE_COMPUTE_UNIT && Length == sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY)) {
      CCX_AFFINITY_COMPUTE_UNIT_ENTRY Entry;
      std::memcpy(&Entry, Table.data() + Offset, sizeof(Entry));
      Report.ComputeUnits.push_back({Entry.ProximityDomain, Entry.ApicId, Entry.ThreadCount});
    } else if (Type == CCX_AFFINITY_TYPE_CACHE && Length == sizeof(CCX_AFFINITY_CACHE_ENTRY)) {
      Report.CacheEntries++;
    } else if (Type == CCX_AFFINITY_TYPE_TLB && Length == sizeof(CCX_AFFINITY_TLB_ENTRY)) {
      Report.TlbEntries++;
    } else {
      Report.Errors.push_back("an entry of type " + std::to_string(Type) + " has length " + std::to_string(Length));
      return;
    }
    Offset += Length;
  }
}

void CheckCounts(Platform &Machine, AffinityTableReport &Report) {
  const size_t Found = Report.ComputeUnits.size() + Report.CacheEntries + Report.TlbEntries;
  if (Report.TotalEntries != Found) {
    Report.Errors.push_back("the header counts " + std::to_string(Report.TotalEntries) + " entries, the table has " +
                            std::to_string(Found));
  }
  if (Report.ComputeUnitCount != Report.ComputeUnits.size()) {
    Report.Errors.push_back("the header counts " + std::to_string(Report.ComputeUnitCount) +
                            " compute units, the table has " + std::to_string(Report.ComputeUnits.size()));
  }
  uint64_t Threads = 0;
  for (const AffinityComputeUnit &Unit : Report.ComputeUnits) Threads += Unit.Threads;
  if (Report.ComputeUnitStatus == EFI_SUCCESS && Threads != Machine.Processors().Count()) {
    Report.Errors.push_back("the compute units cover " + std::to_string(Threads) + " threads, the machine has " +
                            std::to_string(Machine.Processors().Count()));
  }
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

  // The services keep their counters in the header and write their entries into a zero-filled
  // area; the table takes the counters and what the cursor covered.
  CCX_RESOURCE_AFFINITY_TABLE_HEADER Header{};
  std::vector<uint8_t> Area(Machine.Processors().Count() * kBytesPerThread, 0);
  UINT8 *Cursor = Area.data();
  Report.ComputeUnitStatus = Service->AddComputeUnitEntries(Service, &Header, &Cursor);
  Report.CacheStatus = Service->AddCacheEntries(Service, &Header, &Cursor);
  Report.TlbStatus = Service->AddTlbEntries(Service, &Header, &Cursor);
  const size_t Used = static_cast<size_t>(Cursor - Area.data());
  if (Used > Area.size()) {
    Report.Errors.push_back("the services moved the cursor " + std::to_string(Used) + " bytes, past the area of " +
                            std::to_string(Area.size()));
    return Report;
  }
  Report.TotalEntries = Header.TotalEntries;
  Report.ComputeUnitCount = Header.ComputeUnitEntries;
  ReadEntries(Area, Used, Report);
  CheckCounts(Machine, Report);
  AcpiTableBytes Table(kAffinityTableSignature, 1, "CCXQRAT");
  Table.Put32(Header.TotalEntries);
  Table.Put16(Header.ComputeUnitEntries);
  Table.PutZeros(kAffinityTableFixedSize - sizeof(Header));
  Table.PutBytes(Area.data(), Used);
  Report.Table = Table.Finish();
  return Report;
}

}  // namespace sim
