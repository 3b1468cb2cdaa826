// Inside the formatter: one item is what a single format character or conversion produces (a
// literal character, a line ending, a number, a string). Its text is laid out in a width with
// the fill the flags ask for and handed to the output sink cell by cell.
#ifndef DEBUG_FORMATTER_ITEM_H_
#define DEBUG_FORMATTER_ITEM_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Item flags, set by the characters between the percent sign and the conversion.
constexpr UINTN kItemLeftJustify = 0x01;  // minus
constexpr UINTN kItemPrefixSign = 0x02;   // plus
constexpr UINTN kItemPrefixBlank = 0x04;  // space
constexpr UINTN kItemCommaGroups = 0x08;  // comma
constexpr UINTN kItemLong = 0x10;         // l or L
constexpr UINTN kItemZeroFill = 0x20;     // 0 before the width
constexpr UINTN kItemPadToWidth = 0x40;   // a width was given
constexpr UINTN kItemPrecision = 0x80;    // a period was given

// Large enough for a GUID text and its NUL (the longest rendered item), and for the widest
// number: twenty decimal digits and six group commas.
constexpr UINTN kFormatScratchSize = 38;

// Per-call scratch space, so that the formatter keeps no state between calls.
struct FORMAT_SCRATCH {
  CHAR8 Text[kFormatScratchSize];
  UINT16 Single;
};

struct FORMAT_ITEM {
  UINTN Flags;
  UINTN Width;
  UINTN Precision;
  BOOLEAN IsNumber;
  BOOLEAN Silent;  // the format ended inside the conversion: nothing is printed
  CHAR8 Prefix;    // sign or blank in front of a number, 0 for none
  const VOID *Text;
  UINTN TextLength;  // characters of Text to print
  UINTN TextUnit;    // 1 for ASCII text, 2 for UCS-2 text
};

// Where the characters of one call go: the caller's buffer up to its reserved last cell, or, in
// count-only mode, a counter that stops at the limit when a size was given.
struct FORMAT_SINK {
  CHAR8 *Position;
  CHAR8 *End;
  UINTN CellSize;
  BOOLEAN CountOnly;
  BOOLEAN Bounded;
  UINTN Limit;
  UINTN Counted;
};

BOOLEAN FormatSinkFull(const FORMAT_SINK &Sink);
VOID FormatSetItemText(FORMAT_ITEM &Item, const VOID *Text, UINTN Length, UINTN Unit);
// Reads the argument of Conversion (if it takes one) and sets the item's text.
VOID FormatConvertArgument(UINT16 Conversion, VA_LIST *Args, FORMAT_ITEM &Item, FORMAT_SCRATCH &Scratch);
// Lays the item out: leading width fill, prefix and precision fill, the text, trailing fill.
VOID FormatEmitItem(FORMAT_SINK &Sink, const FORMAT_ITEM &Item);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_FORMATTER_ITEM_H_
