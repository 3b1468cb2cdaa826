#include "UefiTestSupport.h"
#include "sim/uefi/Guid.h"

namespace sim::test {
namespace {

using EventTest = UefiTest;
using Log = std::vector<std::string>;

TEST_F(EventTest, NotificationsQueuedWhileRaisedRunHighestTplFirstThenInSignalOrder) {
  Probe callback1 = MakeProbe("callback1"), notify1 = MakeProbe("notify1");
  Probe callback2 = MakeProbe("callback2"), notify2 = MakeProbe("notify2");
  EFI_EVENT events[] = {CreateProbeEvent(TPL_CALLBACK, callback1), CreateProbeEvent(TPL_NOTIFY, notify1),
                        CreateProbeEvent(TPL_CALLBACK, callback2), CreateProbeEvent(TPL_NOTIFY, notify2)};
  const EFI_TPL old = Boot().RaiseTPL(TPL_HIGH_LEVEL);
  EXPECT_EQ(old, static_cast<EFI_TPL>(TPL_APPLICATION));
  for (EFI_EVENT event : events) {
    ASSERT_EQ(Boot().SignalEvent(event), EFI_SUCCESS);
  }
  EXPECT_TRUE(log_.empty());
  Boot().RestoreTPL(old);
  EXPECT_EQ(log_, (Log{"notify1", "notify2", "callback1", "callback2"}));
  EXPECT_EQ(notify1.seenTpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_EQ(callback2.seenTpl, static_cast<EFI_TPL>(TPL_CALLBACK));
  EXPECT_EQ(core_.Events().CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
}

struct SignalCase {
  EFI_TPL current;
  EFI_TPL eventTpl;
  bool runsAtOnce;
};

class SignalTimingTest : public EventTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTimingTest, NotificationRunsAtOnceOnlyAboveTheCurrentTpl) {
  Probe probe = MakeProbe("probe");
  EFI_EVENT event = CreateProbeEvent(GetParam().eventTpl, probe);
  const EFI_TPL old = Boot().RaiseTPL(GetParam().current);
  ASSERT_EQ(Boot().SignalEvent(event), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, GetParam().runsAtOnce ? 1 : 0);
  Boot().RestoreTPL(old);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_EQ(probe.seenTpl, GetParam().eventTpl);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, SignalTimingTest,
    ::testing::Values(SignalCase{TPL_APPLICATION, TPL_CALLBACK, true}, SignalCase{TPL_APPLICATION, TPL_NOTIFY, true},
                      SignalCase{TPL_CALLBACK, TPL_CALLBACK, false}, SignalCase{TPL_CALLBACK, TPL_NOTIFY, true},
                      SignalCase{TPL_NOTIFY, TPL_CALLBACK, false}, SignalCase{TPL_NOTIFY, TPL_NOTIFY, false},
                      SignalCase{TPL_HIGH_LEVEL, TPL_NOTIFY, false}));

TEST_F(EventTest, SignalOfAPendingEventQueuesItOnce) {
  Probe probe = MakeProbe("probe");
  EFI_EVENT event = CreateProbeEvent(TPL_NOTIFY, probe);
  const EFI_TPL old = Boot().RaiseTPL(TPL_NOTIFY);
  Boot().SignalEvent(event);
  Boot().SignalEvent(event);
  Boot().RestoreTPL(old);
  EXPECT_EQ(probe.runs, 1);
}

TEST_F(EventTest, SignalFromInsideTheOwnNotificationRunsItOnceMore) {
  Probe probe = MakeProbe("probe");
  probe.action = [&](EFI_EVENT self) {
    if (probe.runs == 1) {
      Boot().SignalEvent(self);
    }
  };
  Boot().SignalEvent(CreateProbeEvent(TPL_CALLBACK, probe));
  EXPECT_EQ(probe.runs, 2);
}

TEST_F(EventTest, GroupSignalReachesEveryMemberAndNothingElse) {
  const EFI_GUID group = MakeGuid(1), otherGroup = MakeGuid(2);
  Probe a = MakeProbe("a"), b = MakeProbe("b"), c = MakeProbe("c"), outsider = MakeProbe("outsider"),
        loner = MakeProbe("loner");
  EFI_EVENT first = CreateProbeEvent(TPL_CALLBACK, a, &group);
  CreateProbeEvent(TPL_NOTIFY, b, &group);
  CreateProbeEvent(TPL_CALLBACK, c, &group);
  CreateProbeEvent(TPL_NOTIFY, outsider, &otherGroup);
  CreateProbeEvent(TPL_NOTIFY, loner);
  ASSERT_EQ(Boot().SignalEvent(first), EFI_SUCCESS);
  EXPECT_EQ(log_, (Log{"b", "a", "c"}));
  core_.SignalEventGroup(group);
  EXPECT_EQ(log_, (Log{"b", "a", "c", "b", "a", "c"}));
  EXPECT_EQ(outsider.runs + loner.runs, 0);
}

TEST_F(EventTest, CreateEventExWithoutGroupSignalsOnlyItself) {
  Probe plain = MakeProbe("plain"), ex = MakeProbe("ex");
  EFI_EVENT event = nullptr;
  ASSERT_EQ(Boot().CreateEvent(EVT_NOTIFY_SIGNAL, TPL_CALLBACK, ProbeNotify, &plain, &event), EFI_SUCCESS);
  Boot().SignalEvent(CreateProbeEvent(TPL_CALLBACK, ex, nullptr));
  EXPECT_EQ(log_, Log{"ex"});
}

TEST_F(EventTest, CloseEventInsideItsOwnNotificationIsSafe) {
  Probe probe = MakeProbe("probe");
  EFI_STATUS closed = EFI_NOT_READY;
  probe.action = [&](EFI_EVENT self) { closed = Boot().CloseEvent(self); };
  EFI_EVENT event = CreateProbeEvent(TPL_NOTIFY, probe);
  ASSERT_EQ(Boot().SignalEvent(event), EFI_SUCCESS);
  EXPECT_EQ(closed, EFI_SUCCESS);
  EXPECT_EQ(Boot().SignalEvent(event), EFI_INVALID_PARAMETER);
  EXPECT_EQ(probe.runs, 1);
  EXPECT_TRUE(core_.OpenEvents().empty());
}

TEST_F(EventTest, PendingNotificationOfAClosedEventIsDropped) {
  Probe closedOne = MakeProbe("closed"), other = MakeProbe("other");
  EFI_EVENT event = CreateProbeEvent(TPL_CALLBACK, closedOne);
  EFI_EVENT second = CreateProbeEvent(TPL_CALLBACK, other);
  const EFI_TPL old = Boot().RaiseTPL(TPL_NOTIFY);
  Boot().SignalEvent(event);
  Boot().SignalEvent(second);
  ASSERT_EQ(Boot().CloseEvent(event), EFI_SUCCESS);
  Boot().RestoreTPL(old);
  EXPECT_EQ(log_, Log{"other"});
}

TEST_F(EventTest, ClosingSomethingThatIsNotAnOpenEventIsRefused) {
  EFI_HANDLE handle = nullptr;
  const EFI_GUID guid = MakeGuid(3);
  ASSERT_EQ(Boot().InstallProtocolInterface(&handle, const_cast<EFI_GUID *>(&guid), EFI_NATIVE_INTERFACE, nullptr),
            EFI_SUCCESS);
  EFI_EVENT closed = nullptr;
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &closed), EFI_SUCCESS);
  ASSERT_EQ(Boot().CloseEvent(closed), EFI_SUCCESS);
  int onTheStack = 0;
  for (EFI_EVENT notEvent :
       {static_cast<EFI_EVENT>(handle), closed, static_cast<EFI_EVENT>(&onTheStack), static_cast<EFI_EVENT>(nullptr)}) {
    EXPECT_EQ(Boot().CloseEvent(notEvent), EFI_INVALID_PARAMETER);
  }
}

TEST_F(EventTest, CheckEventConsumesTheSignalOfAPlainEvent) {
  EFI_EVENT event = nullptr;
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &event), EFI_SUCCESS);
  EXPECT_EQ(Boot().CheckEvent(event), EFI_NOT_READY);
  Boot().SignalEvent(event);
  EXPECT_EQ(Boot().CheckEvent(event), EFI_SUCCESS);
  EXPECT_EQ(Boot().CheckEvent(event), EFI_NOT_READY);
  Probe probe = MakeProbe("probe");
  EXPECT_EQ(Boot().CheckEvent(CreateProbeEvent(TPL_CALLBACK, probe)), EFI_INVALID_PARAMETER);
}

TEST_F(EventTest, WaitForEventReturnsTheSignaledOneAndRefusesToHangForever) {
  EFI_EVENT events[2] = {};
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &events[0]), EFI_SUCCESS);
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &events[1]), EFI_SUCCESS);
  Boot().SignalEvent(events[1]);
  UINTN index = 9;
  EXPECT_EQ(Boot().WaitForEvent(2, events, &index), EFI_SUCCESS);
  EXPECT_EQ(index, 1u);
  EXPECT_EQ(Boot().WaitForEvent(2, events, &index), EFI_UNSUPPORTED);
  EXPECT_TRUE(Reported("would wait forever"));
  const EFI_TPL old = Boot().RaiseTPL(TPL_CALLBACK);
  Boot().SignalEvent(events[0]);
  EXPECT_EQ(Boot().WaitForEvent(2, events, &index), EFI_UNSUPPORTED);
  Boot().RestoreTPL(old);
}

struct CreateCase {
  const char *what;
  uint32_t type;
  EFI_TPL tpl;
  bool withNotify;
  bool withGroup;
};

class InvalidCreateTest : public EventTest, public ::testing::WithParamInterface<CreateCase> {};

TEST_P(InvalidCreateTest, IsRefusedAsInvalidParameter) {
  const EFI_GUID group = MakeGuid(4);
  Probe probe = MakeProbe("probe");
  EFI_EVENT event = nullptr;
  EXPECT_EQ(Boot().CreateEventEx(GetParam().type, GetParam().tpl, GetParam().withNotify ? ProbeNotify : nullptr, &probe,
                                 GetParam().withGroup ? &group : nullptr, &event),
            EFI_INVALID_PARAMETER)
      << GetParam().what;
  EXPECT_EQ(event, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, InvalidCreateTest,
    ::testing::Values(
        CreateCase{"signal and wait together", EVT_NOTIFY_SIGNAL | EVT_NOTIFY_WAIT, TPL_CALLBACK, true, false},
        CreateCase{"signal without a function", EVT_NOTIFY_SIGNAL, TPL_CALLBACK, false, false},
        CreateCase{"notify at TPL_APPLICATION", EVT_NOTIFY_SIGNAL, TPL_APPLICATION, true, false},
        CreateCase{"notify above TPL_HIGH_LEVEL", EVT_NOTIFY_WAIT, TPL_HIGH_LEVEL + 1, true, false},
        CreateCase{"undefined type bit", 0x00000400, TPL_CALLBACK, true, false},
        CreateCase{"exit-boot-services type with a group", EVT_SIGNAL_EXIT_BOOT_SERVICES, TPL_CALLBACK, true, true}));

TEST_F(EventTest, RaisingToALowerTplIsReportedAndIgnored) {
  const EFI_TPL old = Boot().RaiseTPL(TPL_NOTIFY);
  EXPECT_EQ(Boot().RaiseTPL(TPL_CALLBACK), static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_EQ(core_.Events().CurrentTpl(), static_cast<EFI_TPL>(TPL_NOTIFY));
  EXPECT_TRUE(Reported("RaiseTPL(8) at TPL 16"));
  Boot().RestoreTPL(old);
  EXPECT_EQ(core_.Events().CurrentTpl(), static_cast<EFI_TPL>(TPL_APPLICATION));
}

TEST_F(EventTest, OpenEventsShowTypeTplNotifyGroupAndRegistration) {
  const EFI_GUID group = MakeGuid(5), protocol = MakeGuid(6);
  Probe probe = MakeProbe("probe");
  EFI_EVENT grouped = CreateProbeEvent(TPL_CALLBACK, probe, &group);
  EFI_EVENT waiting = CreateProbeEvent(TPL_NOTIFY, probe);
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(const_cast<EFI_GUID *>(&protocol), waiting, &registration), EFI_SUCCESS);
  const std::vector<OpenEvent> events = core_.OpenEvents();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].info.event, grouped);
  EXPECT_EQ(events[0].info.type, static_cast<uint32_t>(EVT_NOTIFY_SIGNAL));
  EXPECT_EQ(events[0].info.tpl, static_cast<EFI_TPL>(TPL_CALLBACK));
  EXPECT_EQ(events[0].info.notify, &ProbeNotify);
  ASSERT_TRUE(events[0].info.group.has_value());
  EXPECT_TRUE(SameGuid(*events[0].info.group, group));
  EXPECT_TRUE(events[0].registeredFor.empty());
  EXPECT_EQ(events[1].info.tpl, static_cast<EFI_TPL>(TPL_NOTIFY));
  ASSERT_EQ(events[1].registeredFor.size(), 1u);
  EXPECT_TRUE(SameGuid(events[1].registeredFor[0], protocol));
}

}  // namespace
}  // namespace sim::test
