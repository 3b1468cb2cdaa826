#include "UefiTestSupport.h"
#include "sim/uefi/Guid.h"

namespace sim::test {
namespace {

class ProtocolTest : public UefiTest {
 protected:
  EFI_STATUS Install(EFI_HANDLE &handle, EFI_GUID &guid, void *interface) {
    return Boot().InstallProtocolInterface(&handle, &guid, EFI_NATIVE_INTERFACE, interface);
  }
  EFI_STATUS Locate(EFI_GUID &guid, void *registration, void *&interface) {
    return Boot().LocateProtocol(&guid, registration, &interface);
  }

  EFI_GUID a_ = MakeGuid(0xA), b_ = MakeGuid(0xB), c_ = MakeGuid(0xC);
  int one_ = 1, two_ = 2, three_ = 3;
};

TEST_F(ProtocolTest, InstalledInterfaceIsFoundByHandleAndByProtocol) {
  EFI_HANDLE first = nullptr, second = nullptr;
  ASSERT_EQ(Install(first, a_, &one_), EFI_SUCCESS);
  ASSERT_NE(first, nullptr);
  ASSERT_EQ(Install(second, a_, &two_), EFI_SUCCESS);
  EXPECT_NE(first, second);
  ASSERT_EQ(Install(first, b_, &three_), EFI_SUCCESS);
  void *found = nullptr;
  EXPECT_EQ(Boot().HandleProtocol(second, &a_, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &two_);
  EXPECT_EQ(Boot().HandleProtocol(second, &b_, &found), EFI_UNSUPPORTED);
  EXPECT_EQ(found, nullptr);
  EXPECT_EQ(Locate(a_, nullptr, found), EFI_SUCCESS);
  EXPECT_EQ(found, &one_);  // the first instance installed
  EXPECT_EQ(Locate(c_, nullptr, found), EFI_NOT_FOUND);
}

TEST_F(ProtocolTest, SecondInstanceOfAProtocolOnOneHandleIsRefused) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Install(handle, a_, &one_), EFI_SUCCESS);
  EXPECT_EQ(Install(handle, a_, &two_), EFI_INVALID_PARAMETER);
  void *found = nullptr;
  EXPECT_EQ(Boot().HandleProtocol(handle, &a_, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &one_);
}

TEST_F(ProtocolTest, InstallOnAHandleThatDoesNotExistIsRefused) {
  int notAHandle = 0;
  EFI_HANDLE handle = &notAHandle;
  EXPECT_EQ(Install(handle, a_, &one_), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().InstallProtocolInterface(nullptr, &a_, EFI_NATIVE_INTERFACE, &one_), EFI_INVALID_PARAMETER);
  EXPECT_TRUE(core_.InstalledProtocols().empty());
}

TEST_F(ProtocolTest, InstallMultipleInstallsAllPairsOnOneHandle) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Boot().InstallMultipleProtocolInterfaces(&handle, &a_, &one_, &b_, &two_, static_cast<EFI_GUID *>(nullptr)),
            EFI_SUCCESS);
  const std::vector<InstalledProtocol> installed = core_.InstalledProtocols();
  ASSERT_EQ(installed.size(), 2u);
  EXPECT_EQ(installed[0].handle, handle);
  EXPECT_EQ(installed[1].handle, handle);
  EXPECT_TRUE(SameGuid(installed[1].guid, b_));
  EXPECT_EQ(installed[1].interface, &two_);
}

TEST_F(ProtocolTest, InstallMultipleIsAllOrNothing) {
  Probe probe = MakeProbe("notified");
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, CreateProbeEvent(TPL_CALLBACK, probe), &registration), EFI_SUCCESS);

  // A new handle: the repeated GUID fails the list, and the handle is not created.
  EFI_HANDLE handle = nullptr;
  EXPECT_EQ(Boot().InstallMultipleProtocolInterfaces(&handle, &a_, &one_, &b_, &two_, &a_, &three_,
                                                     static_cast<EFI_GUID *>(nullptr)),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(handle, nullptr);
  // An existing handle that already carries the last GUID of the list keeps only what it had.
  EFI_HANDLE existing = nullptr;
  ASSERT_EQ(Install(existing, c_, &three_), EFI_SUCCESS);
  EFI_HANDLE target = existing;
  EXPECT_EQ(Boot().InstallMultipleProtocolInterfaces(&target, &a_, &one_, &c_, &two_, static_cast<EFI_GUID *>(nullptr)),
            EFI_INVALID_PARAMETER);
  EXPECT_EQ(target, existing);

  ASSERT_EQ(core_.InstalledProtocols().size(), 1u);
  EXPECT_TRUE(SameGuid(core_.InstalledProtocols()[0].guid, c_));
  void *found = nullptr;
  EXPECT_EQ(Locate(a_, nullptr, found), EFI_NOT_FOUND);
  EXPECT_EQ(Locate(a_, registration, found), EFI_NOT_FOUND);
  EXPECT_EQ(probe.runs, 0);
}

TEST_F(ProtocolTest, RegistrationHandsOutEachNewInstanceExactlyOnce) {
  EFI_HANDLE early = nullptr;
  ASSERT_EQ(Install(early, a_, &one_), EFI_SUCCESS);  // before the registration: not new to it
  void *registration = nullptr;
  std::vector<void *> received;
  Probe probe = MakeProbe("notified");
  probe.action = [&](EFI_EVENT) {
    void *instance = nullptr;
    while (Boot().LocateProtocol(&a_, registration, &instance) == EFI_SUCCESS) {
      received.push_back(instance);
    }
  };
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, CreateProbeEvent(TPL_CALLBACK, probe), &registration), EFI_SUCCESS);
  ASSERT_NE(registration, nullptr);

  EFI_HANDLE h2 = nullptr, h3 = nullptr, h4 = nullptr;
  ASSERT_EQ(Install(h2, a_, &two_), EFI_SUCCESS);
  EXPECT_EQ(received, (std::vector<void *>{&two_}));
  // Two installations while the notification cannot run yet: one run finds both.
  const EFI_TPL old = Boot().RaiseTPL(TPL_CALLBACK);
  ASSERT_EQ(Install(h3, a_, &three_), EFI_SUCCESS);
  ASSERT_EQ(Install(h4, a_, nullptr), EFI_SUCCESS);
  Boot().RestoreTPL(old);
  EXPECT_EQ(received, (std::vector<void *>{&two_, &three_, nullptr}));
  EXPECT_EQ(probe.runs, 2);
  void *instance = &one_;
  EXPECT_EQ(Boot().LocateProtocol(&a_, registration, &instance), EFI_NOT_FOUND);
  EXPECT_EQ(instance, nullptr);
  EXPECT_EQ(Boot().LocateProtocol(&b_, registration, &instance), EFI_NOT_FOUND);  // the key is for another GUID
}

TEST_F(ProtocolTest, LocateHandleByRegisterNotifyReturnsOneNewHandleAtATime) {
  EFI_EVENT event = nullptr;
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &event), EFI_SUCCESS);
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&b_, event, &registration), EFI_SUCCESS);
  EFI_HANDLE h1 = nullptr, h2 = nullptr;
  ASSERT_EQ(Install(h1, b_, &one_), EFI_SUCCESS);
  ASSERT_EQ(Install(h2, b_, &two_), EFI_SUCCESS);
  EXPECT_EQ(Boot().CheckEvent(event), EFI_SUCCESS);

  EFI_HANDLE buffer[2] = {};
  UINTN size = 0;
  EXPECT_EQ(Boot().LocateHandle(ByRegisterNotify, nullptr, registration, &size, buffer), EFI_BUFFER_TOO_SMALL);
  EXPECT_EQ(size, sizeof(EFI_HANDLE));
  ASSERT_EQ(Boot().LocateHandle(ByRegisterNotify, nullptr, registration, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(buffer[0], h1);
  ASSERT_EQ(Boot().LocateHandle(ByRegisterNotify, nullptr, registration, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ(buffer[0], h2);
  EXPECT_EQ(Boot().LocateHandle(ByRegisterNotify, nullptr, registration, &size, buffer), EFI_NOT_FOUND);
}

TEST_F(ProtocolTest, ProtocolInstalledInsideANotificationWorks) {
  Probe onA = MakeProbe("onA"), onB = MakeProbe("onB");
  EFI_HANDLE installedFromNotify = nullptr;
  EFI_STATUS nestedStatus = EFI_NOT_READY;
  onA.action = [&](EFI_EVENT) {
    nestedStatus = Install(installedFromNotify, b_, &two_);
    log_.push_back("onA done");
  };
  void *registrationA = nullptr, *registrationB = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, CreateProbeEvent(TPL_NOTIFY, onA), &registrationA), EFI_SUCCESS);
  ASSERT_EQ(Boot().RegisterProtocolNotify(&b_, CreateProbeEvent(TPL_NOTIFY, onB), &registrationB), EFI_SUCCESS);

  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Install(handle, a_, &one_), EFI_SUCCESS);
  EXPECT_EQ(nestedStatus, EFI_SUCCESS);
  // The nested installation's notification is at the running TPL, so it waits its turn.
  EXPECT_EQ(log_, (std::vector<std::string>{"onA", "onA done", "onB"}));
  void *found = nullptr;
  EXPECT_EQ(Boot().LocateProtocol(&b_, registrationB, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &two_);
  EXPECT_EQ(Boot().HandleProtocol(installedFromNotify, &b_, &found), EFI_SUCCESS);
}

TEST_F(ProtocolTest, UninstallingTheLastProtocolRemovesTheHandle) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Install(handle, a_, &one_), EFI_SUCCESS);
  ASSERT_EQ(Install(handle, b_, &two_), EFI_SUCCESS);
  EXPECT_EQ(Boot().UninstallProtocolInterface(handle, &a_, &two_), EFI_NOT_FOUND);  // not that interface
  ASSERT_EQ(Boot().UninstallProtocolInterface(handle, &a_, &one_), EFI_SUCCESS);
  void *found = nullptr;
  EXPECT_EQ(Boot().HandleProtocol(handle, &b_, &found), EFI_SUCCESS);
  ASSERT_EQ(Boot().UninstallProtocolInterface(handle, &b_, &two_), EFI_SUCCESS);
  EXPECT_EQ(Boot().HandleProtocol(handle, &b_, &found), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Install(handle, c_, &three_), EFI_INVALID_PARAMETER);
  UINTN size = 0;
  EXPECT_EQ(Boot().LocateHandle(AllHandles, nullptr, nullptr, &size, nullptr), EFI_NOT_FOUND);
}

TEST_F(ProtocolTest, UninstallMultipleIsAllOrNothing) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Boot().InstallMultipleProtocolInterfaces(&handle, &a_, &one_, &b_, &two_, static_cast<EFI_GUID *>(nullptr)),
            EFI_SUCCESS);
  EXPECT_EQ(
      Boot().UninstallMultipleProtocolInterfaces(handle, &a_, &one_, &c_, &three_, static_cast<EFI_GUID *>(nullptr)),
      EFI_INVALID_PARAMETER);
  EXPECT_EQ(core_.InstalledProtocols().size(), 2u);
  EXPECT_EQ(
      Boot().UninstallMultipleProtocolInterfaces(handle, &a_, &one_, &b_, &two_, static_cast<EFI_GUID *>(nullptr)),
      EFI_SUCCESS);
  EXPECT_TRUE(core_.InstalledProtocols().empty());
}

TEST_F(ProtocolTest, ReinstallHandsTheNewInterfaceToRegistrations) {
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Install(handle, a_, &one_), EFI_SUCCESS);
  EFI_EVENT event = nullptr;
  ASSERT_EQ(Boot().CreateEvent(0, 0, nullptr, nullptr, &event), EFI_SUCCESS);
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, event, &registration), EFI_SUCCESS);
  EXPECT_EQ(Boot().ReinstallProtocolInterface(handle, &a_, &two_, &three_), EFI_NOT_FOUND);
  ASSERT_EQ(Boot().ReinstallProtocolInterface(handle, &a_, &one_, &two_), EFI_SUCCESS);
  void *found = nullptr;
  EXPECT_EQ(Boot().LocateProtocol(&a_, registration, &found), EFI_SUCCESS);
  EXPECT_EQ(found, &two_);
  EXPECT_EQ(Boot().CheckEvent(event), EFI_SUCCESS);
}

TEST_F(ProtocolTest, HandleSearchesReportSizesAndOrder) {
  EFI_HANDLE h1 = nullptr, h2 = nullptr, h3 = nullptr;
  ASSERT_EQ(Install(h1, a_, &one_), EFI_SUCCESS);
  ASSERT_EQ(Install(h2, b_, &two_), EFI_SUCCESS);
  ASSERT_EQ(Install(h3, a_, &three_), EFI_SUCCESS);
  ASSERT_EQ(Install(h2, a_, &two_), EFI_SUCCESS);  // h2's A comes last

  EFI_HANDLE buffer[4] = {};
  UINTN size = 0;
  ASSERT_EQ(Boot().LocateHandle(ByProtocol, &a_, nullptr, &size, buffer), EFI_BUFFER_TOO_SMALL);
  ASSERT_EQ(size, 3 * sizeof(EFI_HANDLE));
  ASSERT_EQ(Boot().LocateHandle(ByProtocol, &a_, nullptr, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ((std::vector<EFI_HANDLE>(buffer, buffer + 3)), (std::vector<EFI_HANDLE>{h1, h3, h2}));
  size = sizeof(buffer);
  ASSERT_EQ(Boot().LocateHandle(AllHandles, nullptr, nullptr, &size, buffer), EFI_SUCCESS);
  EXPECT_EQ((std::vector<EFI_HANDLE>(buffer, buffer + 3)), (std::vector<EFI_HANDLE>{h1, h2, h3}));
  EXPECT_EQ(Boot().LocateHandle(ByProtocol, &c_, nullptr, &size, buffer), EFI_NOT_FOUND);
  EXPECT_EQ(Boot().LocateHandle(ByProtocol, nullptr, nullptr, &size, buffer), EFI_INVALID_PARAMETER);

  UINTN count = 0;
  EFI_HANDLE *pool = nullptr;
  ASSERT_EQ(Boot().LocateHandleBuffer(ByProtocol, &b_, nullptr, &count, &pool), EFI_SUCCESS);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(pool[0], h2);
  EXPECT_EQ(Boot().FreePool(pool), EFI_SUCCESS);

  EFI_GUID **guids = nullptr;
  ASSERT_EQ(Boot().ProtocolsPerHandle(h2, &guids, &count), EFI_SUCCESS);
  ASSERT_EQ(count, 2u);
  EXPECT_TRUE(SameGuid(*guids[0], b_));
  EXPECT_TRUE(SameGuid(*guids[1], a_));
  EXPECT_EQ(Boot().FreePool(guids), EFI_SUCCESS);
}

TEST_F(ProtocolTest, ClosingAnEventDropsItsRegistration) {
  Probe probe = MakeProbe("notified");
  EFI_EVENT event = CreateProbeEvent(TPL_CALLBACK, probe);
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, event, &registration), EFI_SUCCESS);
  ASSERT_EQ(Boot().CloseEvent(event), EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(Install(handle, a_, &one_), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 0);
  void *found = nullptr;
  EXPECT_EQ(Boot().LocateProtocol(&a_, registration, &found), EFI_NOT_FOUND);
  UINTN size = sizeof(EFI_HANDLE);
  EXPECT_EQ(Boot().LocateHandle(ByRegisterNotify, nullptr, registration, &size, &handle), EFI_INVALID_PARAMETER);
  EXPECT_EQ(Boot().RegisterProtocolNotify(&a_, event, &registration), EFI_INVALID_PARAMETER);
}

TEST_F(ProtocolTest, ArrivalFromTheSimulatorRunsTheDriversNotification) {
  Probe probe = MakeProbe("arrived");
  void *registration = nullptr;
  ASSERT_EQ(Boot().RegisterProtocolNotify(&a_, CreateProbeEvent(TPL_NOTIFY, probe), &registration), EFI_SUCCESS);
  EFI_HANDLE handle = nullptr;
  ASSERT_EQ(core_.InstallProtocol(handle, a_, nullptr), EFI_SUCCESS);
  EXPECT_EQ(probe.runs, 1);
  ASSERT_TRUE(core_.LocateProtocol(a_).has_value());
  EXPECT_EQ(*core_.LocateProtocol(a_), nullptr);  // a marker protocol: present, with no interface
  EXPECT_FALSE(core_.LocateProtocol(b_).has_value());
  ASSERT_EQ(core_.UninstallProtocol(handle, a_, nullptr), EFI_SUCCESS);
  EXPECT_FALSE(core_.LocateProtocol(a_).has_value());
}

}  // namespace
}  // namespace sim::test
