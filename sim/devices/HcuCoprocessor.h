// The security coprocessor (Hcu) as the x86 side sees it: a 1 MB MMIO block whose base the
// sideband register at its block address + 0x2E0 reports, holding the coprocessor's side of the
// two-party mutex in its mailbox. Every other register of the block is plain storage.
#ifndef SIM_DEVICES_HCU_COPROCESSOR_H_
#define SIM_DEVICES_HCU_COPROCESSOR_H_

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <vector>

#include "arch/Hcu.h"
#include "sim/devices/ByteStore.h"
#include "sim/devices/Device.h"
#include "sim/devices/HcuContender.h"
#include "sim/devices/HcuMutexPeer.h"
#include "sim/devices/RegisterBank.h"

namespace sim {

struct HcuConfig {
  // Without the coprocessor its base register reads 0 and no MMIO block is attached.
  bool Present = true;
  // 1 MB aligned, below 4 GB: the base register holds only bits 31:20. The default lies below
  // the I/O APIC and clear of the chipset ranges.
  uint64_t MmioBase = 0xFEB00000;
  uint32_t SidebandBlock = Hcu::DefaultSidebandBlock;
  uint32_t MailboxOffset = Hcu::AlternateMailboxOffset;
  // Bits of the base register below the base. They are not part of the address; the default
  // sets bit 0 so that a reader that forgets to mask them reaches the wrong place.
  uint32_t BaseRegisterLowBits = 0x1;
};

class HcuCoprocessor : public Device {
 public:
  // Throws std::invalid_argument for a base that is not 1 MB aligned or not below 4 GB, low bits
  // that reach into the base, or a mailbox whose mutex registers lie outside the block.
  explicit HcuCoprocessor(const HcuConfig &Config);
  ~HcuCoprocessor() override;

  std::vector<AddressRange> Ranges() const override;
  const HcuConfig &Config() const { return Config_; }

  // The sideband address of the base register, and what it reads now.
  uint32_t BaseRegisterAddress() const;
  uint32_t BaseRegisterValue() const;
  // Takes the coprocessor away (or brings it back) as the base register reports it.
  void SetPresent(bool Present);

  // Plain registers of the block by offset (4-byte aligned, inside the block); the mutex
  // registers are read through the mutex state instead.
  uint32_t Get(uint32_t Offset) const;
  void Set(uint32_t Offset, uint32_t Value);

  void SetLockPlan(CoprocessorLockPlan Plan, uint32_t HoldPolls = 3);
  // The seeded plan (CoprocessorLockPlan::Seeded) with its seed.
  void SetLockSchedule(uint64_t Seed, uint32_t HoldPolls);
  void RequestLockNow();
  bool CoprocessorHoldsLock() const;
  HcuMutexStatistics LockStatistics() const;

  // Plays the coprocessor's side of the mutex on a thread of its own that really contends with
  // the x86 side (see HcuContender), holding the lock each time until the x86 side has polled
  // HoldPolls times. Returns once that thread is inside. Throws std::logic_error while a lock plan
  // other than NeverWants is set; a plan can't be set while the thread runs.
  void StartContender(uint32_t HoldPolls);
  void StopContender();
  bool ContenderRunning() const { return Contender_ != nullptr; }

 protected:
  uint64_t OnRead(uint64_t Address, unsigned Width) override;
  void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) override;

 private:
  void CheckOffset(uint32_t Offset) const;

  friend class HcuContender;

  HcuConfig Config_;
  ByteStore Store_;
  RegisterBank Bank_;
  HcuMutexPeer LockPeer_;
  CoprocessorLockPlan Plan_ = CoprocessorLockPlan::NeverWants;
  // Woken by every x86 access of the block; the contending thread sleeps on it.
  std::condition_variable Activity_;
  // Last, so that its thread ends before the state it works on goes.
  std::unique_ptr<HcuContender> Contender_;
};

}  // namespace sim

#endif  // SIM_DEVICES_HCU_COPROCESSOR_H_
