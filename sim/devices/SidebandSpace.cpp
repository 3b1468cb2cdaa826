#include "sim/devices/SidebandSpace.h"

#include <stdexcept>

namespace sim {

void SidebandSpace::MapRegister(uint32_t Address, std::string Name, Reader Read, Writer Write) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  auto [Where, Added] = Handlers_.try_emplace(Address, Handler{Name, std::move(Read), std::move(Write)});
  if (!Added) {
    throw std::logic_error("sideband register " + Name + " maps an address already served by " +
                           Where->second.Name);
  }
}

void SidebandSpace::Set(uint32_t Address, uint32_t Value) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Values_[Address] = Value;
}

uint32_t SidebandSpace::Peek(uint32_t Address) const {
  std::lock_guard<std::mutex> Guard(Mutex_);
  bool Known = false;
  return Lookup(Address, Known);
}

void SidebandSpace::SetDefaultValue(uint32_t Value) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Default_ = Value;
}

uint32_t SidebandSpace::Lookup(uint32_t Address, bool &Known) const {
  Known = true;
  if (auto Mapped = Handlers_.find(Address); Mapped != Handlers_.end()) {
    return Mapped->second.Read ? Mapped->second.Read() : Default_;
  }
  if (auto Stored = Values_.find(Address); Stored != Values_.end()) {
    return Stored->second;
  }
  Known = false;
  return Default_;
}

uint32_t SidebandSpace::Read(uint32_t Address) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  bool Known = false;
  uint32_t Value = Lookup(Address, Known);
  if (!Known) {
    ++UnknownReads_[Address];
  }
  return Value;
}

void SidebandSpace::Write(uint32_t Address, uint32_t Value, HostBridge Via) {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Writes_.push_back({Address, Value, Via});
  if (auto Mapped = Handlers_.find(Address); Mapped != Handlers_.end()) {
    if (Mapped->second.Write) {
      Mapped->second.Write(Value);
    }
    return;
  }
  Values_[Address] = Value;
}

std::vector<SidebandWrite> SidebandSpace::Writes() const {
  std::lock_guard<std::mutex> Guard(Mutex_);
  return Writes_;
}

std::map<uint32_t, uint64_t> SidebandSpace::UnknownReads() const {
  std::lock_guard<std::mutex> Guard(Mutex_);
  return UnknownReads_;
}

void SidebandSpace::ClearRecords() {
  std::lock_guard<std::mutex> Guard(Mutex_);
  Writes_.clear();
  UnknownReads_.clear();
}

}  // namespace sim
