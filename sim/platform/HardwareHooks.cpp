#include "sim/platform/HardwareHooks.h"

#include <stdexcept>

#include "arch/PciEcam.h"
#include "sim/cpu/CurrentProcessor.h"

namespace sim {
namespace {

std::atomic<HardwareHooks *> gActive{nullptr};

HardwareHooks &Active() {
  HardwareHooks *Hooks = gActive.load();
  if (Hooks == nullptr) throw std::logic_error("driver touched the hardware while no simulated platform is active");
  return *Hooks;
}

void HookCpuid(uint32_t Leaf, uint32_t SubLeaf, uint32_t Registers[4]) {
  Active().Count(CountedAccess::Cpuid);
  const CpuidValue Value = RequireCurrentProcessor().Cpuid(Leaf, SubLeaf);
  Registers[0] = Value.Eax;
  Registers[1] = Value.Ebx;
  Registers[2] = Value.Ecx;
  Registers[3] = Value.Edx;
}
uint16_t HookBackdoor() { return Active().Backdoor(); }
uint64_t HookTsc() { return Active().NextTimeStamp(); }
void HookPause() {}
void HookWbinvd() {
  HardwareHooks &Hooks = Active();
  Hooks.Count(CountedAccess::CacheFlush);
  Hooks.CountCacheFlush();
}
uint64_t HookReadMsr(uint32_t Index) {
  Active().Count(CountedAccess::MsrRead);
  return RequireCurrentProcessor().ReadMsr(Index);
}
void HookWriteMsr(uint32_t Index, uint64_t Value) {
  Active().Count(CountedAccess::MsrWrite);
  RequireCurrentProcessor().WriteMsr(Index, Value);
}
uint32_t HookIoRead(uint16_t Port, unsigned Width) {
  HardwareHooks &Hooks = Active();
  Hooks.Count(CountedAccess::PortRead);
  return Hooks.Devices().Io().ReadPort(Port, Width);
}
void HookIoWrite(uint16_t Port, unsigned Width, uint32_t Value) {
  HardwareHooks &Hooks = Active();
  Hooks.Count(CountedAccess::PortWrite);
  Hooks.Devices().Io().WritePort(Port, Width, Value);
  Hooks.ObservePortWrite(Port, Value);
}
uint64_t HookMmioRead(uint64_t Address, unsigned Width) {
  HardwareHooks &Hooks = Active();
  Hooks.CountMmio(Address, false);
  return Hooks.Devices().Mmio().Read(Address, Width);
}
void HookMmioWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  HardwareHooks &Hooks = Active();
  Hooks.CountMmio(Address, true);
  Hooks.Devices().Mmio().Write(Address, Width, Value);
}

const CCX_ARCH_HOST_HOOKS kHooks = {HookCpuid,   HookBackdoor, HookTsc,     HookPause,    HookWbinvd,   HookReadMsr,
                                    HookWriteMsr, HookIoRead,  HookIoWrite, HookMmioRead, HookMmioWrite};

// The memory primitives may run without a platform (unit tests of driver code); then nobody counts.
void ObserveFilled(uint64_t Length) {
  if (HardwareHooks *Hooks = gActive.load()) Hooks->Count(CountedAccess::BytesFilled, Length);
}
void ObserveCopied(uint64_t Length) {
  if (HardwareHooks *Hooks = gActive.load()) Hooks->Count(CountedAccess::BytesCopied, Length);
}
const CCX_ARCH_MEMORY_OBSERVER kMemoryObserver = {ObserveFilled, ObserveCopied};

}  // namespace

HardwareHooks::HardwareHooks(ProcessorSet &Processors, DeviceSet &Devices, bool AnswerBackdoor)
    : Processors_(Processors), Devices_(Devices), AnswerBackdoor_(AnswerBackdoor) {
  gActive.store(this);
  Previous_ = CcxInstallArchHostHooks(&kHooks);
  PreviousObserver_ = CcxInstallArchMemoryObserver(&kMemoryObserver);
}

HardwareHooks::~HardwareHooks() {
  CcxInstallArchMemoryObserver(PreviousObserver_);
  CcxInstallArchHostHooks(Previous_);
  HardwareHooks *Self = this;
  gActive.compare_exchange_strong(Self, nullptr);
}

void HardwareHooks::Count(CountedAccess Kind, uint64_t Amount) {
  const Processor *Running = CurrentProcessor();
  Accounting_.Add(Kind, Running != nullptr && !Running->IsBsp(), Amount);
}

void HardwareHooks::CountMmio(uint64_t Address, bool Write) {
  // The sideband space is reached through the data register of a host bridge's index/data pair;
  // the index writes around it are ordinary configuration accesses. A data register of function
  // 0 of device 0 counts as such on every bus of the window.
  PciConfigWindow &Pci = Devices_.Pci();
  const uint64_t Base = Pci.SegmentBase(0);
  const uint64_t Size = uint64_t(Pci.SegmentCount()) * PciEcam::SegmentWindowSize;
  bool Sideband = false;
  if (Address >= Base && Address - Base < Size) {
    const uint64_t Offset = (Address - Base) % PciEcam::SegmentWindowSize;
    Sideband = PciEcam::Offset::Device::Get(Offset) == PciEcam::HostBridgeSideband::Device &&
               PciEcam::Offset::Function::Get(Offset) == PciEcam::HostBridgeSideband::Function &&
               PciEcam::Offset::Register::Get(Offset) == PciEcam::HostBridgeSideband::DataOffset;
  }
  if (Sideband) {
    Count(Write ? CountedAccess::SidebandWrite : CountedAccess::SidebandRead);
  } else {
    Count(Write ? CountedAccess::MmioWrite : CountedAccess::MmioRead);
  }
}

uint16_t HardwareHooks::Backdoor() {
  if (AnswerBackdoor_) return 1;
  // Only a fatal stop asks. Without an answer it goes on to scroll the code it has just put on
  // port 0x80 forever; watch that display and end the boot once it has been seen.
  std::lock_guard<std::mutex> Guard(HaltLock_);
  Halting_ = true;
  HaltCode_ = Devices_.PostCodes().Latched(0x80, 4);
  HaltWindows_.clear();
  return 0;
}

void HardwareHooks::ObservePortWrite(uint16_t Port, uint32_t Value) {
  uint32_t Code = 0;
  {
    std::lock_guard<std::mutex> Guard(HaltLock_);
    if (!Halting_ || Port != 0x80) return;
    HaltWindows_.push_back(Value);
    if (HaltWindows_.size() < kWindowsPerCycle * kCyclesWatched) return;
    Code = HaltCode_;
  }
  if (Halt_) Halt_(Code);
}

std::vector<uint32_t> HardwareHooks::HaltWindows() const {
  std::lock_guard<std::mutex> Guard(HaltLock_);
  return HaltWindows_;
}

}  // namespace sim
