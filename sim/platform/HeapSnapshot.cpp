#include "sim/platform/HeapSnapshot.h"

#include <algorithm>
#include <cstring>

#include "interfaces/HeapProtocol.h"
#include "interfaces/QorvexGuids.h"
#include "sim/uefi/Diagnostics.h"

namespace sim {

HeapSnapshot TakeHeapSnapshot(UefiCore &Core) {
  const std::optional<void *> Found = Core.LocateProtocol(gQorvexHeapProtocolGuid);
  if (!Found || *Found == nullptr) return HeapSnapshot{};
  const PhysicalMemory &Memory = Core.Memory();
  return TakeHeapSnapshot(*Found, {[&Memory](uint64_t Address, uint64_t Length) { return Memory.IsMapped(Address, Length); },
                                   [&Memory](uint64_t Address) { return Memory.TypeAt(Address); }});
}

HeapSnapshot TakeHeapSnapshot(const void *Interface, const HeapMemoryView &Memory) {
  HeapSnapshot Snapshot;
  Snapshot.Published = true;
  // The record is the publishing driver's own; its nodes come from pool in simulated memory.
  const auto *Record = static_cast<const QORVEX_HEAP_PROTOCOL *>(Interface);
  const LIST_ENTRY *Head = &Record->BufferList;
  const LIST_ENTRY *Link = Head->ForwardLink;
  while (Link != Head) {
    const uint64_t Node = reinterpret_cast<uint64_t>(Link);
    if (Snapshot.Buffers.size() == HeapSnapshot::kMostNodes) {
      Snapshot.Problem = "the list holds more than " + std::to_string(HeapSnapshot::kMostNodes) + " buffers";
      break;
    }
    if (!Memory.IsMapped(Node, sizeof(HEAP_NODE))) {
      Snapshot.Problem = "a link leads to " + Hex(Node) + ", outside allocated memory";
      break;
    }
    HEAP_NODE Copy;
    std::memcpy(&Copy, Link, sizeof(Copy));
    HeapBufferView View;
    View.Handle = Copy.Header.Handle;
    View.Size = Copy.Header.Size;
    View.Persistence = Copy.Header.Persistence;
    View.Valid = Copy.Header.Valid;
    View.Signature = Copy.Header.Signature;
    View.Address = Node + HEAP_NODE_DATA_OFFSET;
    View.MemoryType = Memory.TypeAt(Node);
    const size_t Shown = std::min<size_t>(View.Size, HeapSnapshot::kBytesShown);
    if (Shown != 0 && Memory.IsMapped(View.Address, Shown)) {
      const auto *Data = reinterpret_cast<const uint8_t *>(View.Address);
      View.FirstBytes.assign(Data, Data + Shown);
    }
    Snapshot.Buffers.push_back(View);
    Link = Copy.Link.ForwardLink;
  }
  return Snapshot;
}

}  // namespace sim
