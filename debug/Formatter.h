// The message formatter: printf-style conversions in firmware conventions (%a ASCII and %s UCS-2
// strings, %r status names, %g GUIDs, %t times, upper-case hexadecimal, 32-bit integers unless
// the l modifier asks for 64 bits, every line feed written as CR LF). Output is bounded: nothing
// is ever written past the caller's buffer, whose last cell is kept for the terminating NUL.
#ifndef DEBUG_FORMATTER_H_
#define DEBUG_FORMATTER_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

// Caller flags of FormatCore and FormatToBuffer. Every caller in the driver passes 0.
constexpr UINTN kFormatWideOutput = 0x40;   // each output cell is a UCS-2 character, low byte first
constexpr UINTN kFormatWideFormat = 0x100;  // the format string is read in 16-bit units
constexpr UINTN kFormatCountOnly = 0x2000;  // nothing is written; the result is the length

// Buffer sizes and format lengths above this many characters are refused (result 0).
constexpr UINTN kFormatMaxLength = 100000000;

// Formats an ASCII format into an ASCII buffer of Size characters (NUL included). Returns the
// number of characters written before the NUL.
UINTN EFIAPI FormatToBufferV(CHAR8 *Buffer, UINTN Size, const CHAR8 *Format, VA_LIST Args);
UINTN EFIAPI FormatToBuffer(CHAR8 *Buffer, UINTN Size, UINTN Flags, const VOID *Format, ...);
// The engine behind both: Format is ASCII, or UCS-2 with kFormatWideFormat; Buffer holds Size
// cells of one byte, or of two with kFormatWideOutput.
UINTN EFIAPI FormatCore(CHAR8 *Buffer, UINTN Size, UINTN Flags, const VOID *Format, VA_LIST Args);

// Writes Character Count times while Buffer is below End, each as one byte or, for a CellSize of
// 2, as its low byte followed by its high byte. Returns the advanced Buffer. A Count of zero or
// less writes nothing.
CHAR8 *FillCharacters(CHAR8 *Buffer, CHAR8 *End, INTN Count, UINT16 Character, UINTN CellSize);

// Characters before the first NUL; 0 for a null pointer. A string with no NUL within its first
// kFormatMaxLength + 1 characters gives kFormatMaxLength + 1.
UINTN AsciiLengthBounded(const CHAR8 *String);
UINTN WideLengthBounded(const CHAR16 *String);

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DEBUG_FORMATTER_H_
