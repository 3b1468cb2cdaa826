// The PI MP services protocol over a simulated machine. AP procedures really run on host worker
// threads, each bound to the simulated processor it runs as; with SingleThread FALSE they run at
// the same time, with TRUE one after another in processor order. Only the blocking forms are
// offered: every start returns when its procedures have finished.
#ifndef SIM_CPU_MP_SERVICES_H_
#define SIM_CPU_MP_SERVICES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/cpu/WorkerPool.h"
#include "uefi/MpServices.h"

namespace sim {

// Set in GetProcessorInfo's processor number to ask for the extended location as well; the low
// 24 bits carry the number itself.
constexpr UINTN kExtendedTopologyRequest = 1ULL << 24;

// What MP services were asked to do, for reports.
struct MpServicesCounters {
  uint64_t GetNumberOfProcessorsCalls = 0;
  uint64_t GetProcessorInfoCalls = 0;
  uint64_t StartupAllAPsCalls = 0;
  uint64_t StartupThisAPCalls = 0;
  uint64_t WhoAmICalls = 0;
  // SwitchBSP and EnableDisableAP, which this platform does not offer.
  uint64_t OtherCalls = 0;
  // Calls of any operation that returned an error.
  uint64_t FailedCalls = 0;
  // Procedures that ran to their end, one per processor they ran on.
  uint64_t ProceduresRun = 0;
};

// Told of every start the BSP makes and every procedure an AP runs, for a boot's timeline.
class MpObserver {
 public:
  // On the BSP's thread, around a whole StartupAllAPs or StartupThisAP call.
  virtual void StartBegins(const char *Operation, EFI_AP_PROCEDURE Procedure) = 0;
  virtual void StartEnds() = 0;
  // On the thread of the AP that runs the procedure, around it, however it ends.
  virtual void ProcedureBegins(size_t Processor, EFI_AP_PROCEDURE Procedure) = 0;
  virtual void ProcedureEnds(size_t Processor) = 0;

 protected:
  ~MpObserver() = default;
};

class MpServices {
 public:
  static constexpr size_t kDefaultWorkerThreads = 4;

  explicit MpServices(ProcessorSet &Processors, size_t WorkerThreads = kDefaultWorkerThreads);
  ~MpServices();
  MpServices(const MpServices &) = delete;
  MpServices &operator=(const MpServices &) = delete;

  // The record to install; its functions find this object again from their This argument.
  EFI_MP_SERVICES_PROTOCOL *Protocol() { return &Record_.Protocol; }
  // The object behind a record made by Protocol(), or null for any other pointer.
  static MpServices *FromProtocol(EFI_MP_SERVICES_PROTOCOL *This);

  ProcessorSet &Processors() { return Processors_; }
  MpServicesCounters Counters() const;
  // Failures raised by the simulator inside AP procedures; each made its call return
  // EFI_DEVICE_ERROR.
  std::vector<std::string> Faults() const;
  // Asked at every well-formed start, before any procedure runs: a status it answers makes the
  // start fail with that status and run nothing.
  using StartFaultHook = std::function<std::optional<EFI_STATUS>()>;
  void SetStartFault(StartFaultHook Hook) { StartFault_ = std::move(Hook); }
  // None by default; the observer must outlive the starts it watches.
  void SetObserver(MpObserver *Observer) { Observer_ = Observer; }

  // The protocol's operations, with the results PI gives them. Only the BSP may call all but
  // WhoAmI; a call from any other thread returns EFI_DEVICE_ERROR.
  EFI_STATUS GetNumberOfProcessors(UINTN *NumberOfProcessors, UINTN *NumberOfEnabledProcessors);
  EFI_STATUS GetProcessorInfo(UINTN ProcessorNumber, EFI_PROCESSOR_INFORMATION *ProcessorInfoBuffer);
  EFI_STATUS StartupAllAPs(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, EFI_EVENT WaitEvent,
                           UINTN TimeoutInMicroSeconds, VOID *ProcedureArgument, UINTN **FailedCpuList);
  EFI_STATUS StartupThisAP(EFI_AP_PROCEDURE Procedure, UINTN ProcessorNumber, EFI_EVENT WaitEvent,
                           UINTN TimeoutInMicroseconds, VOID *ProcedureArgument, BOOLEAN *Finished);
  EFI_STATUS SwitchBSP(UINTN ProcessorNumber, BOOLEAN EnableOldBSP);
  EFI_STATUS EnableDisableAP(UINTN ProcessorNumber, BOOLEAN EnableAP, UINT32 *HealthFlag);
  EFI_STATUS WhoAmI(UINTN *ProcessorNumber);

 private:
  // The protocol record first, so that the This pointer a caller hands back leads to the owner.
  struct Record {
    EFI_MP_SERVICES_PROTOCOL Protocol;
    uint64_t Signature;
    MpServices *Owner;
  };

  struct AtomicCounters {
    std::atomic<uint64_t> GetNumberOfProcessorsCalls{0};
    std::atomic<uint64_t> GetProcessorInfoCalls{0};
    std::atomic<uint64_t> StartupAllAPsCalls{0};
    std::atomic<uint64_t> StartupThisAPCalls{0};
    std::atomic<uint64_t> WhoAmICalls{0};
    std::atomic<uint64_t> OtherCalls{0};
    std::atomic<uint64_t> FailedCalls{0};
    std::atomic<uint64_t> ProceduresRun{0};
  };

  bool CallerIsBsp() const;
  EFI_STATUS Finish(std::atomic<uint64_t> &Calls, EFI_STATUS Status);
  // Runs Procedure on each listed processor and returns when all are done. Failures raised by the
  // simulator become EFI_DEVICE_ERROR and a fault.
  EFI_STATUS Run(const std::vector<size_t> &Targets, bool Concurrently, EFI_AP_PROCEDURE Procedure,
                 VOID *ProcedureArgument);
  EFI_STATUS RecordFault(const std::string &What);
  WorkerPool::Job JobFor(size_t Target, EFI_AP_PROCEDURE Procedure, VOID *ProcedureArgument);

  Record Record_;
  ProcessorSet &Processors_;
  std::vector<EFI_PROCESSOR_INFORMATION> Information_;
  AtomicCounters Counters_;
  // Held while procedures run: a second start from the BSP's thread finds the APs busy.
  std::mutex Busy_;
  mutable std::mutex FaultsLock_;
  std::vector<std::string> Faults_;
  std::unique_ptr<WorkerPool> Workers_;
  StartFaultHook StartFault_;
  MpObserver *Observer_ = nullptr;
};

}  // namespace sim

#endif  // SIM_CPU_MP_SERVICES_H_
