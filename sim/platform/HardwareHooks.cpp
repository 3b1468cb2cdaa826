#include "sim/platform/HardwareHooks.h"

#include <stdexcept>

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
  const CpuidValue Value = RequireCurrentProcessor().Cpuid(Leaf, SubLeaf);
  Registers[0] = Value.Eax;
  Registers[1] = Value.Ebx;
  Registers[2] = Value.Ecx;
  Registers[3] = Value.Edx;
}
uint16_t HookBackdoor() { return Active().Backdoor(); }
uint64_t HookTsc() { return Active().NextTimeStamp(); }
void HookPause() {}
void HookWbinvd() { Active().CountCacheFlush(); }
uint64_t HookReadMsr(uint32_t Index) { return RequireCurrentProcessor().ReadMsr(Index); }
void HookWriteMsr(uint32_t Index, uint64_t Value) { RequireCurrentProcessor().WriteMsr(Index, Value); }
uint32_t HookIoRead(uint16_t Port, unsigned Width) { return Active().Devices().Io().ReadPort(Port, Width); }
void HookIoWrite(uint16_t Port, unsigned Width, uint32_t Value) {
  HardwareHooks &Hooks = Active();
  Hooks.Devices().Io().WritePort(Port, Width, Value);
  Hooks.ObservePortWrite(Port, Value);
}
uint64_t HookMmioRead(uint64_t Address, unsigned Width) { return Active().Devices().Mmio().Read(Address, Width); }
void HookMmioWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  Active().Devices().Mmio().Write(Address, Width, Value);
}

const CCX_ARCH_HOST_HOOKS kHooks = {HookCpuid,   HookBackdoor, HookTsc,     HookPause,    HookWbinvd,   HookReadMsr,
                                    HookWriteMsr, HookIoRead,  HookIoWrite, HookMmioRead, HookMmioWrite};

}  // namespace

HardwareHooks::HardwareHooks(ProcessorSet &Processors, DeviceSet &Devices, bool AnswerBackdoor)
    : Processors_(Processors), Devices_(Devices), AnswerBackdoor_(AnswerBackdoor) {
  gActive.store(this);
  Previous_ = CcxInstallArchHostHooks(&kHooks);
}

HardwareHooks::~HardwareHooks() {
  CcxInstallArchHostHooks(Previous_);
  HardwareHooks *Self = this;
  gActive.compare_exchange_strong(Self, nullptr);
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
