#include "sim/devices/Bus.h"

#include <algorithm>
#include <stdexcept>

namespace sim {

Bus::Bus(std::string Name, uint64_t SpaceSize, std::initializer_list<unsigned> Widths)
    : Name_(std::move(Name)), SpaceSize_(SpaceSize), Widths_(Widths) {}

Bus::~Bus() = default;

void Bus::Attach(Device &Owner) {
  std::vector<AddressRange> Ranges = Owner.Ranges();
  std::unique_lock<std::shared_mutex> Guard(ClaimsMutex_);
  for (size_t I = 0; I < Ranges.size(); ++I) {
    const AddressRange &Range = Ranges[I];
    // Only a refused claim needs the text, so it is built then.
    const auto Where = [&] { return Name_ + ": '" + Owner.Name() + "' claims " + Describe(Range); };
    if (Range.Size == 0) {
      throw std::invalid_argument(Where() + ", an empty range");
    }
    if (Range.Last() < Range.Base || (SpaceSize_ != 0 && Range.Last() >= SpaceSize_)) {
      throw std::invalid_argument(Where() + ", outside the address space");
    }
    for (const auto &[Base, Held] : Claims_) {
      if (Held.Range.Overlaps(Range)) {
        throw std::invalid_argument(Where() + ", which overlaps " + Describe(Held.Range) +
                                    " held by '" + Held.Owner->Name() + "'");
      }
    }
    for (size_t J = 0; J < I; ++J) {
      if (Ranges[J].Overlaps(Range)) {
        throw std::invalid_argument(Where() + ", which overlaps its own " + Describe(Ranges[J]));
      }
    }
  }
  for (const AddressRange &Range : Ranges) {
    Claims_.emplace(Range.Base, Claim{Range, &Owner});
  }
}

void Bus::Detach(Device &Owner) {
  std::unique_lock<std::shared_mutex> Guard(ClaimsMutex_);
  std::erase_if(Claims_, [&Owner](const auto &Entry) { return Entry.second.Owner == &Owner; });
}

std::vector<AddressRange> Bus::ClaimedRanges() const {
  std::shared_lock<std::shared_mutex> Guard(ClaimsMutex_);
  std::vector<AddressRange> Ranges;
  for (const auto &[Base, Held] : Claims_) Ranges.push_back(Held.Range);
  return Ranges;
}

const Bus::Claim *Bus::FindClaim(uint64_t Address) const {
  auto After = Claims_.upper_bound(Address);
  if (After == Claims_.begin()) {
    return nullptr;
  }
  const Claim &Candidate = std::prev(After)->second;
  return Candidate.Range.Contains(Address) ? &Candidate : nullptr;
}

Device *Bus::OwnerOf(uint64_t Address) const {
  std::shared_lock<std::shared_mutex> Guard(ClaimsMutex_);
  const Claim *Found = FindClaim(Address);
  return Found ? Found->Owner : nullptr;
}

uint64_t Bus::Read(uint64_t Address, unsigned Width) {
  uint64_t Value = 0;
  if (!IsValid(AccessKind::Read, Address, Width)) {
    return AllOnes(Width);
  }
  if (!Route(AccessKind::Read, Address, Width, Value)) {
    return AllOnes(Width);
  }
  return Value & AllOnes(Width);
}

void Bus::Write(uint64_t Address, unsigned Width, uint64_t Value) {
  if (!IsValid(AccessKind::Write, Address, Width)) {
    return;
  }
  Value &= AllOnes(Width);
  Route(AccessKind::Write, Address, Width, Value);
}

bool Bus::IsValid(AccessKind Kind, uint64_t Address, unsigned Width) {
  if (std::find(Widths_.begin(), Widths_.end(), Width) == Widths_.end()) {
    Reject(Kind, Address, Width, "width not carried by this bus");
    return false;
  }
  uint64_t Last = Address + Width - 1;
  if (Last < Address || (SpaceSize_ != 0 && Last >= SpaceSize_)) {
    Reject(Kind, Address, Width, "runs past the end of the address space");
    return false;
  }
  return true;
}

bool Bus::Route(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value) {
  Device *Target = nullptr;
  {
    std::shared_lock<std::shared_mutex> Guard(ClaimsMutex_);
    const Claim *First = FindClaim(Address);
    auto Next = Claims_.upper_bound(Address);
    bool NextStartsInside = Next != Claims_.end() && Next->first <= Address + Width - 1;
    if (NextStartsInside || (First != nullptr && !First->Range.ContainsAccess(Address, Width))) {
      Guard.unlock();
      Reject(Kind, Address, Width, "straddles the edge of a claim");
      return false;
    }
    if (First != nullptr) {
      Target = First->Owner;
    }
  }
  // A claim range never shrinks while its device is attached, so the device may be called
  // outside the claims lock; that keeps a slow device from holding up claims on other devices.
  if (Target != nullptr) {
    if (Kind == AccessKind::Read) {
      Value = Target->Read(Address, Width);
    } else {
      Target->Write(Address, Width, Value);
    }
    return true;
  }
  if (ServeUnclaimed(Kind, Address, Width, Value)) {
    return true;
  }
  CountUnclaimed(Kind, Address);
  return false;
}

bool Bus::ServeUnclaimed(AccessKind, uint64_t, unsigned, uint64_t &) { return false; }

void Bus::Reject(AccessKind Kind, uint64_t Address, unsigned Width, std::string Reason) {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  ++RejectedCount_;
  if (Rejected_.size() < RejectedLimit) {
    Rejected_.push_back({Kind, Address, Width, std::move(Reason)});
  }
}

void Bus::CountUnclaimed(AccessKind Kind, uint64_t Address) {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  if (Kind == AccessKind::Read) {
    ++UnclaimedReads_[Address];
    ++UnclaimedReadCount_;
  } else {
    ++UnclaimedWrites_[Address];
    ++UnclaimedWriteCount_;
  }
}

std::map<uint64_t, uint64_t> Bus::UnclaimedReads() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return UnclaimedReads_;
}

std::map<uint64_t, uint64_t> Bus::UnclaimedWrites() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return UnclaimedWrites_;
}

uint64_t Bus::UnclaimedReadCount() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return UnclaimedReadCount_;
}

uint64_t Bus::UnclaimedWriteCount() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return UnclaimedWriteCount_;
}

std::vector<RejectedAccess> Bus::RejectedAccesses() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return Rejected_;
}

uint64_t Bus::RejectedCount() const {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  return RejectedCount_;
}

void Bus::ClearStatistics() {
  std::lock_guard<std::mutex> Guard(StatsMutex_);
  UnclaimedReads_.clear();
  UnclaimedWrites_.clear();
  UnclaimedReadCount_ = 0;
  UnclaimedWriteCount_ = 0;
  Rejected_.clear();
  RejectedCount_ = 0;
}

}  // namespace sim
