#include "sim/devices/PciConfigWindow.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "arch/PciEcam.h"

namespace sim {

// One function's 4 KB: plain bytes, with the sideband pair declared over them on a host bridge.
struct PciConfigWindow::FunctionSpace {
  explicit FunctionSpace(const char *Name) : Store(PciEcam::FunctionConfigSize), Bank(Name) {
    Bank.SetBackingStore(&Store);
  }
  ByteStore Store;
  RegisterBank Bank;
};

PciConfigWindow::PciConfigWindow(uint64_t Segment0Base, unsigned SegmentCount, SidebandSpace &Sideband,
                                 const std::vector<HostBridge> &HostBridges)
    : Device("PCI configuration window"), Base_(Segment0Base), SegmentCount_(SegmentCount), Sideband_(Sideband) {
  if (SegmentCount == 0 || Segment0Base % PciEcam::SegmentWindowSize != 0) {
    throw std::invalid_argument("PCI configuration window needs at least one segment at a base aligned to 256 MB");
  }
  for (const HostBridge &Bridge : HostBridges) {
    PciFunction Where{Bridge.Segment, Bridge.Bus, PciEcam::HostBridgeSideband::Device,
                      PciEcam::HostBridgeSideband::Function};
    CheckFunction(Where);
    if (Find(Where) != nullptr) {
      throw std::invalid_argument("host bridge on segment " + std::to_string(Bridge.Segment) + " bus " +
                                  std::to_string(Bridge.Bus) + " is listed twice");
    }
    FunctionSpace &Space = Materialize(Where);
    ByteStore &Store = Space.Store;
    SidebandSpace &Target = Sideband_;
    auto Index = [&Store]() { return static_cast<uint32_t>(Store.Get(PciEcam::HostBridgeSideband::IndexOffset, 4)); };
    Space.Bank
        .Define({"SidebandIndex", PciEcam::HostBridgeSideband::IndexOffset, 4, Index,
                 [&Store](uint64_t Value) { Store.Set(PciEcam::HostBridgeSideband::IndexOffset, 4, Value); }})
        .Define({"SidebandData", PciEcam::HostBridgeSideband::DataOffset, 4,
                 [&Target, Index]() -> uint64_t { return Target.Read(Index()); },
                 [&Target, Index, Bridge](uint64_t Value) {
                   Target.Write(Index(), static_cast<uint32_t>(Value), Bridge);
                 }});
  }
}

PciConfigWindow::~PciConfigWindow() = default;

std::vector<AddressRange> PciConfigWindow::Ranges() const {
  return {{Base_, SegmentCount_ * PciEcam::SegmentWindowSize}};
}

uint64_t PciConfigWindow::SegmentBase(uint16_t Segment) const {
  if (Segment >= SegmentCount_) {
    throw std::out_of_range("PCI segment " + std::to_string(Segment) + " is not in the configuration window");
  }
  return Base_ + Segment * PciEcam::SegmentWindowSize;
}

void PciConfigWindow::CheckFunction(const PciFunction &Where) const {
  if (Where.Segment >= SegmentCount_ || Where.Device > PciEcam::Offset::Device::Max ||
      Where.Function > PciEcam::Offset::Function::Max) {
    throw std::invalid_argument("no PCI function " + std::to_string(Where.Segment) + ":" +
                                std::to_string(Where.Bus) + ":" + std::to_string(Where.Device) + "." +
                                std::to_string(Where.Function) + " in the configuration window");
  }
}

uint64_t PciConfigWindow::AddressOf(const PciFunction &Where, uint32_t Register) const {
  if (Register >= PciEcam::FunctionConfigSize) {
    throw std::out_of_range("PCI configuration register " + std::to_string(Register) + " is beyond 4 KB");
  }
  CheckFunction(Where);
  return PciEcam::AddressOf(SegmentBase(Where.Segment), Where.Bus, Where.Device, Where.Function, Register);
}

PciFunction PciConfigWindow::Decode(uint64_t Offset, uint32_t &Register) const {
  uint64_t Inside = Offset % PciEcam::SegmentWindowSize;
  Register = static_cast<uint32_t>(PciEcam::Offset::Register::Get(Inside));
  return {static_cast<uint16_t>(Offset / PciEcam::SegmentWindowSize),
          static_cast<uint8_t>(PciEcam::Offset::Bus::Get(Inside)),
          static_cast<uint8_t>(PciEcam::Offset::Device::Get(Inside)),
          static_cast<uint8_t>(PciEcam::Offset::Function::Get(Inside))};
}

PciConfigWindow::FunctionSpace *PciConfigWindow::Find(const PciFunction &Where) const {
  auto Found = Functions_.find(Where);
  return Found == Functions_.end() ? nullptr : Found->second.get();
}

PciConfigWindow::FunctionSpace &PciConfigWindow::Materialize(const PciFunction &Where) {
  std::unique_ptr<FunctionSpace> &Slot = Functions_[Where];
  if (!Slot) {
    Slot = std::make_unique<FunctionSpace>("PCI function");
  }
  return *Slot;
}

template <typename Visit>
void PciConfigWindow::ForEachPiece(uint64_t Address, unsigned Width, Visit Each) {
  unsigned Done = 0;
  while (Done < Width) {
    uint32_t Register = 0;
    PciFunction Where = Decode(Address + Done - Base_, Register);
    unsigned Piece = std::min<unsigned>(Width - Done, static_cast<unsigned>(PciEcam::FunctionConfigSize - Register));
    Each(Where, Register, Piece, Done);
    Done += Piece;
  }
}

uint64_t PciConfigWindow::OnRead(uint64_t Address, unsigned Width) {
  uint64_t Value = 0;
  ForEachPiece(Address, Width, [this, &Value](const PciFunction &Where, uint32_t Register, unsigned Piece, unsigned Shift) {
    // A function nobody wrote reads as zero without taking memory.
    FunctionSpace *Space = Find(Where);
    uint64_t Part = Space != nullptr ? Space->Bank.Read(Register, Piece) : 0;
    Value |= Part << (8 * Shift);
  });
  return Value;
}

void PciConfigWindow::OnWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  ForEachPiece(Address, Width, [this, Value](const PciFunction &Where, uint32_t Register, unsigned Piece, unsigned Shift) {
    Materialize(Where).Bank.Write(Register, Piece, (Value >> (8 * Shift)) & AllOnes(Piece));
  });
}

uint64_t PciConfigWindow::Get(const PciFunction &Where, uint32_t Register, unsigned Width) const {
  AddressOf(Where, Register);
  std::lock_guard<std::mutex> Guard(Lock());
  FunctionSpace *Space = Find(Where);
  return Space != nullptr ? Space->Store.Get(Register, Width) : 0;
}

void PciConfigWindow::Set(const PciFunction &Where, uint32_t Register, unsigned Width, uint64_t Value) {
  AddressOf(Where, Register);
  std::lock_guard<std::mutex> Guard(Lock());
  Materialize(Where).Store.Set(Register, Width, Value);
}

uint32_t PciConfigWindow::SidebandIndex(const HostBridge &Bridge) const {
  PciFunction Where{Bridge.Segment, Bridge.Bus, PciEcam::HostBridgeSideband::Device,
                    PciEcam::HostBridgeSideband::Function};
  std::lock_guard<std::mutex> Guard(Lock());
  FunctionSpace *Space = Find(Where);
  if (Space == nullptr || Space->Bank.Registers().empty()) {
    throw std::out_of_range("segment " + std::to_string(Bridge.Segment) + " bus " + std::to_string(Bridge.Bus) +
                            " is not a host bridge");
  }
  return static_cast<uint32_t>(Space->Store.Get(PciEcam::HostBridgeSideband::IndexOffset, 4));
}

}  // namespace sim
