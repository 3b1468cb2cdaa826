// Register access for the processor services: PCI configuration by segment, the sideband
// index/data window, the data-fabric registers, the core-complex registers, and the numbering of a
// topology position as the hardware's APIC ID.
#ifndef SERVICES_CORE_REGISTERS_H_
#define SERVICES_CORE_REGISTERS_H_

#include "arch/ImageNamespace.h"
#include "services/TopologyWalk.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

struct PCI_SEGMENT_ENTRY {
  UINT16 Segment;
  UINT64 Base;
  UINT8 StartBus;
  UINT8 EndBus;
};

// The most segments the table describes.
constexpr UINTN kPciSegmentTableSize = 8;
// What a configuration read returns when no register answers it.
constexpr UINT32 kPciNoDevice = 0xFFFFFFFF;
// FindSidebandHostBridge's answer when the fabric names no bridge.
constexpr UINT32 kNoSidebandHostBridge = 0xFFFFFFFF;

// The segment table, built on first use from the configuration-space base MSR.
const PCI_SEGMENT_ENTRY *GetPciSegmentTable(UINTN *Count);
// Whether the table has a window for the segment. Accesses to any other segment are not made:
// writes are dropped and reads give kPciNoDevice.
BOOLEAN PciSegmentPresent(UINT64 Segment);
VOID PciSegmentWrite32(UINT64 Address, UINT32 Value);
VOID PciSegmentRead32(UINT32 Address, UINT32 *Value);
VOID SidebandRead32(UINT32 SidebandAddress, UINT32 *Value);
VOID SidebandRead32OnBus(UINT32 HostBridge, UINT32 SidebandAddress, UINT32 *Value);
UINT32 ReadFabricRegister32(UINT32 Offset);
// Segment in bits 23:8, bus in bits 7:0; kNoSidebandHostBridge when no bridge matches.
UINT32 FindSidebandHostBridge();
UINT32 ReadCoreComplexRegister32(UINT32 Offset);
UINT8 GetThreadsPerCore();
UINT32 CcxGetApicId(UINTN Socket, UINTN Die, UINTN ComplexDie, UINTN Complex, UINTN Core, UINTN Thread);

// The APIC ID of the thread a walk stands on.
inline UINT32 CcxGetApicIdAt(const TOPOLOGY_POSITION &At) {
  return CcxGetApicId(At.Socket, At.Die, At.ComplexDie, At.Complex, At.Core, At.Thread);
}

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // SERVICES_CORE_REGISTERS_H_
