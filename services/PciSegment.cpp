// PCI configuration space by segment. The processor's configuration-space base register fixes
// where segment 0's window lies and how many buses the windows cover; segment k's window follows
// k windows further up. The table is built once and only read afterwards.
#include "services/CoreRegisters.h"

#include "arch/Msr.h"
#include "arch/PciEcam.h"
#include "arch/PortIo.h"
#include "arch/Processor.h"
#include "driver/ImageState.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT64 kBusesPerSegment = PciEcam::Offset::Bus::Max + 1;

// The table entry of a segment number, or null when the table has none for it.
const PCI_SEGMENT_ENTRY *FindSegment(UINT64 Segment) {
  UINTN Count = 0;
  const PCI_SEGMENT_ENTRY *Table = GetPciSegmentTable(&Count);
  for (UINTN Index = 0; Index < Count; Index++) {
    if (Table[Index].Segment == Segment) {
      return &Table[Index];
    }
  }
  return nullptr;
}

// Where a 64-bit segment address lies in memory, or 0 when its segment is not in the table. No
// window starts at address 0, so 0 can stand for "no such register".
UINT64 WindowAddress(UINT64 Address) {
  const PCI_SEGMENT_ENTRY *Entry = FindSegment(PciEcam::SegmentAddress::Segment::Get(Address));
  if (Entry == nullptr) {
    return 0;
  }
  return Entry->Base + PciEcam::SegmentAddress::Offset::Get(Address);
}

}  // namespace

BOOLEAN PciSegmentPresent(UINT64 Segment) { return FindSegment(Segment) != nullptr ? TRUE : FALSE; }

const PCI_SEGMENT_ENTRY *GetPciSegmentTable(UINTN *Count) {
  PCI_SEGMENT_STATE &State = gImage.PciSegments;
  if (State.Count == 0) {
    const UINT64 Register = AsmReadMsr64(Msr::MmioCfgBase::Number);
    const UINT64 Base = Msr::MmioCfgBase::Control::Set(Register, 0);
    // The register gives the number of buses as a power of two; every segment holds 256 of them.
    const UINT64 Buses = 1ULL << Msr::MmioCfgBase::BusRange::Get(Register);
    UINT64 Segments = (Buses + kBusesPerSegment - 1) / kBusesPerSegment;
    if (Segments > kPciSegmentTableSize) {
      Segments = kPciSegmentTableSize;
    }
    for (UINT64 Index = 0; Index < Segments; Index++) {
      State.Table[Index].Base = Base + Index * PciEcam::SegmentWindowSize;
    }
    State.Count = Segments;
  }
  if (Count != nullptr) {
    *Count = State.Count;
  }
  return State.Table;
}

// An address whose segment has no window is not written anywhere: there is no register to take
// the value, and guessing one would write into another device.
VOID PciSegmentWrite32(UINT64 Address, UINT32 Value) {
  const UINT64 Target = WindowAddress(Address);
  if (Target != 0) {
    MmioWrite32(Target, Value);
  }
}

// Such an address reads as all ones, as a configuration read that no function claims does.
VOID PciSegmentRead32(UINT32 Address, UINT32 *Value) {
  const UINT64 Wide = PciEcam::SegmentAddress::Offset::Set(
      PciEcam::SegmentAddress::Segment::Set(0, PciEcam::SegmentAddress32::Segment::Get(Address)),
      PciEcam::SegmentAddress32::Offset::Get(Address));
  const UINT64 Target = WindowAddress(Wide);
  *Value = Target != 0 ? MmioRead32(Target) : kPciNoDevice;
}

}  // namespace CCX_IMAGE_NAMESPACE
