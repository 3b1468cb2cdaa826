#include "arch/Memory.h"

#include <emmintrin.h>

#include "arch/MemoryTraffic.h"

namespace CCX_IMAGE_NAMESPACE {

VOID *CopyMemory(VOID *Destination, const VOID *Source, UINTN Length) {
  UINT8 *Dst = static_cast<UINT8 *>(Destination);
  const UINT8 *Src = static_cast<const UINT8 *>(Source);
  if (Length == 0) {
    return Destination;
  }
  NoteMemoryCopied(Length);
  const UINTN DstAddress = reinterpret_cast<UINTN>(Dst);
  const UINTN SrcAddress = reinterpret_cast<UINTN>(Src);
  if (SrcAddress >= DstAddress || SrcAddress + Length - 1 < DstAddress) {
    // Forwards: single bytes up to a 16-byte aligned destination, streaming 16-byte blocks, tail.
    UINTN Head = (16 - (DstAddress & 15)) & 15;
    if (Head > Length) {
      Head = Length;
    }
    for (UINTN Index = 0; Index < Head; Index++) {
      *Dst++ = *Src++;
    }
    Length -= Head;
    UINTN Blocks = Length / 16;
    if (Blocks != 0) {
      for (; Blocks != 0; Blocks--) {
        __m128i Block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(Src));
        _mm_stream_si128(reinterpret_cast<__m128i *>(Dst), Block);
        Src += 16;
        Dst += 16;
      }
      _mm_mfence();
    }
    for (UINTN Index = 0; Index < (Length & 15); Index++) {
      *Dst++ = *Src++;
    }
    return Destination;
  }
  // The destination lies inside the source above its start: copy backwards, byte by byte, so
  // that no byte is overwritten before it has been read.
  for (UINTN Index = Length; Index != 0; Index--) {
    Dst[Index - 1] = Src[Index - 1];
  }
  return Destination;
}

VOID *SetMemory(VOID *Buffer, UINTN Length, UINT8 Value) {
  UINT8 *Bytes = static_cast<UINT8 *>(Buffer);
  NoteMemoryFilled(Length);
  const UINT64 Word = 0x0101010101010101ULL * Value;
  const UINTN Words = Length / 8;
  for (UINTN Index = 0; Index < Words; Index++) {
    // A byte-wise copy of the word keeps the store free of alignment assumptions.
    __builtin_memcpy(Bytes + Index * 8, &Word, 8);
  }
  for (UINTN Index = Words * 8; Index < Length; Index++) {
    Bytes[Index] = Value;
  }
  return Buffer;
}

VOID *ZeroMemory(VOID *Buffer, UINTN Length) { return SetMemory(Buffer, Length, 0); }

}  // namespace CCX_IMAGE_NAMESPACE
