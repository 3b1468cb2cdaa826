// A fake of the PI MP services for unit tests of driver code: it records every start with the
// processor it named, and runs the procedure on the calling thread as a stand-in for that
// processor. Processor 0 is the BSP, which StartupThisAP refuses with EFI_INVALID_PARAMETER, as PI MP
// services do.
#ifndef TESTS_SUPPORT_FAKE_MP_SERVICES_H_
#define TESTS_SUPPORT_FAKE_MP_SERVICES_H_

#include <cstdint>
#include <string>
#include <vector>

#include "uefi/MpServices.h"

namespace fake {

struct ApStart {
  std::string Call;  // "StartupAllAPs" or "StartupThisAP"
  EFI_AP_PROCEDURE Procedure = nullptr;
  UINTN Processor = 0;  // StartupThisAP only
  BOOLEAN SingleThread = 0;  // StartupAllAPs only
  const void *Argument = nullptr;
  // The 64-bit word the argument pointed at when the call was made (0 for a null argument).
  uint64_t ArgumentWord = 0;
  EFI_STATUS Status = 0;
};

class FakeMpServices {
 public:
  explicit FakeMpServices(UINTN Processors);
  FakeMpServices(const FakeMpServices &) = delete;
  FakeMpServices &operator=(const FakeMpServices &) = delete;

  EFI_MP_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }

  // What GetNumberOfProcessors reports; the machine itself has Processors processors.
  UINTN Reported;
  std::vector<ApStart> Starts;
  // The processor numbers StartupThisAP accepted, in order.
  std::vector<UINTN> Started() const;

  EFI_STATUS StartAll(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, void *Argument);
  EFI_STATUS StartOne(EFI_AP_PROCEDURE Procedure, UINTN Processor, void *Argument);

 private:
  struct Record {
    EFI_MP_SERVICES_PROTOCOL Protocol;
    FakeMpServices *Owner;
  };
  friend struct FakeMpThunks;
  Record Record_;
  UINTN Processors_;
};

// MP services in front of another that fail the start on every AP, or the single start of the
// processors listed, with the status given; everything else reaches the one behind.
struct FailingMp {
  EFI_MP_SERVICES_PROTOCOL Protocol;
  EFI_MP_SERVICES_PROTOCOL *Real;
  EFI_STATUS AllApsStatus = EFI_SUCCESS;
  std::vector<UINTN> FailingProcessors;
  EFI_STATUS ProcessorStatus = EFI_DEVICE_ERROR;

  explicit FailingMp(EFI_MP_SERVICES_PROTOCOL *Inner);
};

}  // namespace fake

#endif  // TESTS_SUPPORT_FAKE_MP_SERVICES_H_
