// What the boot must leave in memory: the reverse-map table, the memory map, and the heap buffers
// the driver makes.
#include <algorithm>
#include <cstring>

#include "arch/Cpuid.h"
#include "arch/Msr.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/CcxPcctServices.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/ZrbOptionHook.h"
#include "interfaces/ActDb.h"
#include "sim/HexText.h"
#include "sim/oracle/AcpiProcessorPstates.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/MachineStateOracle.h"
#include "sim/oracle/PcctHestOracle.h"

namespace sim {
namespace {

constexpr uint64_t kMiB = 0x100000;
constexpr uint64_t kSmallestCoverage = 16 * kMiB;
constexpr uint64_t kPageBytes = 4096;
constexpr uint64_t kRmpAreaRoundUp = 0x103FFF;  // the 16 KB area in front, rounded up to 1 MB
constexpr uint8_t kModeCoverItem = 2;
constexpr uint64_t kRmpEntryBytes = 8;
constexpr uint64_t kRmpEntryBytesVmpl = 16;

constexpr uint32_t kPowerStateRecordBytes = 15;
constexpr uint32_t kPccAddressBytes = 8;
constexpr uint32_t kPstateSocketRecordBytes = 0x81A;
constexpr uint32_t kPstateEntryBytes = 16;
constexpr uint32_t kPstateBufferTail = 0x81F;

// What a buffer the driver makes must be: its persistence, and its size when the machine fixes it.
struct BufferRule {
  const char *Name;
  uint8_t Persistence;
  std::optional<uint32_t> Size;
};

std::optional<BufferRule> RuleFor(Platform &Machine, uint32_t Handle) {
  switch (Handle) {
    case HEAP_HANDLE_INIT_VALUE:
      return BufferRule{"init value", 4, 1};
    case HEAP_HANDLE_POWER_STATE:
      return BufferRule{"power-state record", 4, kPowerStateRecordBytes};
    case HEAP_HANDLE_PCC_REGION:
      return BufferRule{"PCC region address", 4, kPccAddressBytes};
    case HEAP_HANDLE_PSTATE_INFO: {
      // Every socket's record and a further record's worth of zeros, after a 5-byte header.
      const Processor &Bsp = Machine.Processors().Bsp();
      const uint32_t Highest = uint32_t(Msr::PstateCurLim::PstateMaxVal::Get(ResetValue(Bsp, Msr::PstateCurLim::Number)));
      const uint32_t Sockets = Machine.Description().Shape.Count(TopologyLevel::Socket);
      return BufferRule{"P-state information", 4,
                        Sockets * (kPstateSocketRecordBytes + kPstateEntryBytes * Highest) + kPstateBufferTail};
    }
    case HEAP_HANDLE_NV_TABLE:
      return BufferRule{"option NV table", 7, std::nullopt};
    default:
      return std::nullopt;
  }
}

}  // namespace

std::optional<ExpectedRmp> ExpectedReverseMapTable(Platform &Machine, const BootRecord &Boot) {
  const Processor &Bsp = Machine.Processors().Bsp();
  const uint32_t Eax = Bsp.Cpuid(CpuidLeaf::EncryptedMemory::Leaf, 0).Eax;
  // The initialization reads the items during the entry.
  const std::map<uint64_t, uint64_t> &Items = ItemsAtStep(Machine.Description(), Boot, EntryStep(Boot) + 1);
  const uint64_t Mode = PcdItem(Items, PcdCcxSnpMode, 1);
  if (!CpuidLeaf::EncryptedMemory::EaxSnp::IsSet(Eax) || Mode == 0) return std::nullopt;
  ExpectedRmp Table;
  Table.Vmpl = PcdItem(Items, PcdCcxVmplEnable, 1) != 0 && CpuidLeaf::EncryptedMemory::EaxVmpl::IsSet(Eax);
  const uint64_t TopMem2 = ResetValue(Bsp, Msr::TopMem2::Number);
  uint64_t Cover = TopMem2;
  if (Mode == kModeCoverItem) {
    const uint64_t Asked = PcdItem(Items, PcdCcxSnpMemSizeToCover, 4) << 20;
    Cover = Asked < kSmallestCoverage ? kSmallestCoverage : std::min(Asked, TopMem2);
  }
  const uint64_t EntryBytes = Table.Vmpl ? kRmpEntryBytesVmpl : kRmpEntryBytes;
  Table.Size = (Cover / kPageBytes * EntryBytes + kRmpAreaRoundUp) & ~(kMiB - 1);
  return Table;
}

void CheckReverseMapTable(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  const std::optional<ExpectedRmp> Table = ExpectedReverseMapTable(Machine, Boot);
  if (!Table || !InitializationRuns(Machine.Description()) || ShowedFatalStop(Boot, kFatalRmpProbe) ||
      ShowedFatalStop(Boot, kFatalRmpReserve)) {
    return;
  }
  AnswerCheck Check("machine state", Errors);
  const uint64_t First = Boot.Snp.TableFirst;
  if (First == 0) {
    Check.Problem("reverse-map table", "no table was set up");
    return;
  }
  Check.Field("reverse-map table", "base alignment (base mod 1 MB)", 0, First % kMiB);
  Check.Field("reverse-map table", "size", Table->Size, Boot.Snp.TableLast - First + 1);
  if (!Boot.Snp.TableReserved) Check.Problem("reverse-map table", "not all of it lies in reserved memory");
  if (Boot.Snp.TableReserved && Boot.Snp.TableLast - First + 1 == Table->Size) {
    const auto *Bytes = reinterpret_cast<const uint8_t *>(First);
    // All zero when the first byte is and every byte equals the one before it; the byte that is
    // not is then looked for.
    if (Bytes[0] != 0 || std::memcmp(Bytes, Bytes + 1, Table->Size - 1) != 0) {
      const uint8_t *NotZero = std::find_if(Bytes, Bytes + Table->Size, [](uint8_t Byte) { return Byte != 0; });
      Check.Problem("reverse-map table", "byte " + Hex(uint64_t(NotZero - Bytes)) + " is not zero");
    }
  }
}

void CheckMemoryMap(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  AnswerCheck Check("machine state", Errors);
  // Reserved memory the boot took is the reverse-map table's alone; ACPI NVS the PCC subspace's
  // 48 pages, each registered region inside them.
  const uint64_t ReservedPages = PagesTakenAs(Machine, Boot, EfiReservedMemoryType);
  const uint64_t NvsPages = PagesTakenAs(Machine, Boot, EfiACPIMemoryNVS);
  uint64_t ExpectedReserved = 0;
  const std::optional<ExpectedRmp> Table = ExpectedReverseMapTable(Machine, Boot);
  if (Table && InitializationRuns(Machine.Description()) && !ShowedFatalStop(Boot, kFatalRmpProbe)) {
    ExpectedReserved = ShowedFatalStop(Boot, kFatalRmpReserve) ? 0 : Table->Size / kPageBytes;
  }
  Check.Field("memory map", "pages of reserved memory", ExpectedReserved, ReservedPages);
  const std::vector<uint64_t> PccRegions = RegisteredPccRegions(Machine);
  for (uint64_t Region : PccRegions) {
    const std::optional<uint32_t> Type = MemoryTypeAfterBoot(Machine, Boot, Region);
    Check.Field("PCC region at " + Hex(Region), "memory type", EfiACPIMemoryNVS, Type.value_or(EfiMaxMemoryType));
  }
  Check.Field("memory map", "pages of ACPI NVS memory", PccRegions.size() * kPccRegionPages, NvsPages);
}

void CheckHeapBuffers(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  AnswerCheck Check("machine state", Errors);
  bool InitValueMade = false;
  for (const HeapBufferView &Buffer : Boot.Heap.Buffers) {
    // The token store and the down-core record are made by other components.
    if (Buffer.Handle == HEAP_HANDLE_ACT_DB || Buffer.Handle == HEAP_HANDLE_DOWN_CORE) continue;
    const std::string Record = "heap buffer " + Hex(Buffer.Handle, 8);
    const std::optional<BufferRule> Rule = RuleFor(Machine, Buffer.Handle);
    if (!Rule) {
      Check.Problem(Record, "made with no buffer of that handle expected");
      continue;
    }
    Check.Field(Record + " (" + Rule->Name + ")", "persistence", Rule->Persistence, Buffer.Persistence);
    if (Rule->Size) Check.Field(Record + " (" + Rule->Name + ")", "size", *Rule->Size, Buffer.Size);
    if (Buffer.Handle == HEAP_HANDLE_INIT_VALUE) {
      InitValueMade = true;
      const uint64_t Value =
          PcdItem(ItemsAtStep(Machine.Description(), Boot, EntryStep(Boot) + 1), PcdCcxHeapA02BValue, 1) != 0 ? 1 : 0;
      if (!Buffer.FirstBytes.empty()) Check.Field(Record + " (init value)", "byte 0", Value, Buffer.FirstBytes[0]);
    }
    if (Buffer.Handle == HEAP_HANDLE_PCC_REGION && Buffer.FirstBytes.size() >= kPccAddressBytes) {
      uint64_t Stored = 0;
      std::memcpy(&Stored, Buffer.FirstBytes.data(), sizeof(Stored));
      for (uint64_t Region : RegisteredPccRegions(Machine)) {
        Check.Field(Record + " (PCC region address)", "value", Region, Stored);
      }
    }
  }
  if (!InitValueMade && Boot.EntryStatus == EFI_SUCCESS) Check.Problem("heap buffer 0x0000A02B (init value)", "missing");
}

}  // namespace sim
