#include "sim/siblings/SmmSiblings.h"

namespace sim {

struct SmmThunks {
  static EFI_STATUS EFIAPI Trigger(const EFI_SMM_CONTROL2_PROTOCOL *This, UINT8 *Command, UINT8 *Data, BOOLEAN Periodic,
                                   UINTN) {
    if (Periodic) return EFI_INVALID_PARAMETER;
    return reinterpret_cast<const SmmSiblings::ControlRecord *>(This)->Owner->Trigger(Command, Data);
  }
  static EFI_STATUS EFIAPI Clear(const EFI_SMM_CONTROL2_PROTOCOL *, BOOLEAN) { return EFI_SUCCESS; }
  static EFI_STATUS EFIAPI Communicate(const EFI_SMM_COMMUNICATION_PROTOCOL *This, VOID *Buffer, UINTN *Size) {
    return reinterpret_cast<const SmmSiblings::CommunicationRecord *>(This)->Owner->Communicate(Buffer, Size);
  }
};

SmmSiblings::SmmSiblings()
    : Control_{{SmmThunks::Trigger, SmmThunks::Clear, 0}, this}, Communication_{{SmmThunks::Communicate}, this} {}

EFI_STATUS SmmSiblings::Trigger(const uint8_t *Command, const uint8_t *Data) {
  std::lock_guard<std::mutex> Guard(Lock_);
  SoftwareSmi Smi;
  Smi.Command = Command != nullptr ? *Command : 0;
  Smi.HasData = Data != nullptr;
  Smi.Data = Data != nullptr ? *Data : 0;
  if (PhaseSource_) Smi.Phase = PhaseSource_();
  Smis_.push_back(Smi);
  return EFI_SUCCESS;
}

EFI_STATUS SmmSiblings::Communicate(const void *Buffer, const UINTN *Size) {
  if (Buffer == nullptr || Size == nullptr) return EFI_INVALID_PARAMETER;
  std::lock_guard<std::mutex> Guard(Lock_);
  const auto *Bytes = static_cast<const uint8_t *>(Buffer);
  Messages_.emplace_back(Bytes, Bytes + *Size);
  if (ReadMemory_ && Messages_.back().size() >= kS3HandoffBytes) {
    S3HandoffView View = ReadS3Handoff(Messages_.back(), ReadMemory_);
    if (View.IsS3Message) S3Handoffs_.push_back(std::move(View));
  }
  return EFI_SUCCESS;
}

void SmmSiblings::SetMemoryReader(MemoryReader Reader) {
  std::lock_guard<std::mutex> Guard(Lock_);
  ReadMemory_ = std::move(Reader);
}

std::vector<S3HandoffView> SmmSiblings::S3Handoffs() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return S3Handoffs_;
}

void SmmSiblings::SetPhaseSource(std::function<std::string()> Source) {
  std::lock_guard<std::mutex> Guard(Lock_);
  PhaseSource_ = std::move(Source);
}

std::vector<SoftwareSmi> SmmSiblings::Smis() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Smis_;
}

std::vector<std::vector<uint8_t>> SmmSiblings::Messages() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Messages_;
}

}  // namespace sim
