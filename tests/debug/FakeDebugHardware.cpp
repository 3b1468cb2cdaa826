#include "FakeDebugHardware.h"

#include <cstdio>
#include <cstdlib>

namespace fake {
namespace {

FakeDebugHardware *gCurrent = nullptr;

uint64_t WidthMask(unsigned Width) { return Width >= 8 ? ~0ULL : (1ULL << (8 * Width)) - 1; }

void HookCpuid(uint32_t, uint32_t, uint32_t Registers[4]) {
  for (int Index = 0; Index < 4; Index++) {
    Registers[Index] = 0;
  }
}
uint16_t HookBackdoor() { return FakeDebugHardware::Current().Backdoor; }
uint64_t HookTsc() {
  FakeDebugHardware &Hardware = FakeDebugHardware::Current();
  const uint64_t Now = Hardware.Tsc;
  Hardware.Tsc += Hardware.TscStep;
  return Now;
}
void HookPause() { FakeDebugHardware::Current().Pauses++; }
void HookNothing() {}
uint64_t HookReadMsr(uint32_t Index) {
  FakeDebugHardware &Hardware = FakeDebugHardware::Current();
  Hardware.MsrReads.push_back(Index);
  const auto Found = Hardware.Msrs.find(Index);
  return Found == Hardware.Msrs.end() ? 0 : Found->second;
}
void HookWriteMsr(uint32_t Index, uint64_t Value) { FakeDebugHardware::Current().Msrs[Index] = Value; }
uint32_t HookIoRead(uint16_t Port, unsigned Width) {
  return static_cast<uint32_t>(FakeDebugHardware::Current().ReadPort(Port, Width));
}
void HookIoWrite(uint16_t Port, unsigned Width, uint32_t Value) {
  FakeDebugHardware::Current().WritePort(Port, Width, Value);
}
uint64_t HookMmioRead(uint64_t Address, unsigned Width) {
  return FakeDebugHardware::Current().ReadMemory(Address, Width);
}
void HookMmioWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  FakeDebugHardware::Current().WriteMemory(Address, Width, Value);
}

const CCX_ARCH_HOST_HOOKS kHooks = {HookCpuid,   HookBackdoor, HookTsc,      HookPause,
                                    HookNothing, HookReadMsr,  HookWriteMsr, HookIoRead,
                                    HookIoWrite, HookMmioRead, HookMmioWrite};

const char *KindName(AccessKind Kind) {
  switch (Kind) {
    case AccessKind::IoRead:
      return "in";
    case AccessKind::IoWrite:
      return "out";
    case AccessKind::MmioRead:
      return "mmio-read";
    case AccessKind::MmioWrite:
      return "mmio-write";
  }
  return "?";
}

}  // namespace

std::ostream &operator<<(std::ostream &Stream, const Access &Entry) {
  return Stream << KindName(Entry.Kind) << std::hex << " 0x" << Entry.Address << " w" << Entry.Width
                << " = 0x" << Entry.Value << std::dec;
}

FakeDebugHardware::FakeDebugHardware() {
  gCurrent = this;
  Previous_ = CcxInstallArchHostHooks(&kHooks);
}

FakeDebugHardware::~FakeDebugHardware() {
  CcxInstallArchHostHooks(Previous_);
  gCurrent = nullptr;
}

FakeDebugHardware &FakeDebugHardware::Current() {
  if (gCurrent == nullptr) {
    std::fprintf(stderr, "debug test touched hardware without a FakeDebugHardware\n");
    std::abort();
  }
  return *gCurrent;
}

uint64_t FakeDebugHardware::ReadPort(uint16_t Port, unsigned Width) {
  uint64_t Value = WidthMask(Width);
  auto Script = PortReadScript.find(Port);
  if (Script != PortReadScript.end() && !Script->second.empty()) {
    Value = Script->second.front();
    Script->second.pop_front();
  } else if (const auto Found = Ports.find(Port); Found != Ports.end()) {
    Value = Found->second;
  }
  Value &= WidthMask(Width);
  Log.push_back({AccessKind::IoRead, Port, Width, Value});
  return Value;
}

void FakeDebugHardware::WritePort(uint16_t Port, unsigned Width, uint32_t Value) {
  Log.push_back({AccessKind::IoWrite, Port, Width, Value & WidthMask(Width)});
  Ports[Port] = Value & WidthMask(Width);
}

uint64_t FakeDebugHardware::ReadMemory(uint64_t Address, unsigned Width) {
  const auto Found = Memory.find(Address);
  const uint64_t Value = (Found == Memory.end() ? 0 : Found->second) & WidthMask(Width);
  Log.push_back({AccessKind::MmioRead, Address, Width, Value});
  return Value;
}

void FakeDebugHardware::WriteMemory(uint64_t Address, unsigned Width, uint64_t Value) {
  Log.push_back({AccessKind::MmioWrite, Address, Width, Value & WidthMask(Width)});
  Memory[Address] = Value & WidthMask(Width);
}

std::vector<Access> FakeDebugHardware::Only(AccessKind Kind) const {
  std::vector<Access> Selected;
  for (const Access &Entry : Log) {
    if (Entry.Kind == Kind) {
      Selected.push_back(Entry);
    }
  }
  return Selected;
}

std::vector<Access> FakeDebugHardware::Writes() const {
  std::vector<Access> Selected;
  for (const Access &Entry : Log) {
    if (Entry.Kind == AccessKind::IoWrite || Entry.Kind == AccessKind::MmioWrite) {
      Selected.push_back(Entry);
    }
  }
  return Selected;
}

size_t FakeDebugHardware::PortReads(uint64_t Port) const {
  size_t Count = 0;
  for (const Access &Entry : Log) {
    Count += Entry.Kind == AccessKind::IoRead && Entry.Address == Port ? 1 : 0;
  }
  return Count;
}

std::vector<uint8_t> FakeDebugHardware::BytesWritten(uint64_t Port) const {
  std::vector<uint8_t> Bytes;
  for (const Access &Entry : Log) {
    if (Entry.Kind == AccessKind::IoWrite && Entry.Address == Port && Entry.Width == 1) {
      Bytes.push_back(static_cast<uint8_t>(Entry.Value));
    }
  }
  return Bytes;
}

std::vector<std::string> FakeDebugHardware::CaptureFrames() const {
  constexpr uint64_t kStart = 0x5F535452;
  constexpr uint64_t kEnd = 0x5F454E44;
  std::vector<std::string> Frames;
  bool Open = false;
  for (const Access &Entry : Log) {
    if (Entry.Kind != AccessKind::IoWrite || Entry.Address != 0x80) {
      continue;
    }
    if (Entry.Width == 4 && Entry.Value == kStart) {
      Frames.emplace_back();
      Open = true;
    } else if (Entry.Width == 4 && Entry.Value == kEnd) {
      Open = false;
    } else if (Open && Entry.Width == 1) {
      Frames.back().push_back(static_cast<char>(Entry.Value));
    }
  }
  return Frames;
}

}  // namespace fake
