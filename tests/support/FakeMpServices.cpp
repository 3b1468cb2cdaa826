#include "tests/support/FakeMpServices.h"

#include <algorithm>

namespace fake {

struct FakeMpThunks {
  static FakeMpServices &Owner(EFI_MP_SERVICES_PROTOCOL *This) {
    return *reinterpret_cast<FakeMpServices::Record *>(This)->Owner;
  }
  static EFI_STATUS EFIAPI GetNumberOfProcessors(EFI_MP_SERVICES_PROTOCOL *This, UINTN *Number, UINTN *Enabled) {
    *Number = Owner(This).Reported;
    *Enabled = Owner(This).Reported;
    return EFI_SUCCESS;
  }
  static EFI_STATUS EFIAPI StartupAllAPs(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure,
                                         BOOLEAN SingleThread, EFI_EVENT, UINTN, VOID *Argument, UINTN **) {
    return Owner(This).StartAll(Procedure, SingleThread, Argument);
  }
  static EFI_STATUS EFIAPI StartupThisAP(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure, UINTN Processor,
                                         EFI_EVENT, UINTN, VOID *Argument, BOOLEAN *) {
    return Owner(This).StartOne(Procedure, Processor, Argument);
  }
};

FakeMpServices::FakeMpServices(UINTN Processors)
    : Reported(Processors), Record_{{}, this}, Processors_(Processors) {
  Record_.Protocol.GetNumberOfProcessors = FakeMpThunks::GetNumberOfProcessors;
  Record_.Protocol.StartupAllAPs = FakeMpThunks::StartupAllAPs;
  Record_.Protocol.StartupThisAP = FakeMpThunks::StartupThisAP;
}

std::vector<UINTN> FakeMpServices::Started() const {
  std::vector<UINTN> Numbers;
  for (const ApStart &Start : Starts) {
    if (Start.Call == "StartupThisAP" && Start.Status == EFI_SUCCESS) Numbers.push_back(Start.Processor);
  }
  return Numbers;
}

EFI_STATUS FakeMpServices::StartAll(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, void *Argument) {
  ApStart Start{"StartupAllAPs", Procedure, 0, SingleThread, Argument};
  if (Argument != nullptr) Start.ArgumentWord = *static_cast<const uint64_t *>(Argument);
  Start.Status = Processors_ < 2 ? EFI_NOT_STARTED : EFI_SUCCESS;
  Starts.push_back(Start);
  if (Start.Status == EFI_SUCCESS) {
    for (UINTN Ap = 1; Ap < Processors_; Ap++) Procedure(Argument);
  }
  return Start.Status;
}

EFI_STATUS FakeMpServices::StartOne(EFI_AP_PROCEDURE Procedure, UINTN Processor, void *Argument) {
  ApStart Start{"StartupThisAP", Procedure, Processor, 0, Argument};
  if (Argument != nullptr) Start.ArgumentWord = *static_cast<const uint64_t *>(Argument);
  Start.Status = Processor >= Processors_ ? EFI_NOT_FOUND : Processor == 0 ? EFI_INVALID_PARAMETER : EFI_SUCCESS;
  Starts.push_back(Start);
  if (Start.Status == EFI_SUCCESS) Procedure(Argument);
  return Start.Status;
}

namespace {

FailingMp &Self(EFI_MP_SERVICES_PROTOCOL *This) { return *reinterpret_cast<FailingMp *>(This); }

EFI_STATUS EFIAPI FailingAllAps(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread,
                                EFI_EVENT WaitEvent, UINTN Timeout, VOID *Argument, UINTN **Failed) {
  if (EFI_ERROR(Self(This).AllApsStatus)) return Self(This).AllApsStatus;
  return Self(This).Real->StartupAllAPs(Self(This).Real, Procedure, SingleThread, WaitEvent, Timeout, Argument,
                                        Failed);
}

EFI_STATUS EFIAPI FailingThisAp(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure, UINTN Processor,
                                EFI_EVENT WaitEvent, UINTN Timeout, VOID *Argument, BOOLEAN *Finished) {
  const std::vector<UINTN> &Failing = Self(This).FailingProcessors;
  if (std::find(Failing.begin(), Failing.end(), Processor) != Failing.end()) return Self(This).ProcessorStatus;
  return Self(This).Real->StartupThisAP(Self(This).Real, Procedure, Processor, WaitEvent, Timeout, Argument, Finished);
}

}  // namespace

FailingMp::FailingMp(EFI_MP_SERVICES_PROTOCOL *Inner) : Protocol(*Inner), Real(Inner) {
  Protocol.StartupAllAPs = FailingAllAps;
  Protocol.StartupThisAP = FailingThisAp;
}

}  // namespace fake
