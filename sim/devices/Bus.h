// A bus routes each access to the device that claimed its address and only forwards: devices
// own their behaviour. What reaches no device is answered as an empty bus would answer it (all
// ones on read, writes dropped) and counted by address, so tests can see where a driver reached
// into nothing. IoBus and MmioBus differ only in their address space, widths and fallback.
#ifndef SIM_DEVICES_BUS_H_
#define SIM_DEVICES_BUS_H_

#include <cstdint>
#include <initializer_list>
#include <map>
#include <mutex>
#include <shared_mutex>
#include <string>
#include <vector>

#include "sim/devices/Device.h"

namespace sim {

// An access the bus refused outright: a width the bus does not carry, an access that runs past
// the end of the address space, or one that straddles the edge of a claim.
struct RejectedAccess {
  AccessKind Kind;
  uint64_t Address;
  unsigned Width;
  std::string Reason;
};

class Bus {
 public:
  // Lets callers name the kind of access through the bus they use (MmioBus::AccessKind::Read).
  using AccessKind = sim::AccessKind;

  virtual ~Bus();
  Bus(const Bus &) = delete;
  Bus &operator=(const Bus &) = delete;

  const std::string &Name() const { return Name_; }

  // Claims every range of the device, all or none. Throws std::invalid_argument, naming both
  // devices, when a range overlaps a claim already made, and when a range is empty or leaves the
  // address space. The bus does not own the device; it must stay alive until detached.
  void Attach(Device &Owner);
  // Gives up every claim of the device. Only while no processor runs: an access already routed
  // to the device may still be inside it.
  void Detach(Device &Owner);
  // The device that claimed Address, or null.
  Device *OwnerOf(uint64_t Address) const;
  // Every claimed range, lowest address first.
  std::vector<AddressRange> ClaimedRanges() const;

  uint64_t Read(uint64_t Address, unsigned Width);
  void Write(uint64_t Address, unsigned Width, uint64_t Value);

  // Unclaimed accesses by address (the first address of each access) and how often each came.
  std::map<uint64_t, uint64_t> UnclaimedReads() const;
  std::map<uint64_t, uint64_t> UnclaimedWrites() const;
  uint64_t UnclaimedReadCount() const;
  uint64_t UnclaimedWriteCount() const;
  // The first RejectedLimit refused accesses in order; RejectedCount counts them all.
  std::vector<RejectedAccess> RejectedAccesses() const;
  uint64_t RejectedCount() const;
  void ClearStatistics();

  static constexpr size_t RejectedLimit = 1024;

 protected:
  // SpaceSize 0 stands for the full 64-bit space.
  Bus(std::string Name, uint64_t SpaceSize, std::initializer_list<unsigned> Widths);

  // Gives a derived bus the chance to serve an access that no device claimed. Returns true when
  // it did; Value is the read result or the value to write.
  virtual bool ServeUnclaimed(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value);

 private:
  struct Claim {
    AddressRange Range;
    Device *Owner;
  };

  // Finds the claim that holds Address; callers hold ClaimsMutex_.
  const Claim *FindClaim(uint64_t Address) const;
  // Routes one access; returns false when it reached no device.
  bool Route(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t &Value);
  bool IsValid(AccessKind Kind, uint64_t Address, unsigned Width);
  void Reject(AccessKind Kind, uint64_t Address, unsigned Width, std::string Reason);
  void CountUnclaimed(AccessKind Kind, uint64_t Address);

  std::string Name_;
  uint64_t SpaceSize_;
  std::vector<unsigned> Widths_;

  mutable std::shared_mutex ClaimsMutex_;
  std::map<uint64_t, Claim> Claims_;

  mutable std::mutex StatsMutex_;
  std::map<uint64_t, uint64_t> UnclaimedReads_;
  std::map<uint64_t, uint64_t> UnclaimedWrites_;
  uint64_t UnclaimedReadCount_ = 0;
  uint64_t UnclaimedWriteCount_ = 0;
  std::vector<RejectedAccess> Rejected_;
  uint64_t RejectedCount_ = 0;
};

}  // namespace sim

#endif  // SIM_DEVICES_BUS_H_
