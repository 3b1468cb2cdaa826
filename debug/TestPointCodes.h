// The test points the driver shows on the POST-code port, each with the place it marks. Every
// top-level routine shows one on entry (0xAC55 to 0xAC58) and one on exit (0xACE5 to 0xACE8).
#ifndef DEBUG_TEST_POINT_CODES_H_
#define DEBUG_TEST_POINT_CODES_H_

#include "uefi/Base.h"

namespace TestPointCode {

constexpr UINT32 InitEntry = 0xAC55;
constexpr UINT32 InitExit = 0xACE5;
constexpr UINT32 InitCompleteInstalling = 0xAC95;
constexpr UINT32 InitCompleteInstalled = 0xAC96;
constexpr UINT32 InitEndOfInitHook = 0xAC10;
constexpr UINT32 MpServicesEntry = 0xAC56;
constexpr UINT32 MpServicesExit = 0xACE6;
constexpr UINT32 ReadyToBootEntry = 0xAC57;
constexpr UINT32 ReadyToBootExit = 0xACE7;
constexpr UINT32 OverclockingEntry = 0xAC58;
constexpr UINT32 OverclockingExit = 0xACE8;

struct Meaning {
  UINT32 Code;
  const char *Text;
};

inline constexpr Meaning kMeanings[] = {
    {InitEntry, "initialization entry"},
    {InitCompleteInstalling, "installing the init-complete protocol"},
    {InitCompleteInstalled, "init-complete protocol installed"},
    {InitEndOfInitHook, "end-of-init option hook next"},
    {InitExit, "initialization exit"},
    {MpServicesEntry, "per-core work with MP services entry"},
    {MpServicesExit, "per-core work with MP services exit"},
    {ReadyToBootEntry, "ready-to-boot entry"},
    {ReadyToBootExit, "ready-to-boot exit"},
    {OverclockingEntry, "overclocking hook entry"},
    {OverclockingExit, "overclocking hook exit"},
};

// What the test point Code marks; null for a code the driver does not show.
constexpr const char *MeaningOf(UINT32 Code) {
  for (const Meaning &Entry : kMeanings) {
    if (Entry.Code == Code) return Entry.Text;
  }
  return nullptr;
}

}  // namespace TestPointCode

#endif  // DEBUG_TEST_POINT_CODES_H_
