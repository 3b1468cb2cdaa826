#include "sim/devices/PostCodeDecoder.h"

#include "arch/PostCode.h"

namespace sim {

namespace {

bool IsFatalMarker(const PostCodeWrite &Entry) {
  return Entry.Port == PostCode::FatalStopPort && Entry.Width == 2 &&
         Entry.Value == PostCode::FatalStopMarker;
}

bool IsDisplayWrite(const PostCodeWrite &Entry, unsigned Width, uint32_t Value) {
  return Entry.Port == PostCode::Port && Entry.Width == Width && Entry.Value == Value;
}

}  // namespace

std::optional<uint32_t> TestPointCode(uint32_t Value) {
  if (Value == PostCode::TestPointValue(PostCode::TestPointDoubledCode)) {
    return PostCode::TestPointDoubledCode;
  }
  if ((Value & 0xF0000000) == PostCode::TestPointPrefix) {
    return Value & ~PostCode::TestPointPrefix;
  }
  return std::nullopt;
}

DecodedPostCodes DecodePostCodes(const std::vector<PostCodeWrite> &Trace) {
  DecodedPostCodes Result;
  CapturedMessage *Open = nullptr;
  for (size_t I = 0; I < Trace.size(); ++I) {
    const PostCodeWrite &Entry = Trace[I];
    if (IsFatalMarker(Entry)) {
      // A fatal stop shows its code as the very next write, on the display port at 32 bits.
      if (I + 1 < Trace.size() && Trace[I + 1].Port == PostCode::Port && Trace[I + 1].Width == 4) {
        Result.FatalStops.push_back({Trace[I + 1].Value, I});
        ++I;
      } else {
        Result.Unrecognized.push_back(I);
      }
      continue;
    }
    if (Entry.Port != PostCode::Port) {
      Result.Unrecognized.push_back(I);
      continue;
    }
    if (Open != nullptr && Entry.Width == 1) {
      Open->Text.push_back(static_cast<char>(Entry.Value));
      continue;
    }
    if (Open != nullptr && IsDisplayWrite(Entry, 4, PostCode::CaptureEndMarker)) {
      Open->Complete = true;
      Open = nullptr;
      continue;
    }
    if (IsDisplayWrite(Entry, 4, PostCode::CaptureStartMarker)) {
      Result.Messages.push_back({"", false, I});
      Open = &Result.Messages.back();
      continue;
    }
    Result.TestPoints.push_back({Entry.Value, Entry.Width, I});
  }
  return Result;
}

}  // namespace sim
