#include "sim/devices/Device.h"

#include <cstdio>

namespace sim {

std::string Describe(const AddressRange &Range) {
  char Text[48];
  std::snprintf(Text, sizeof(Text), "0x%llX-0x%llX", static_cast<unsigned long long>(Range.Base),
                static_cast<unsigned long long>(Range.Last()));
  return Text;
}

Device::Device(std::string Name) : Name_(std::move(Name)) {}

Device::~Device() = default;

uint64_t Device::Read(uint64_t Address, unsigned Width) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  uint64_t Value = OnRead(Address, Width) & AllOnes(Width);
  Record(AccessKind::Read, Address, Width, Value);
  return Value;
}

void Device::Write(uint64_t Address, unsigned Width, uint64_t Value) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Value &= AllOnes(Width);
  Record(AccessKind::Write, Address, Width, Value);
  OnWrite(Address, Width, Value);
}

void Device::SetTracing(bool On, size_t Limit) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Tracing_ = On;
  TraceLimit_ = Limit;
}

std::vector<AccessRecord> Device::Trace() const {
  std::lock_guard<std::mutex> Guard(Mutex_);
  return Trace_;
}

uint64_t Device::DroppedTraceRecords() const {
  std::lock_guard<std::mutex> Guard(Mutex_);
  return Dropped_;
}

void Device::ClearTrace() {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Trace_.clear();
  Dropped_ = 0;
}

void Device::Record(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t Value) {
  if (!Tracing_) {
    return;
  }
  if (Trace_.size() >= TraceLimit_) {
    ++Dropped_;
    return;
  }
  Trace_.push_back({Kind, Address, Width, Value});
}

}  // namespace sim
