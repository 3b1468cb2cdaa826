// The events the image creates and the pages it takes, as real firmware holds them: the package
// wraps the boot services' event and page calls, records those made from the image's code (notify
// function, TPL, group, the protocols each waits for) and tells ccxsim of every page allocation as
// it happens, and forwards every call to the firmware unchanged. The events still open after the
// boot are what the report shows as left armed.
#ifndef FIRMWARE_OVMF_EVENT_WATCH_H_
#define FIRMWARE_OVMF_EVENT_WATCH_H_

#include "firmware/ovmf/ChannelFormat.h"
#include "uefi/SystemTable.h"

namespace ccx_ovmf {

// Starts watching calls made from code in [ImageBase, ImageBase + ImageSize).
VOID WatchImageEvents(EFI_SYSTEM_TABLE *SystemTable, uint64_t ImageBase, uint64_t ImageSize);

struct WatchedEvent {
  EFI_EVENT Event;
  bool Open;
  ccx_channel::SurveyEvent Record;
  EFI_GUID Waits[ccx_channel::kMostWaits];
};

// The watched events, in the order they were created.
const WatchedEvent *WatchedEvents(UINTN &Count);

}  // namespace ccx_ovmf

#endif  // FIRMWARE_OVMF_EVENT_WATCH_H_
