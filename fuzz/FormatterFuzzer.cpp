// Fuzzes the message formatter: a format string (ASCII or UCS-2), the caller flags, the size of
// the output buffer, and the argument slots. Every argument slot holds either null or the address
// of an 8-byte aligned place inside one argument area, whose bytes come from the input and which
// ends in two NUL bytes, so whatever conversion reads a slot (a string, a GUID, a time or a
// number) reads memory that is there, aligned for its type: any report comes from the formatter. The output buffer is exactly
// as large as the caller says, and the argument list holds enough slots for any format, so one cell too many is an address-sanitizer report.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "debug/Formatter.h"

namespace {

constexpr size_t kSlots = 32;
constexpr size_t kAreaSize = 1024;
// A GUID or a time record read from the area's last slot position still ends inside it.
constexpr size_t kLongestRecord = 24;
constexpr UINTN kFlagChoices[] = {0,
                                  CcxImage::kFormatWideOutput,
                                  CcxImage::kFormatWideFormat,
                                  CcxImage::kFormatWideOutput | CcxImage::kFormatWideFormat,
                                  CcxImage::kFormatCountOnly,
                                  CcxImage::kFormatCountOnly | CcxImage::kFormatWideFormat};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  const UINTN Flags = Input.PickValueInArray(kFlagChoices);
  const size_t Cells = Input.ConsumeIntegralInRange<size_t>(0, 600);

  uint8_t Choices[kSlots];
  for (uint8_t &Choice : Choices) Choice = Input.ConsumeIntegral<uint8_t>();
  // The format next; a wide format takes it in 16-bit units. Either way it is terminated.
  const std::string FormatText = Input.ConsumeRandomLengthString(2048);
  std::vector<uint8_t> Format(FormatText.begin(), FormatText.end());
  const size_t Unit = (Flags & CcxImage::kFormatWideFormat) != 0 ? 2 : 1;
  Format.resize(Format.size() - Format.size() % Unit);
  Format.insert(Format.end(), Unit, 0);

  // The argument area takes the rest.
  std::vector<uint64_t> Area(kAreaSize / 8, 0);
  const std::vector<uint8_t> AreaBytes = Input.ConsumeBytes<uint8_t>(kAreaSize - 2);
  if (!AreaBytes.empty()) std::memcpy(Area.data(), AreaBytes.data(), AreaBytes.size());
  const auto *AreaStart = reinterpret_cast<const uint8_t *>(Area.data());
  // No conversion takes more slots than it has characters, so a slot per format character is
  // always enough; the choices repeat over them.
  std::vector<UINT64> Slots(Format.size() + 1);
  for (size_t Slot = 0; Slot < Slots.size(); Slot++) {
    const uint8_t Choice = Choices[Slot % kSlots];
    Slots[Slot] = Choice == 0xFF ? 0 : reinterpret_cast<UINT64>(AreaStart + (Choice * 8) % (kAreaSize - kLongestRecord));
  }

  const size_t CellSize = (Flags & CcxImage::kFormatWideOutput) != 0 ? 2 : 1;
  std::vector<CHAR8> Buffer(Cells * CellSize + (Cells == 0 ? 1 : 0));
  CHAR8 *Output = Cells == 0 ? nullptr : Buffer.data();
  VA_LIST Arguments = reinterpret_cast<VA_LIST>(Slots.data());
  const UINTN Written = CcxImage::FormatCore(Output, Cells, Flags, Format.data(), Arguments);

  // Written output stops before the buffer's last cell, which holds the NUL.
  if ((Flags & CcxImage::kFormatCountOnly) == 0 && Cells != 0) {
    if (Written >= Cells) std::abort();
    for (size_t Byte = 0; Byte < CellSize; Byte++) {
      if (Buffer[Written * CellSize + Byte] != 0) std::abort();
    }
  }
  // The ASCII entry the debug output uses agrees with the engine.
  if (Flags == 0) {
    std::vector<CHAR8> Again(Cells == 0 ? 1 : Cells);
    VA_LIST Same = reinterpret_cast<VA_LIST>(Slots.data());
    const UINTN Plain = CcxImage::FormatToBufferV(Cells == 0 ? nullptr : Again.data(), Cells,
                                                  reinterpret_cast<const CHAR8 *>(Format.data()), Same);
    if (Plain != Written || (Cells != 0 && std::memcmp(Again.data(), Buffer.data(), Written) != 0)) std::abort();
  }
  return 0;
}
