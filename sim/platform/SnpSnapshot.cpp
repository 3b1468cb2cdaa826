#include "sim/platform/SnpSnapshot.h"

#include "arch/Msr.h"

namespace sim {
namespace {

// The bound registers hold the address in bits 51:13; the end register's low bits are the
// in-page offset of the table's last byte.
constexpr uint64_t kBoundAddressMask = ~Msr::SnpMsrKeepMask;
constexpr uint64_t kEndInPage = 0x1FFF;
constexpr uint64_t kPage = 0x1000;

uint64_t Value(const Processor &Each, uint32_t Msr) { return Each.PeekMsr(Msr).value_or(0); }

bool WholeRangeReserved(const PhysicalMemory &Memory, uint64_t First, uint64_t Last) {
  for (uint64_t Page = First & ~(kPage - 1); Page <= Last; Page += kPage) {
    const auto Type = Memory.TypeAt(Page);
    if (!Type || *Type != EfiReservedMemoryType || !Memory.IsMapped(Page, 1)) return false;
    if (Page + kPage < Page) break;
  }
  return true;
}

}  // namespace

SnpSnapshot TakeSnpSnapshot(ProcessorSet &Processors, const PhysicalMemory &Memory) {
  SnpSnapshot Snapshot;
  const Processor &Bsp = Processors.Bsp();
  Snapshot.RmpBaseMsr = Value(Bsp, Msr::RmpBase::Number);
  Snapshot.RmpEndMsr = Value(Bsp, Msr::RmpEnd::Number);
  Snapshot.SysCfg = Value(Bsp, Msr::SysCfg::Number);
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    const Processor &Each = Processors.At(Index);
    if (Value(Each, Msr::RmpBase::Number) == Snapshot.RmpBaseMsr &&
        Value(Each, Msr::RmpEnd::Number) == Snapshot.RmpEndMsr && Value(Each, Msr::SysCfg::Number) == Snapshot.SysCfg) {
      Snapshot.Agreeing.push_back(Index);
    }
  }
  const uint64_t First = Snapshot.RmpBaseMsr & kBoundAddressMask;
  const uint64_t Last = (Snapshot.RmpEndMsr & kBoundAddressMask) | kEndInPage;
  if (First != 0 && Last > First) {
    Snapshot.TableFirst = First;
    Snapshot.TableLast = Last;
    Snapshot.TableReserved = WholeRangeReserved(Memory, First, Last);
  }
  return Snapshot;
}

}  // namespace sim
