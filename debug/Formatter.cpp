#include "debug/Formatter.h"

#include "debug/FormatterItem.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINTN kCallerFlags = kFormatWideOutput | kFormatWideFormat | kFormatCountOnly;
const CHAR8 kCrLf[] = "\r\n";

// The format string, read one character at a time in 8-bit or 16-bit units.
struct FORMAT_READER {
  const UINT8 *Position;
  UINTN Unit;
};

UINT16 PeekFormat(const FORMAT_READER &Reader) {
  if (Reader.Unit == sizeof(CHAR16)) {
    return static_cast<UINT16>(*reinterpret_cast<const CHAR16 *>(Reader.Position));
  }
  return *Reader.Position;
}

VOID AdvanceFormat(FORMAT_READER &Reader) { Reader.Position += Reader.Unit; }

// Reads a run of decimal digits. Overlong numbers wrap; the output stays bounded regardless.
UINTN ReadDecimal(FORMAT_READER &Reader) {
  UINTN Number = 0;
  for (UINT16 Character = PeekFormat(Reader); Character >= '0' && Character <= '9';
       Character = PeekFormat(Reader)) {
    Number = Number * 10 + (Character - '0');
    AdvanceFormat(Reader);
  }
  return Number;
}

// Reads the flag, width and precision characters that follow a percent sign into Item and
// returns the conversion character, consumed. A NUL is returned unconsumed so that the main loop
// ends on it.
UINT16 ReadConversionFlags(FORMAT_READER &Reader, VA_LIST *Args, FORMAT_ITEM &Item) {
  BOOLEAN InPrecision = FALSE;
  for (;;) {
    const UINT16 Character = PeekFormat(Reader);
    switch (Character) {
      case '.':
        InPrecision = TRUE;
        Item.Flags |= kItemPrecision;
        Item.Precision = 0;
        break;
      case '-':
        Item.Flags |= kItemLeftJustify;
        break;
      case '+':
        Item.Flags |= kItemPrefixSign;
        break;
      case ' ':
        Item.Flags |= kItemPrefixBlank;
        break;
      case ',':
        Item.Flags |= kItemCommaGroups;
        break;
      case 'l':
      case 'L':
        Item.Flags |= kItemLong;
        break;
      case '*':
        if (InPrecision) {
          Item.Precision = VA_ARG(*Args, UINT64);
        } else {
          Item.Width = VA_ARG(*Args, UINT64);
          Item.Flags |= kItemPadToWidth;
        }
        break;
      case '0':
        if (!InPrecision) {
          Item.Flags |= kItemZeroFill;
        }
        [[fallthrough]];
      case '1':
      case '2':
      case '3':
      case '4':
      case '5':
      case '6':
      case '7':
      case '8':
      case '9':
        if (InPrecision) {
          Item.Precision = ReadDecimal(Reader);
        } else {
          Item.Width = ReadDecimal(Reader);
          Item.Flags |= kItemPadToWidth;
        }
        continue;  // ReadDecimal stopped on the first character after the number
      case 0:
        return 0;
      default:
        AdvanceFormat(Reader);
        return Character;
    }
    AdvanceFormat(Reader);
  }
}

// A line feed becomes CR LF and swallows a carriage return right after it; a carriage return
// becomes CR LF together with a line feed right after it, or stays a lone CR.
VOID ReadLineEnding(UINT16 Character, FORMAT_READER &Reader, FORMAT_ITEM &Item) {
  const UINT16 Next = PeekFormat(Reader);
  UINTN Length = 2;
  if (Character == '\n') {
    if (Next == '\r') {
      AdvanceFormat(Reader);
    }
  } else if (Next == '\n') {
    AdvanceFormat(Reader);
  } else {
    Length = 1;
  }
  FormatSetItemText(Item, kCrLf, Length, sizeof(CHAR8));
}

}  // namespace

UINTN AsciiLengthBounded(const CHAR8 *String) {
  UINTN Length = 0;
  if (String != nullptr) {
    while (Length <= kFormatMaxLength && String[Length] != 0) {
      Length++;
    }
  }
  return Length;
}

UINTN WideLengthBounded(const CHAR16 *String) {
  UINTN Length = 0;
  if (String != nullptr) {
    while (Length <= kFormatMaxLength && String[Length] != 0) {
      Length++;
    }
  }
  return Length;
}

CHAR8 *FillCharacters(CHAR8 *Buffer, CHAR8 *End, INTN Count, UINT16 Character, UINTN CellSize) {
  for (; Count > 0 && Buffer < End; Count--) {
    *Buffer++ = static_cast<CHAR8>(Character & 0xFF);
    if (CellSize == 2) {
      *Buffer++ = static_cast<CHAR8>(Character >> 8);
    }
  }
  return Buffer;
}

UINTN EFIAPI FormatCore(CHAR8 *Buffer, UINTN Size, UINTN Flags, const VOID *Format, VA_LIST Args) {
  Flags &= kCallerFlags;
  const BOOLEAN CountOnly = (Flags & kFormatCountOnly) != 0;
  if ((Size != 0 || CountOnly) && Format == nullptr) {
    return 0;
  }
  if (Size != 0 && !CountOnly && Buffer == nullptr) {
    return 0;
  }
  if (Size > kFormatMaxLength) {
    return 0;
  }
  const UINTN FormatLength = (Flags & kFormatWideFormat) != 0
                                 ? WideLengthBounded(static_cast<const CHAR16 *>(Format))
                                 : AsciiLengthBounded(static_cast<const CHAR8 *>(Format));
  if (FormatLength > kFormatMaxLength) {
    return 0;
  }
  if (Size == 0 && !CountOnly) {
    return 0;
  }

  FORMAT_SINK Sink = {};
  Sink.CellSize = (Flags & kFormatWideOutput) != 0 ? 2 : 1;
  Sink.CountOnly = CountOnly;
  if (CountOnly) {
    // With a size the count stops where a buffer of that size would have been full.
    Sink.Bounded = Size != 0;
    Sink.Limit = Size != 0 ? Size - 1 : 0;
  } else {
    Sink.Position = Buffer;
    Sink.End = Buffer + (Size - 1) * Sink.CellSize;
  }

  FORMAT_READER Reader = {static_cast<const UINT8 *>(Format),
                          (Flags & kFormatWideFormat) != 0 ? sizeof(CHAR16) : sizeof(CHAR8)};
  FORMAT_SCRATCH Scratch;
  while (!FormatSinkFull(Sink)) {
    const UINT16 Character = PeekFormat(Reader);
    if (Character == 0) {
      break;
    }
    AdvanceFormat(Reader);

    FORMAT_ITEM Item = {};
    Item.Precision = 1;
    if (Character == '\n' || Character == '\r') {
      ReadLineEnding(Character, Reader, Item);
    } else if (Character == '%') {
      const UINT16 Conversion = ReadConversionFlags(Reader, &Args, Item);
      if (Conversion == '\n' || Conversion == '\r') {
        ReadLineEnding(Conversion, Reader, Item);
      } else {
        FormatConvertArgument(Conversion, &Args, Item, Scratch);
      }
    } else {
      Scratch.Single = Character;
      FormatSetItemText(Item, &Scratch.Single, 1, sizeof(CHAR16));
    }
    FormatEmitItem(Sink, Item);
  }

  if (CountOnly) {
    return Sink.Counted;
  }
  // The cell at End was never handed out, so the terminator always fits.
  FillCharacters(Sink.Position, Sink.Position + Sink.CellSize, 1, 0, Sink.CellSize);
  return static_cast<UINTN>(Sink.Position - Buffer) / Sink.CellSize;
}

UINTN EFIAPI FormatToBufferV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Args) {
  return FormatCore(Buffer, Size, 0, Format, Args);
}

UINTN EFIAPI FormatToBuffer(CHAR8 *Buffer, UINTN Size, UINTN Flags, const VOID *Format, ...) {
  VA_LIST Args;
  VA_START(Args, Format);
  const UINTN Length = FormatCore(Buffer, Size, Flags, Format, Args);
  VA_END(Args);
  return Length;
}

}  // namespace CCX_IMAGE_NAMESPACE
