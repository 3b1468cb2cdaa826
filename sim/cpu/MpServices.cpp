#include "sim/cpu/MpServices.h"

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <type_traits>

#include "sim/cpu/CurrentProcessor.h"

namespace sim {
namespace {

// Marks records made by this class, so that a This pointer of another protocol is refused.
constexpr uint64_t kRecordSignature = 0x5653524550534D53ULL;  // "SMSPERSV"

// Finds the instance behind This and makes the call; nothing thrown inside may cross back into
// the caller's EFIAPI frames, so an unexpected failure becomes a device error.
template <typename Call>
EFI_STATUS Dispatch(EFI_MP_SERVICES_PROTOCOL *This, Call &&Operation) {
  MpServices *Self = MpServices::FromProtocol(This);
  if (Self == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  try {
    return Operation(*Self);
  } catch (...) {
    return EFI_DEVICE_ERROR;
  }
}

EFI_STATUS EFIAPI ThunkGetNumberOfProcessors(EFI_MP_SERVICES_PROTOCOL *This, UINTN *NumberOfProcessors,
                                             UINTN *NumberOfEnabledProcessors) {
  return Dispatch(This, [&](MpServices &Self) {
    return Self.GetNumberOfProcessors(NumberOfProcessors, NumberOfEnabledProcessors);
  });
}

EFI_STATUS EFIAPI ThunkGetProcessorInfo(EFI_MP_SERVICES_PROTOCOL *This, UINTN ProcessorNumber,
                                        EFI_PROCESSOR_INFORMATION *ProcessorInfoBuffer) {
  return Dispatch(This, [&](MpServices &Self) { return Self.GetProcessorInfo(ProcessorNumber, ProcessorInfoBuffer); });
}

EFI_STATUS EFIAPI ThunkStartupAllAPs(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread,
                                     EFI_EVENT WaitEvent, UINTN TimeoutInMicroSeconds, VOID *ProcedureArgument,
                                     UINTN **FailedCpuList) {
  return Dispatch(This, [&](MpServices &Self) {
    return Self.StartupAllAPs(Procedure, SingleThread, WaitEvent, TimeoutInMicroSeconds, ProcedureArgument,
                              FailedCpuList);
  });
}

EFI_STATUS EFIAPI ThunkStartupThisAP(EFI_MP_SERVICES_PROTOCOL *This, EFI_AP_PROCEDURE Procedure, UINTN ProcessorNumber,
                                     EFI_EVENT WaitEvent, UINTN TimeoutInMicroseconds, VOID *ProcedureArgument,
                                     BOOLEAN *Finished) {
  return Dispatch(This, [&](MpServices &Self) {
    return Self.StartupThisAP(Procedure, ProcessorNumber, WaitEvent, TimeoutInMicroseconds, ProcedureArgument,
                              Finished);
  });
}

EFI_STATUS EFIAPI ThunkSwitchBSP(EFI_MP_SERVICES_PROTOCOL *This, UINTN ProcessorNumber, BOOLEAN EnableOldBSP) {
  return Dispatch(This, [&](MpServices &Self) { return Self.SwitchBSP(ProcessorNumber, EnableOldBSP); });
}

EFI_STATUS EFIAPI ThunkEnableDisableAP(EFI_MP_SERVICES_PROTOCOL *This, UINTN ProcessorNumber, BOOLEAN EnableAP,
                                       UINT32 *HealthFlag) {
  return Dispatch(This, [&](MpServices &Self) { return Self.EnableDisableAP(ProcessorNumber, EnableAP, HealthFlag); });
}

EFI_STATUS EFIAPI ThunkWhoAmI(EFI_MP_SERVICES_PROTOCOL *This, UINTN *ProcessorNumber) {
  return Dispatch(This, [&](MpServices &Self) { return Self.WhoAmI(ProcessorNumber); });
}

constexpr EFI_MP_SERVICES_PROTOCOL kProtocolTemplate = {
    .GetNumberOfProcessors = ThunkGetNumberOfProcessors,
    .GetProcessorInfo = ThunkGetProcessorInfo,
    .StartupAllAPs = ThunkStartupAllAPs,
    .StartupThisAP = ThunkStartupThisAP,
    .SwitchBSP = ThunkSwitchBSP,
    .EnableDisableAP = ThunkEnableDisableAP,
    .WhoAmI = ThunkWhoAmI,
};

// Tells the observer, when there is one, that a start begins, and that it ended however it ends.
class ObservedStart {
 public:
  ObservedStart(MpObserver *Observer, const char *Operation, EFI_AP_PROCEDURE Procedure) : Observer_(Observer) {
    if (Observer_ != nullptr) Observer_->StartBegins(Operation, Procedure);
  }
  ~ObservedStart() {
    if (Observer_ != nullptr) Observer_->StartEnds();
  }
  ObservedStart(const ObservedStart &) = delete;
  ObservedStart &operator=(const ObservedStart &) = delete;

 private:
  MpObserver *Observer_;
};

// The same around one procedure on its AP's thread.
class ObservedProcedure {
 public:
  ObservedProcedure(MpObserver *Observer, size_t Processor, EFI_AP_PROCEDURE Procedure)
      : Observer_(Observer), Processor_(Processor) {
    if (Observer_ != nullptr) Observer_->ProcedureBegins(Processor_, Procedure);
  }
  ~ObservedProcedure() {
    if (Observer_ != nullptr) Observer_->ProcedureEnds(Processor_);
  }
  ObservedProcedure(const ObservedProcedure &) = delete;
  ObservedProcedure &operator=(const ObservedProcedure &) = delete;

 private:
  MpObserver *Observer_;
  size_t Processor_;
};

// The answers of GetProcessorInfo, fixed when the machine is built. The package-level core number
// counts the cores of the socket in walk order, so it is dense even where complexes are uneven.
std::vector<EFI_PROCESSOR_INFORMATION> DescribeProcessors(const ProcessorSet &Processors) {
  std::vector<EFI_PROCESSOR_INFORMATION> Described(Processors.Count());
  uint32_t CoreInPackage = 0;
  for (size_t Index = 0; Index < Processors.Count(); ++Index) {
    const Processor &Each = Processors.At(Index);
    const TopologyPosition &Where = Each.Position();
    if (Index > 0) {
      const TopologyPosition &Before = Processors.At(Index - 1).Position();
      if (Where.Socket != Before.Socket) {
        CoreInPackage = 0;
      } else if (Where.Thread == 0) {
        ++CoreInPackage;
      }
    }
    EFI_PROCESSOR_INFORMATION &Info = Described[Index];
    Info.ProcessorId = Each.ApicId();
    Info.StatusFlag = PROCESSOR_ENABLED_BIT | PROCESSOR_HEALTH_STATUS_BIT | (Each.IsBsp() ? PROCESSOR_AS_BSP_BIT : 0);
    Info.Location = EFI_CPU_PHYSICAL_LOCATION{.Package = Where.Socket, .Core = CoreInPackage, .Thread = Where.Thread};
    Info.ExtendedInformation.Location2 = EFI_CPU_PHYSICAL_LOCATION2{.Package = Where.Socket,
                                                                    .Die = Where.Die,
                                                                    .Tile = Where.ComplexDie,
                                                                    .Module = Where.Complex,
                                                                    .Core = Where.Core,
                                                                    .Thread = Where.Thread};
  }
  return Described;
}

}  // namespace

MpServices::MpServices(ProcessorSet &Processors, size_t WorkerThreads)
    : Record_{kProtocolTemplate, kRecordSignature, this},
      Processors_(Processors),
      Information_(DescribeProcessors(Processors)),
      Workers_(WorkerPool::Take(WorkerThreads)) {
  static_assert(std::is_standard_layout_v<Record> && offsetof(Record, Protocol) == 0,
                "the protocol record must start its owner's record");
}

// Every start has returned by now: the pool is idle.
MpServices::~MpServices() { WorkerPool::GiveBack(std::move(Workers_)); }

MpServices *MpServices::FromProtocol(EFI_MP_SERVICES_PROTOCOL *This) {
  if (This == nullptr) {
    return nullptr;
  }
  Record *Candidate = reinterpret_cast<Record *>(This);
  return Candidate->Signature == kRecordSignature ? Candidate->Owner : nullptr;
}

MpServicesCounters MpServices::Counters() const {
  return MpServicesCounters{
      .GetNumberOfProcessorsCalls = Counters_.GetNumberOfProcessorsCalls.load(),
      .GetProcessorInfoCalls = Counters_.GetProcessorInfoCalls.load(),
      .StartupAllAPsCalls = Counters_.StartupAllAPsCalls.load(),
      .StartupThisAPCalls = Counters_.StartupThisAPCalls.load(),
      .WhoAmICalls = Counters_.WhoAmICalls.load(),
      .OtherCalls = Counters_.OtherCalls.load(),
      .FailedCalls = Counters_.FailedCalls.load(),
      .ProceduresRun = Counters_.ProceduresRun.load(),
  };
}

std::vector<std::string> MpServices::Faults() const {
  std::lock_guard Guard(FaultsLock_);
  return Faults_;
}

bool MpServices::CallerIsBsp() const { return CurrentProcessor() == &Processors_.Bsp(); }

EFI_STATUS MpServices::Finish(std::atomic<uint64_t> &Calls, EFI_STATUS Status) {
  ++Calls;
  if (EFI_ERROR(Status)) {
    ++Counters_.FailedCalls;
  }
  return Status;
}

EFI_STATUS MpServices::GetNumberOfProcessors(UINTN *NumberOfProcessors, UINTN *NumberOfEnabledProcessors) {
  auto &Calls = Counters_.GetNumberOfProcessorsCalls;
  if (!CallerIsBsp()) {
    return Finish(Calls, EFI_DEVICE_ERROR);
  }
  if (NumberOfProcessors == nullptr || NumberOfEnabledProcessors == nullptr) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  // Every processor of the machine is enabled: processors cannot be switched off here.
  *NumberOfProcessors = Processors_.Count();
  *NumberOfEnabledProcessors = Processors_.Count();
  return Finish(Calls, EFI_SUCCESS);
}

EFI_STATUS MpServices::GetProcessorInfo(UINTN ProcessorNumber, EFI_PROCESSOR_INFORMATION *ProcessorInfoBuffer) {
  auto &Calls = Counters_.GetProcessorInfoCalls;
  if (!CallerIsBsp()) {
    return Finish(Calls, EFI_DEVICE_ERROR);
  }
  if (ProcessorInfoBuffer == nullptr) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  const bool Extended = (ProcessorNumber & kExtendedTopologyRequest) != 0;
  const UINTN Number = ProcessorNumber & ~kExtendedTopologyRequest;
  if (Number >= Information_.size()) {
    return Finish(Calls, EFI_NOT_FOUND);
  }
  // A caller that did not ask for the extended location may have a buffer that ends before it.
  const size_t Length =
      Extended ? sizeof(EFI_PROCESSOR_INFORMATION) : offsetof(EFI_PROCESSOR_INFORMATION, ExtendedInformation);
  std::memcpy(ProcessorInfoBuffer, &Information_[Number], Length);
  return Finish(Calls, EFI_SUCCESS);
}

EFI_STATUS MpServices::StartupAllAPs(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, EFI_EVENT WaitEvent,
                                     UINTN TimeoutInMicroSeconds, VOID *ProcedureArgument, UINTN **FailedCpuList) {
  auto &Calls = Counters_.StartupAllAPsCalls;
  if (!CallerIsBsp()) {
    return Finish(Calls, EFI_DEVICE_ERROR);
  }
  const ObservedStart Observed(Observer_, "StartupAllAPs", Procedure);
  // No AP can fail here, since a procedure always runs to its end; the list is never filled.
  if (FailedCpuList != nullptr) {
    *FailedCpuList = nullptr;
  }
  if (Procedure == nullptr) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  if (WaitEvent != nullptr) {
    return Finish(Calls, EFI_UNSUPPORTED);
  }
  if (Processors_.Count() < 2) {
    return Finish(Calls, EFI_NOT_STARTED);
  }
  if (auto Injected = StartFault_ ? StartFault_() : std::nullopt) {
    return Finish(Calls, *Injected);
  }
  std::unique_lock Busy(Busy_, std::try_to_lock);
  if (!Busy.owns_lock()) {
    return Finish(Calls, EFI_NOT_READY);
  }
  // The time-out is not enforced: simulated procedures cannot be stopped half-way, and every
  // caller of this platform waits for them to finish anyway.
  (void)TimeoutInMicroSeconds;
  std::vector<size_t> Aps;
  for (size_t Index = 1; Index < Processors_.Count(); ++Index) {
    Aps.push_back(Index);
  }
  return Finish(Calls, Run(Aps, SingleThread == FALSE, Procedure, ProcedureArgument));
}

EFI_STATUS MpServices::StartupThisAP(EFI_AP_PROCEDURE Procedure, UINTN ProcessorNumber, EFI_EVENT WaitEvent,
                                     UINTN TimeoutInMicroseconds, VOID *ProcedureArgument, BOOLEAN *Finished) {
  auto &Calls = Counters_.StartupThisAPCalls;
  if (!CallerIsBsp()) {
    return Finish(Calls, EFI_DEVICE_ERROR);
  }
  const ObservedStart Observed(Observer_, "StartupThisAP", Procedure);
  if (Procedure == nullptr) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  if (ProcessorNumber >= Processors_.Count()) {
    return Finish(Calls, EFI_NOT_FOUND);
  }
  if (ProcessorNumber == Processors_.Bsp().Index()) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  if (WaitEvent != nullptr) {
    return Finish(Calls, EFI_UNSUPPORTED);
  }
  if (auto Injected = StartFault_ ? StartFault_() : std::nullopt) {
    return Finish(Calls, *Injected);
  }
  std::unique_lock Busy(Busy_, std::try_to_lock);
  if (!Busy.owns_lock()) {
    return Finish(Calls, EFI_NOT_READY);
  }
  // Finished belongs to the non-blocking form and is left alone; the time-out is not enforced,
  // as for StartupAllAPs.
  (void)TimeoutInMicroseconds;
  (void)Finished;
  return Finish(Calls, Run({static_cast<size_t>(ProcessorNumber)}, false, Procedure, ProcedureArgument));
}

EFI_STATUS MpServices::SwitchBSP(UINTN, BOOLEAN) { return Finish(Counters_.OtherCalls, EFI_UNSUPPORTED); }

EFI_STATUS MpServices::EnableDisableAP(UINTN, BOOLEAN, UINT32 *) {
  return Finish(Counters_.OtherCalls, EFI_UNSUPPORTED);
}

EFI_STATUS MpServices::WhoAmI(UINTN *ProcessorNumber) {
  auto &Calls = Counters_.WhoAmICalls;
  if (ProcessorNumber == nullptr) {
    return Finish(Calls, EFI_INVALID_PARAMETER);
  }
  const Processor *Caller = CurrentProcessor();
  // A host thread that runs as none of this machine's processors has no number to give.
  if (!Processors_.Contains(Caller)) {
    return Finish(Calls, EFI_DEVICE_ERROR);
  }
  *ProcessorNumber = Caller->Index();
  return Finish(Calls, EFI_SUCCESS);
}

EFI_STATUS MpServices::RecordFault(const std::string &What) {
  // The fault is kept for the report and told at once, since a bare device error is hard to
  // trace back to the simulator.
  std::fprintf(stderr, "ccxsim: MP services: %s\n", What.c_str());
  std::lock_guard Guard(FaultsLock_);
  Faults_.push_back(What);
  return EFI_DEVICE_ERROR;
}

WorkerPool::Job MpServices::JobFor(size_t Target, EFI_AP_PROCEDURE Procedure, VOID *ProcedureArgument) {
  return [this, Target, Procedure, ProcedureArgument] {
    Processor &Ap = Processors_.At(Target);
    try {
      ProcessorBinding RunningAs(Ap);
      const ObservedProcedure Observed(Observer_, Target, Procedure);
      Procedure(ProcedureArgument);
    } catch (const std::exception &Failure) {
      throw std::runtime_error("procedure on processor " + std::to_string(Target) + " failed: " + Failure.what());
    }
    Ap.CountProcedureRun();
    ++Counters_.ProceduresRun;
  };
}

EFI_STATUS MpServices::Run(const std::vector<size_t> &Targets, bool Concurrently, EFI_AP_PROCEDURE Procedure,
                           VOID *ProcedureArgument) {
  try {
    if (Concurrently) {
      std::vector<WorkerPool::Job> Jobs;
      for (size_t Target : Targets) {
        Jobs.push_back(JobFor(Target, Procedure, ProcedureArgument));
      }
      Workers_->Run(std::move(Jobs));
    } else {
      // One at a time, each on a worker as a real AP would be, in processor order.
      for (size_t Target : Targets) {
        Workers_->Run({JobFor(Target, Procedure, ProcedureArgument)});
      }
    }
  } catch (const std::exception &Failure) {
    return RecordFault(Failure.what());
  } catch (...) {
    return RecordFault("an AP procedure raised an unknown failure");
  }
  return EFI_SUCCESS;
}

}  // namespace sim
