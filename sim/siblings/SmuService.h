// The system management unit's service (QORVEX_SMU_SERVICES_PROTOCOL), played from the machine:
// register reads answer the machine's register values (0 where it sets none), and every read,
// write and message is recorded. Every query can fail through the fault injector (service "smu").
#ifndef SIM_SIBLINGS_SMU_SERVICE_H_
#define SIM_SIBLINGS_SMU_SERVICE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "interfaces/SmuServices.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {

class SmuService;

struct SmuServiceRecord {
  QORVEX_SMU_SERVICES_PROTOCOL Protocol;
  SmuService *Owner;
};

// One call the service took: "SmuRegisterRead", "SmuRegisterWrite" or "SmuServiceRequest", with
// the register address (or message number), the value read or written, and the status answered.
struct SmuCall {
  std::string Query;
  uint32_t Address = 0;
  uint32_t Value = 0;
  uint64_t Status = 0;
};

class SmuService {
 public:
  SmuService(const SmuSettings &Settings, FaultInjector &Faults);
  SmuService(const SmuService &) = delete;
  SmuService &operator=(const SmuService &) = delete;

  QORVEX_SMU_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }
  std::vector<SmuCall> Calls() const;

  // Used by the protocol thunks.
  EFI_STATUS RegisterRead(UINT32 Address, UINT32 *Value);
  EFI_STATUS RegisterWrite(UINT32 Address, UINT32 Value);
  EFI_STATUS ServiceRequest(UINT32 MessageId, const SMU_MESSAGE_ARGUMENTS *Arguments, SMU_MESSAGE_ARGUMENTS *Response);

 private:
  void Note(const std::string &Query, uint32_t Address, uint32_t Value, EFI_STATUS Status);

  std::map<uint32_t, uint32_t> Registers_;
  FaultInjector &Faults_;
  mutable std::mutex Lock_;
  std::vector<SmuCall> Calls_;
  SmuServiceRecord Record_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_SMU_SERVICE_H_
