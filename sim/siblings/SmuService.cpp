#include "sim/siblings/SmuService.h"

namespace sim {
namespace {

SmuService &OwnerOf(QORVEX_SMU_SERVICES_PROTOCOL *This) { return *reinterpret_cast<SmuServiceRecord *>(This)->Owner; }

EFI_STATUS EFIAPI SmuGetFirmwareVersion(QORVEX_SMU_SERVICES_PROTOCOL *, UINTN, UINT32 *Version) {
  if (Version == nullptr) return EFI_INVALID_PARAMETER;
  *Version = 0;
  return EFI_SUCCESS;
}
EFI_STATUS EFIAPI SmuRegisterWrite(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN, UINT32 Address, UINT32 Value) {
  return OwnerOf(This).RegisterWrite(Address, Value);
}
EFI_STATUS EFIAPI SmuServiceRequest(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN, UINT32 MessageId,
                                    const SMU_MESSAGE_ARGUMENTS *Arguments, SMU_MESSAGE_ARGUMENTS *Response) {
  return OwnerOf(This).ServiceRequest(MessageId, Arguments, Response);
}
EFI_STATUS EFIAPI SmuRegisterRead(QORVEX_SMU_SERVICES_PROTOCOL *This, UINTN, UINT32 Address, UINT32 *Value) {
  return OwnerOf(This).RegisterRead(Address, Value);
}

}  // namespace

SmuService::SmuService(const SmuSettings &Settings, FaultInjector &Faults)
    : Registers_(Settings.Registers), Faults_(Faults) {
  Record_.Protocol = {1, sim::SmuGetFirmwareVersion, sim::SmuRegisterWrite, sim::SmuServiceRequest,
                      sim::SmuRegisterRead};
  Record_.Owner = this;
}

std::vector<SmuCall> SmuService::Calls() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Calls_;
}

void SmuService::Note(const std::string &Query, uint32_t Address, uint32_t Value, EFI_STATUS Status) {
  std::lock_guard<std::mutex> Guard(Lock_);
  Calls_.push_back({Query, Address, Value, Status});
}

EFI_STATUS SmuService::RegisterRead(UINT32 Address, UINT32 *Value) {
  if (auto Status = Faults_.Call(SiblingQuery::SmuRegisterRead)) {
    Note("SmuRegisterRead", Address, 0, *Status);
    return *Status;
  }
  if (Value == nullptr) return EFI_INVALID_PARAMETER;
  std::lock_guard<std::mutex> Guard(Lock_);
  auto Found = Registers_.find(Address);
  *Value = Found == Registers_.end() ? 0 : Found->second;
  Calls_.push_back({"SmuRegisterRead", Address, *Value, EFI_SUCCESS});
  return EFI_SUCCESS;
}

EFI_STATUS SmuService::RegisterWrite(UINT32 Address, UINT32 Value) {
  if (auto Status = Faults_.Call(SiblingQuery::SmuRegisterWrite)) {
    Note("SmuRegisterWrite", Address, Value, *Status);
    return *Status;
  }
  std::lock_guard<std::mutex> Guard(Lock_);
  Registers_[Address] = Value;
  Calls_.push_back({"SmuRegisterWrite", Address, Value, EFI_SUCCESS});
  return EFI_SUCCESS;
}

// A message is taken and answered with zero words; the unit's own handling of messages is not
// played by this machine description.
EFI_STATUS SmuService::ServiceRequest(UINT32 MessageId, const SMU_MESSAGE_ARGUMENTS *Arguments,
                                      SMU_MESSAGE_ARGUMENTS *Response) {
  if (auto Status = Faults_.Call(SiblingQuery::SmuServiceRequest)) {
    Note("SmuServiceRequest", MessageId, 0, *Status);
    return *Status;
  }
  if (Arguments == nullptr || Response == nullptr) return EFI_INVALID_PARAMETER;
  *Response = SMU_MESSAGE_ARGUMENTS{};
  Note("SmuServiceRequest", MessageId, Arguments->Word[0], EFI_SUCCESS);
  return EFI_SUCCESS;
}

}  // namespace sim
