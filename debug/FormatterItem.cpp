#include "debug/FormatterItem.h"

#include "debug/Formatter.h"
#include "debug/StatusNames.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

const CHAR8 kDigits[] = "0123456789ABCDEF";
const CHAR8 kNullString[] = "<null string>";
const CHAR8 kNullGuid[] = "<null guid>";
const CHAR8 kNullTime[] = "<null time>";

// Hands Count copies of Character to the sink; in count-only mode they are only counted.
VOID SinkFill(FORMAT_SINK &Sink, INTN Count, UINT16 Character) {
  if (Count <= 0) {
    return;
  }
  if (!Sink.CountOnly) {
    Sink.Position = FillCharacters(Sink.Position, Sink.End, Count, Character, Sink.CellSize);
    return;
  }
  const UINTN Room = Sink.Bounded ? Sink.Limit - Sink.Counted : ~static_cast<UINTN>(0) - Sink.Counted;
  Sink.Counted += static_cast<UINTN>(Count) < Room ? static_cast<UINTN>(Count) : Room;
}

UINT16 TextCharacter(const FORMAT_ITEM &Item, UINTN Index) {
  if (Item.TextUnit == sizeof(CHAR16)) {
    return static_cast<UINT16>(static_cast<const CHAR16 *>(Item.Text)[Index]);
  }
  return static_cast<const UINT8 *>(Item.Text)[Index];
}

// A string item: its characters up to the NUL, and no more than the precision when one was
// given. A null pointer prints the fixed null-string text instead.
VOID SetStringItem(FORMAT_ITEM &Item, const VOID *String, UINTN Unit) {
  if (String == nullptr) {
    String = kNullString;
    Unit = sizeof(CHAR8);
  }
  FormatSetItemText(Item, String, 0, Unit);
  UINTN Length = 0;
  while (((Item.Flags & kItemPrecision) == 0 || Length < Item.Precision) &&
         TextCharacter(Item, Length) != 0) {
    Length++;
  }
  Item.TextLength = Length;
}

// d, u, x, X and p: the digits most significant first, with group commas, into the scratch text.
VOID ConvertNumber(UINT16 Conversion, UINT64 Argument, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch) {
  const BOOLEAN Long = (Item.Flags & kItemLong) != 0;
  UINT64 Value = Long ? Argument : static_cast<UINT32>(Argument);
  UINT64 Radix = 10;
  switch (Conversion) {
    case 'd':
      if (!Long) {
        Value = static_cast<UINT64>(static_cast<INT64>(static_cast<INT32>(static_cast<UINT32>(Argument))));
      }
      if (static_cast<INT64>(Value) < 0) {
        Value = 0 - Value;
        Item.Prefix = '-';
      }
      break;
    case 'u':
      Item.Flags &= ~kItemPrefixSign;
      break;
    case 'X':
      Item.Flags |= kItemZeroFill;
      [[fallthrough]];
    case 'x':
      Radix = 16;
      Item.Flags &= ~kItemCommaGroups;
      break;
    default:  // 'p': the full 64-bit pointer, as X with l, without sign or blank
      Radix = 16;
      Value = Argument;
      Item.Flags |= kItemZeroFill;
      Item.Flags &= ~(kItemCommaGroups | kItemPrefixSign | kItemPrefixBlank);
      break;
  }
  if (Item.Prefix == 0) {
    if ((Item.Flags & kItemPrefixSign) != 0) {
      Item.Prefix = '+';
    } else if ((Item.Flags & kItemPrefixBlank) != 0) {
      Item.Prefix = ' ';
    }
  }
  const BOOLEAN Grouped = (Item.Flags & kItemCommaGroups) != 0;
  if (Grouped) {
    Item.Flags &= ~kItemZeroFill;
    Item.Precision = 1;
  }

  CHAR8 Digits[20];
  UINTN DigitCount = 0;
  if (Value != 0 || Item.Precision != 0) {
    do {
      Digits[DigitCount++] = kDigits[Value % Radix];
      Value /= Radix;
    } while (Value != 0);
  }
  UINTN Length = 0;
  for (UINTN Remaining = DigitCount; Remaining > 0; Remaining--) {
    Scratch.Text[Length++] = Digits[Remaining - 1];
    if (Grouped && Remaining > 1 && (Remaining - 1) % 3 == 0) {
      Scratch.Text[Length++] = ',';
    }
  }
  FormatSetItemText(Item, Scratch.Text, Length, sizeof(CHAR8));
  Item.IsNumber = TRUE;

  if (Item.Prefix != 0) {
    Item.Precision++;
  }
  const UINTN WidthAsPrecision = kItemZeroFill | kItemPadToWidth;
  if ((Item.Flags & (WidthAsPrecision | kItemLeftJustify | kItemPrecision)) == WidthAsPrecision) {
    Item.Precision = Item.Width;
  }
}

// g, t and r render their argument with a nested call into the scratch text, which then prints
// as an ASCII string.
VOID ConvertGuid(const EFI_GUID *Guid, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch) {
  if (Guid == nullptr) {
    SetStringItem(Item, kNullGuid, sizeof(CHAR8));
    return;
  }
  FormatToBuffer(Scratch.Text, kFormatScratchSize, 0, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                 UINT64{Guid->Data1}, UINT64{Guid->Data2}, UINT64{Guid->Data3}, UINT64{Guid->Data4[0]},
                 UINT64{Guid->Data4[1]}, UINT64{Guid->Data4[2]}, UINT64{Guid->Data4[3]},
                 UINT64{Guid->Data4[4]}, UINT64{Guid->Data4[5]}, UINT64{Guid->Data4[6]},
                 UINT64{Guid->Data4[7]});
  SetStringItem(Item, Scratch.Text, sizeof(CHAR8));
}

VOID ConvertTime(const EFI_TIME *Time, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch) {
  if (Time == nullptr) {
    SetStringItem(Item, kNullTime, sizeof(CHAR8));
    return;
  }
  FormatToBuffer(Scratch.Text, kFormatScratchSize, 0, "%02d/%02d/%04d  %02d:%02d", UINT64{Time->Month},
                 UINT64{Time->Day}, UINT64{Time->Year}, UINT64{Time->Hour}, UINT64{Time->Minute});
  SetStringItem(Item, Scratch.Text, sizeof(CHAR8));
}

VOID ConvertStatus(EFI_STATUS Status, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch) {
  const CHAR8 *Name = StatusCodeName(Status);
  if (Name == nullptr) {
    FormatToBuffer(Scratch.Text, kFormatScratchSize, 0, "%08X", UINT64{Status});
    Name = Scratch.Text;
  }
  SetStringItem(Item, Name, sizeof(CHAR8));
}

}  // namespace

BOOLEAN FormatSinkFull(const FORMAT_SINK &Sink) {
  if (Sink.CountOnly) {
    return Sink.Bounded && Sink.Counted >= Sink.Limit;
  }
  return Sink.Position >= Sink.End;
}

VOID FormatSetItemText(FORMAT_ITEM &Item, const VOID *Text, UINTN Length, UINTN Unit) {
  Item.Text = Text;
  Item.TextLength = Length;
  Item.TextUnit = Unit;
}

VOID FormatConvertArgument(UINT16 Conversion, VA_LIST *Args, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch) {
  switch (Conversion) {
    case 0:
      Item.Silent = TRUE;
      return;
    case 'd':
    case 'u':
    case 'x':
    case 'X':
    case 'p':
      ConvertNumber(Conversion, VA_ARG(*Args, UINT64), Item, Scratch);
      return;
    case 'a':
      SetStringItem(Item, VA_ARG(*Args, const CHAR8 *), sizeof(CHAR8));
      return;
    case 's':
    case 'S':
      SetStringItem(Item, VA_ARG(*Args, const CHAR16 *), sizeof(CHAR16));
      return;
    case 'c':
      Scratch.Single = static_cast<UINT16>(VA_ARG(*Args, UINT64));
      FormatSetItemText(Item, &Scratch.Single, 1, sizeof(CHAR16));
      return;
    case 'g':
      ConvertGuid(VA_ARG(*Args, const EFI_GUID *), Item, Scratch);
      return;
    case 't':
      ConvertTime(VA_ARG(*Args, const EFI_TIME *), Item, Scratch);
      return;
    case 'r':
      ConvertStatus(VA_ARG(*Args, UINT64), Item, Scratch);
      return;
    default:
      // Not a conversion: the character itself, taking no argument (so %% prints one %).
      Scratch.Single = Conversion;
      FormatSetItemText(Item, &Scratch.Single, 1, sizeof(CHAR16));
      return;
  }
}

VOID FormatEmitItem(FORMAT_SINK &Sink, const FORMAT_ITEM &Item) {
  if (Item.Silent) {
    return;
  }
  const UINTN Count = Item.TextLength + (Item.Prefix != 0 ? 1 : 0);
  // A precision fills only numbers and items that asked for one: an empty string printed without
  // a precision stays empty instead of turning into a blank.
  UINTN Precision = Item.Precision;
  if (!Item.IsNumber && (Item.Flags & kItemPrecision) == 0) {
    Precision = Count;
  }
  if (Precision < Count) {
    Precision = Count;
  }
  const BOOLEAN Padded = (Item.Flags & kItemPadToWidth) != 0;
  const BOOLEAN LeftJustified = (Item.Flags & kItemLeftJustify) != 0;
  const INTN WidthFill = static_cast<INTN>(Item.Width - Precision);
  const INTN PrecisionFill = static_cast<INTN>(Precision - Count);

  if (Padded && !LeftJustified) {
    SinkFill(Sink, WidthFill, ' ');
  }
  if (Item.IsNumber) {
    if (Item.Prefix != 0) {
      SinkFill(Sink, 1, static_cast<UINT8>(Item.Prefix));
    }
    SinkFill(Sink, PrecisionFill, '0');
  } else {
    SinkFill(Sink, PrecisionFill, ' ');
  }
  for (UINTN Index = 0; Index < Item.TextLength && !FormatSinkFull(Sink); Index++) {
    SinkFill(Sink, 1, TextCharacter(Item, Index));
  }
  if (Padded && LeftJustified) {
    SinkFill(Sink, WidthFill, ' ');
  }
}

}  // namespace CCX_IMAGE_NAMESPACE
