// The event, timer and task-priority slots of EFI_BOOT_SERVICES.
#include "sim/uefi/ServiceSlots.h"
#include "sim/uefi/ThunkSupport.h"

namespace sim {

namespace {

EFI_TPL EFIAPI RaiseTplThunk(EFI_TPL NewTpl) {
  return thunk::CallFor("RaiseTPL", TPL_HIGH_LEVEL, static_cast<EFI_TPL>(TPL_APPLICATION),
                        [&](UefiCore &core) { return core.Events().Raise(NewTpl); });
}

VOID EFIAPI RestoreTplThunk(EFI_TPL OldTpl) {
  thunk::CallFor("RestoreTPL", TPL_HIGH_LEVEL, 0, [&](UefiCore &core) {
    core.Events().Restore(OldTpl);
    return 0;
  });
}

EFI_STATUS EFIAPI CreateEventThunk(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction, VOID *NotifyContext,
                                   EFI_EVENT *Event) {
  return thunk::Call("CreateEvent", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Events().Create(Type, NotifyTpl, NotifyFunction, NotifyContext, nullptr, Event);
  });
}

EFI_STATUS EFIAPI CreateEventExThunk(UINT32 Type, EFI_TPL NotifyTpl, EFI_EVENT_NOTIFY NotifyFunction,
                                     CONST VOID *NotifyContext, CONST EFI_GUID *EventGroup, EFI_EVENT *Event) {
  return thunk::Call("CreateEventEx", TPL_NOTIFY, [&](UefiCore &core) {
    return core.Events().Create(Type, NotifyTpl, NotifyFunction, NotifyContext, EventGroup, Event);
  });
}

EFI_STATUS EFIAPI SetTimerThunk(EFI_EVENT Event, EFI_TIMER_DELAY, UINT64) {
  return thunk::Call("SetTimer", TPL_HIGH_LEVEL - 1, [&](UefiCore &core) { return core.Events().SetTimer(Event); });
}

EFI_STATUS EFIAPI WaitForEventThunk(UINTN NumberOfEvents, EFI_EVENT *Event, UINTN *Index) {
  return thunk::Call("WaitForEvent", TPL_APPLICATION,
                     [&](UefiCore &core) { return core.Events().Wait(NumberOfEvents, Event, Index); });
}

EFI_STATUS EFIAPI SignalEventThunk(EFI_EVENT Event) {
  return thunk::Call("SignalEvent", TPL_HIGH_LEVEL, [&](UefiCore &core) { return core.Events().Signal(Event); });
}

EFI_STATUS EFIAPI CloseEventThunk(EFI_EVENT Event) {
  return thunk::Call("CloseEvent", TPL_NOTIFY, [&](UefiCore &core) { return core.Events().Close(Event); });
}

EFI_STATUS EFIAPI CheckEventThunk(EFI_EVENT Event) {
  return thunk::Call("CheckEvent", TPL_HIGH_LEVEL - 1, [&](UefiCore &core) { return core.Events().Check(Event); });
}

}  // namespace

void FillEventServices(EFI_BOOT_SERVICES &table) {
  table.RaiseTPL = RaiseTplThunk;
  table.RestoreTPL = RestoreTplThunk;
  table.CreateEvent = CreateEventThunk;
  table.CreateEventEx = CreateEventExThunk;
  table.SetTimer = SetTimerThunk;
  table.WaitForEvent = WaitForEventThunk;
  table.SignalEvent = SignalEventThunk;
  table.CloseEvent = CloseEventThunk;
  table.CheckEvent = CheckEventThunk;
}

}  // namespace sim
