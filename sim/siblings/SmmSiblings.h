// The SMM side as DXE drivers see it: the SMM control protocol that raises software SMIs and the
// SMM communication protocol that hands a buffer to SMM. Both record what they were given, and the
// SMM side reads the S3 save table it is handed.
#ifndef SIM_SIBLINGS_SMM_SIBLINGS_H_
#define SIM_SIBLINGS_SMM_SIBLINGS_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "sim/siblings/S3SmmSide.h"
#include "uefi/SmmCommunication.h"
#include "uefi/SmmControl2.h"

namespace sim {

struct SoftwareSmi {
  uint8_t Command = 0;
  bool HasData = false;
  uint8_t Data = 0;
  // The boot phase during which it was raised, as the phase source named it.
  std::string Phase;
};

class SmmSiblings {
 public:
  SmmSiblings();
  SmmSiblings(const SmmSiblings &) = delete;
  SmmSiblings &operator=(const SmmSiblings &) = delete;

  EFI_SMM_CONTROL2_PROTOCOL *Control() { return &Control_.Protocol; }
  EFI_SMM_COMMUNICATION_PROTOCOL *Communication() { return &Communication_.Protocol; }

  std::vector<SoftwareSmi> Smis() const;
  // Names the boot phase that is running when an SMI is raised.
  void SetPhaseSource(std::function<std::string()> Source);
  // Each message as SMM received it: the bytes of the buffer, CommSize long.
  std::vector<std::vector<uint8_t>> Messages() const;
  // Lets the SMM side read simulated memory by address; S3 hand-offs are read while they arrive,
  // as the DXE copy of the table is freed right after.
  void SetMemoryReader(MemoryReader Reader);
  std::vector<S3HandoffView> S3Handoffs() const;

  // Used by the thunks.
  EFI_STATUS Trigger(const uint8_t *Command, const uint8_t *Data);
  EFI_STATUS Communicate(const void *Buffer, const UINTN *Size);

 private:
  struct ControlRecord {
    EFI_SMM_CONTROL2_PROTOCOL Protocol;
    SmmSiblings *Owner;
  };
  struct CommunicationRecord {
    EFI_SMM_COMMUNICATION_PROTOCOL Protocol;
    SmmSiblings *Owner;
  };
  friend struct SmmThunks;

  ControlRecord Control_;
  CommunicationRecord Communication_;
  mutable std::mutex Lock_;
  std::vector<SoftwareSmi> Smis_;
  std::function<std::string()> PhaseSource_;
  std::vector<std::vector<uint8_t>> Messages_;
  MemoryReader ReadMemory_;
  std::vector<S3HandoffView> S3Handoffs_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_SMM_SIBLINGS_H_
