#include "sim/cpu/MpServices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "sim/cpu/CurrentProcessor.h"

namespace sim {
namespace {

constexpr uint32_t kScratchMsr = 0xC0011000;

VOID EFIAPI DoNothing(VOID *) {}

// Each processor leaves its own number in its scratch MSR.
VOID EFIAPI WriteOwnNumber(VOID *) {
  Processor &Me = RequireCurrentProcessor();
  Me.WriteMsr(kScratchMsr, 0x100 + Me.Index());
}

VOID EFIAPI FailInsideTheSimulator(VOID *) { throw std::runtime_error("simulated hook failure"); }

class MpServicesTest : public testing::Test {
 protected:
  void Build(const Topology &Machine) {
    Bsp_.reset();
    Mp_.reset();
    Processors_ = std::make_unique<ProcessorSet>(Machine);
    Mp_ = std::make_unique<MpServices>(*Processors_);
    Bsp_.emplace(Processors_->Bsp());
  }
  void Build(const UniformTopology &Counts) { Build(Topology(Counts)); }

  EFI_MP_SERVICES_PROTOCOL *Mp() { return Mp_->Protocol(); }
  EFI_STATUS StartAll(EFI_AP_PROCEDURE Procedure, BOOLEAN SingleThread, VOID *Argument = nullptr) {
    return Mp()->StartupAllAPs(Mp(), Procedure, SingleThread, nullptr, 0, Argument, nullptr);
  }
  EFI_STATUS StartOne(EFI_AP_PROCEDURE Procedure, UINTN Number, VOID *Argument = nullptr) {
    return Mp()->StartupThisAP(Mp(), Procedure, Number, nullptr, 0, Argument, nullptr);
  }

  std::unique_ptr<ProcessorSet> Processors_;
  std::unique_ptr<MpServices> Mp_;
  std::optional<ProcessorBinding> Bsp_;
};

struct Rendezvous {
  std::mutex Lock;
  std::condition_variable Changed;
  int Arrived = 0;
  int Expected = 0;
  int Met = 0;
};

// Waits until every expected procedure has arrived. The limit is generous and only keeps a run
// that serialises the procedures from hanging: such a run ends with Met short of Expected.
VOID EFIAPI MeetAtBarrier(VOID *Argument) {
  auto &Meeting = *static_cast<Rendezvous *>(Argument);
  std::unique_lock Guard(Meeting.Lock);
  ++Meeting.Arrived;
  Meeting.Changed.notify_all();
  if (Meeting.Changed.wait_for(Guard, std::chrono::seconds(30), [&] { return Meeting.Arrived >= Meeting.Expected; })) {
    ++Meeting.Met;
  }
}

TEST_F(MpServicesTest, ProceduresRunConcurrentlyWhenNotSingleThread) {
  Build(UniformTopology{.CoresPerComplex = 3});
  Rendezvous Meeting;
  Meeting.Expected = 2;

  EXPECT_EQ(StartAll(MeetAtBarrier, FALSE, &Meeting), EFI_SUCCESS);
  EXPECT_EQ(Meeting.Met, 2);
}

struct RunLog {
  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  std::mutex Lock;
  std::vector<UINTN> Order;
  int Running = 0;
  int MostRunning = 0;
};

VOID EFIAPI LogWhoRuns(VOID *Argument) {
  auto &Log = *static_cast<RunLog *>(Argument);
  UINTN Me = ~0ULL;
  EFI_STATUS Status = Log.Mp->WhoAmI(Log.Mp, &Me);
  {
    std::lock_guard Guard(Log.Lock);
    Log.Order.push_back(Status == EFI_SUCCESS ? Me : ~0ULL);
    Log.MostRunning = std::max(Log.MostRunning, ++Log.Running);
  }
  // Stay a moment, so that a procedure started alongside this one would be seen running.
  std::this_thread::sleep_for(std::chrono::milliseconds(2));
  std::lock_guard Guard(Log.Lock);
  --Log.Running;
}

TEST_F(MpServicesTest, SingleThreadRunsApsOneAfterAnotherInProcessorOrder) {
  Build(UniformTopology{.CoresPerComplex = 3, .ThreadsPerCore = 2});
  RunLog Log;
  Log.Mp = Mp();

  EXPECT_EQ(StartAll(LogWhoRuns, TRUE, &Log), EFI_SUCCESS);
  EXPECT_EQ(Log.Order, (std::vector<UINTN>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Log.MostRunning, 1);
}

TEST_F(MpServicesTest, EveryApRunsTheProcedureOnceOnItsOwnProcessor) {
  Build(UniformTopology{.Sockets = 2, .ComplexDiesPerDie = 4, .CoresPerComplex = 8, .ThreadsPerCore = 2});

  ASSERT_EQ(StartAll(WriteOwnNumber, FALSE), EFI_SUCCESS);
  EXPECT_FALSE(Processors_->Bsp().PeekMsr(kScratchMsr).has_value());
  EXPECT_EQ(Processors_->Bsp().ProceduresRun(), 0u);
  for (size_t Index = 1; Index < Processors_->Count(); ++Index) {
    const Processor &Ap = Processors_->At(Index);
    EXPECT_EQ(Ap.PeekMsr(kScratchMsr), 0x100 + Index);
    EXPECT_EQ(Ap.MsrWrites().size(), 1u);
    EXPECT_EQ(Ap.ProceduresRun(), 1u);
  }
  EXPECT_EQ(Mp_->Counters().ProceduresRun, Processors_->Count() - 1);
}

TEST_F(MpServicesTest, StartupThisApWritesOnlyThatProcessorsMsr) {
  Build(UniformTopology{.CoresPerComplex = 5});

  ASSERT_EQ(StartOne(WriteOwnNumber, 3), EFI_SUCCESS);
  for (size_t Index = 0; Index < Processors_->Count(); ++Index) {
    EXPECT_EQ(Processors_->At(Index).PeekMsr(kScratchMsr).has_value(), Index == 3) << "processor " << Index;
  }
}

struct StartupThisApCase {
  const char *Name;
  UINTN Number;
  EFI_AP_PROCEDURE Procedure;
  EFI_EVENT WaitEvent;
  EFI_STATUS Status;
};

class MpServicesStartupThisApTest : public MpServicesTest, public testing::WithParamInterface<StartupThisApCase> {};

TEST_P(MpServicesStartupThisApTest, ReturnsThePiStatus) {
  Build(UniformTopology{.CoresPerComplex = 4});
  const StartupThisApCase &Case = GetParam();
  EXPECT_EQ(Mp()->StartupThisAP(Mp(), Case.Procedure, Case.Number, Case.WaitEvent, 0, nullptr, nullptr), Case.Status);
  const uint64_t Ran = Case.Status == EFI_SUCCESS ? 1 : 0;
  EXPECT_EQ(Mp_->Counters().ProceduresRun, Ran);
}

int gSomeEvent;

INSTANTIATE_TEST_SUITE_P(
    Numbers, MpServicesStartupThisApTest,
    testing::Values(StartupThisApCase{"LastAp", 3, DoNothing, nullptr, EFI_SUCCESS},
                    StartupThisApCase{"BspRefused", 0, DoNothing, nullptr, EFI_INVALID_PARAMETER},
                    StartupThisApCase{"OneBeyondTheCount", 4, DoNothing, nullptr, EFI_NOT_FOUND},
                    StartupThisApCase{"FarBeyondTheCount", 1ULL << 40, DoNothing, nullptr, EFI_NOT_FOUND},
                    StartupThisApCase{"NoProcedure", 1, nullptr, nullptr, EFI_INVALID_PARAMETER},
                    StartupThisApCase{"NonBlockingForm", 1, DoNothing, &gSomeEvent, EFI_UNSUPPORTED}),
    [](const auto &Info) { return std::string(Info.param.Name); });

TEST_F(MpServicesTest, StartupAllApsWithoutApsIsNotStartedAndClearsTheFailedList) {
  Build(UniformTopology{});
  UINTN Sentinel = 0;
  UINTN *FailedCpuList = &Sentinel;

  EXPECT_EQ(Mp()->StartupAllAPs(Mp(), DoNothing, FALSE, nullptr, 0, nullptr, &FailedCpuList), EFI_NOT_STARTED);
  EXPECT_EQ(FailedCpuList, nullptr);
}

TEST_F(MpServicesTest, StartupAllApsClearsTheFailedListAfterSuccess) {
  Build(UniformTopology{.CoresPerComplex = 2});
  UINTN Sentinel = 0;
  UINTN *FailedCpuList = &Sentinel;

  EXPECT_EQ(Mp()->StartupAllAPs(Mp(), DoNothing, TRUE, nullptr, 0, nullptr, &FailedCpuList), EFI_SUCCESS);
  EXPECT_EQ(FailedCpuList, nullptr);
  EXPECT_EQ(Mp()->StartupAllAPs(Mp(), nullptr, TRUE, nullptr, 0, nullptr, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Mp()->StartupAllAPs(Mp(), DoNothing, TRUE, &gSomeEvent, 0, nullptr, nullptr), EFI_UNSUPPORTED);
}

struct CallsFromAp {
  EFI_MP_SERVICES_PROTOCOL *Mp = nullptr;
  EFI_STATUS AllAps = EFI_SUCCESS;
  EFI_STATUS ThisAp = EFI_SUCCESS;
  EFI_STATUS Count = EFI_SUCCESS;
  EFI_STATUS Info = EFI_SUCCESS;
  EFI_STATUS Who = EFI_ABORTED;
  UINTN WhoNumber = 0;
};

VOID EFIAPI CallBackIntoMpServices(VOID *Argument) {
  auto &Calls = *static_cast<CallsFromAp *>(Argument);
  EFI_MP_SERVICES_PROTOCOL *Mp = Calls.Mp;
  UINTN Number = 0;
  UINTN Enabled = 0;
  EFI_PROCESSOR_INFORMATION Info{};
  Calls.AllAps = Mp->StartupAllAPs(Mp, DoNothing, TRUE, nullptr, 0, nullptr, nullptr);
  Calls.ThisAp = Mp->StartupThisAP(Mp, DoNothing, 1, nullptr, 0, nullptr, nullptr);
  Calls.Count = Mp->GetNumberOfProcessors(Mp, &Number, &Enabled);
  Calls.Info = Mp->GetProcessorInfo(Mp, 1, &Info);
  Calls.Who = Mp->WhoAmI(Mp, &Calls.WhoNumber);
}

TEST_F(MpServicesTest, CallsFromAnApAreRefusedButWhoAmIAnswers) {
  Build(UniformTopology{.CoresPerComplex = 4});
  CallsFromAp Calls;
  Calls.Mp = Mp();

  ASSERT_EQ(StartOne(CallBackIntoMpServices, 2, &Calls), EFI_SUCCESS);
  EXPECT_EQ(Calls.AllAps, EFI_DEVICE_ERROR);
  EXPECT_EQ(Calls.ThisAp, EFI_DEVICE_ERROR);
  EXPECT_EQ(Calls.Count, EFI_DEVICE_ERROR);
  EXPECT_EQ(Calls.Info, EFI_DEVICE_ERROR);
  EXPECT_EQ(Calls.Who, EFI_SUCCESS);
  EXPECT_EQ(Calls.WhoNumber, 2u);
}

TEST_F(MpServicesTest, ThreadBoundToNoProcessorIsNotTheBsp) {
  Build(UniformTopology{.CoresPerComplex = 2});
  EFI_STATUS Count = EFI_SUCCESS;
  EFI_STATUS Who = EFI_SUCCESS;
  std::thread Outsider([&] {
    UINTN Number = 0;
    UINTN Enabled = 0;
    Count = Mp()->GetNumberOfProcessors(Mp(), &Number, &Enabled);
    Who = Mp()->WhoAmI(Mp(), &Number);
  });
  Outsider.join();
  EXPECT_EQ(Count, EFI_DEVICE_ERROR);
  EXPECT_EQ(Who, EFI_DEVICE_ERROR);
}

TEST_F(MpServicesTest, ProcessorInfoDescribesThePositionAndExtendsOnlyOnRequest) {
  Topology Machine(UniformTopology{.Sockets = 2, .ComplexDiesPerDie = 2, .CoresPerComplex = 2, .ThreadsPerCore = 2});
  Machine.SetCores(1, 0, 1, 0, 1);
  Build(Machine);
  UINTN Number = 0;
  UINTN Enabled = 0;
  ASSERT_EQ(Mp()->GetNumberOfProcessors(Mp(), &Number, &Enabled), EFI_SUCCESS);
  EXPECT_EQ(Number, 14u);
  EXPECT_EQ(Enabled, 14u);

  // Processor 13 is thread 1 of the third core of socket 1, in complex die 1.
  EFI_PROCESSOR_INFORMATION Info;
  std::memset(&Info, 0xAA, sizeof Info);
  ASSERT_EQ(Mp()->GetProcessorInfo(Mp(), 13, &Info), EFI_SUCCESS);
  EXPECT_EQ(Info.ProcessorId, 0xDu);
  EXPECT_EQ(Info.StatusFlag, PROCESSOR_ENABLED_BIT | PROCESSOR_HEALTH_STATUS_BIT);
  EXPECT_EQ(Info.Location.Package, 1u);
  EXPECT_EQ(Info.Location.Core, 2u);
  EXPECT_EQ(Info.Location.Thread, 1u);
  EXPECT_EQ(Info.ExtendedInformation.Location2.Package, 0xAAAAAAAAu);

  ASSERT_EQ(Mp()->GetProcessorInfo(Mp(), 13 | kExtendedTopologyRequest, &Info), EFI_SUCCESS);
  const EFI_CPU_PHYSICAL_LOCATION2 &Where = Info.ExtendedInformation.Location2;
  EXPECT_EQ((TopologyPosition{Where.Package, Where.Die, Where.Tile, Where.Module, Where.Core, Where.Thread}),
            (TopologyPosition{1, 0, 1, 0, 0, 1}));

  ASSERT_EQ(Mp()->GetProcessorInfo(Mp(), 0, &Info), EFI_SUCCESS);
  EXPECT_EQ(Info.StatusFlag, PROCESSOR_AS_BSP_BIT | PROCESSOR_ENABLED_BIT | PROCESSOR_HEALTH_STATUS_BIT);
  EXPECT_EQ(Mp()->GetProcessorInfo(Mp(), 14, &Info), EFI_NOT_FOUND);
  EXPECT_EQ(Mp()->GetProcessorInfo(Mp(), 0, nullptr), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Mp()->GetNumberOfProcessors(Mp(), &Number, nullptr), EFI_INVALID_PARAMETER);
}

TEST_F(MpServicesTest, CountersRecordCallsFailuresAndProcedures) {
  Build(UniformTopology{.CoresPerComplex = 4});
  UINTN Number = 0;
  UINTN Enabled = 0;
  Mp()->GetNumberOfProcessors(Mp(), &Number, &Enabled);
  StartAll(DoNothing, FALSE);
  StartOne(DoNothing, 0);
  StartOne(DoNothing, 2);
  EXPECT_EQ(Mp()->SwitchBSP(Mp(), 1, TRUE), EFI_UNSUPPORTED);
  EXPECT_EQ(Mp()->EnableDisableAP(Mp(), 1, FALSE, nullptr), EFI_UNSUPPORTED);

  const MpServicesCounters Counters = Mp_->Counters();
  EXPECT_EQ(Counters.GetNumberOfProcessorsCalls, 1u);
  EXPECT_EQ(Counters.StartupAllAPsCalls, 1u);
  EXPECT_EQ(Counters.StartupThisAPCalls, 2u);
  EXPECT_EQ(Counters.OtherCalls, 2u);
  EXPECT_EQ(Counters.FailedCalls, 3u);
  EXPECT_EQ(Counters.ProceduresRun, 4u);
}

TEST_F(MpServicesTest, EachRecordLeadsBackToItsOwnInstance) {
  Build(UniformTopology{.CoresPerComplex = 2});
  MpServices Other(*Processors_, 1);
  UINTN Number = 0;
  UINTN Enabled = 0;

  EXPECT_EQ(Other.Protocol()->GetNumberOfProcessors(Other.Protocol(), &Number, &Enabled), EFI_SUCCESS);
  EXPECT_EQ(Other.Counters().GetNumberOfProcessorsCalls, 1u);
  EXPECT_EQ(Mp_->Counters().GetNumberOfProcessorsCalls, 0u);
  EXPECT_EQ(Mp()->GetNumberOfProcessors(nullptr, &Number, &Enabled), EFI_INVALID_PARAMETER);
}

TEST_F(MpServicesTest, SimulatorFailureInAProcedureBecomesDeviceError) {
  Build(UniformTopology{.CoresPerComplex = 2});

  EXPECT_EQ(StartOne(FailInsideTheSimulator, 1), EFI_DEVICE_ERROR);
  ASSERT_EQ(Mp_->Faults().size(), 1u);
  EXPECT_EQ(Mp_->Faults()[0], "procedure on processor 1 failed: simulated hook failure");
  // The worker that ran it is still there for the next start.
  EXPECT_EQ(StartOne(WriteOwnNumber, 1), EFI_SUCCESS);
}

}  // namespace
}  // namespace sim
