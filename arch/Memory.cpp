#include "arch/Memory.h"

#include "arch/MemoryTraffic.h"

// Host builds under a sanitizer: the block loop below is opaque to it.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define CCX_MEMORY_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define CCX_MEMORY_SANITIZED 1
#endif
#endif

namespace CCX_IMAGE_NAMESPACE {
namespace {

// The sanitizers of a host build don't see the accesses of the block loop. Touching the first and
// last byte of both ranges in plain code lets them check the bounds of the whole copy; the
// destination bytes are written with the values they hold, so an overlapping copy is unharmed.
inline VOID ShowBlockRangesToSanitizers(UINT8 *Dst, const UINT8 *Src, UINTN Bytes) {
#if defined(CCX_MEMORY_SANITIZED)
  const volatile UINT8 *Source = Src;
  volatile UINT8 *Destination = Dst;
  (void)Source[0];
  (void)Source[Bytes - 1];
  Destination[0] = Destination[0];
  Destination[Bytes - 1] = Destination[Bytes - 1];
#else
  (void)Dst;
  (void)Src;
  (void)Bytes;
#endif
}

// Copies Blocks 16-byte blocks (at least one) with unaligned loads and streaming stores, then
// fences. The loop borrows XMM0 and puts back what the caller had there: the vector state belongs
// to the caller, whatever the calling convention says about the register.
VOID CopyBlocks(UINT8 *&Dst, const UINT8 *&Src, UINTN Blocks) {
  ShowBlockRangesToSanitizers(Dst, Src, Blocks * 16);
  UINT8 Saved[16];
  __asm__ volatile(
      "movdqu %%xmm0, %[Saved]\n\t"
      "1:\n\t"
      "movdqu (%[Src]), %%xmm0\n\t"
      "movntdq %%xmm0, (%[Dst])\n\t"
      "add $16, %[Src]\n\t"
      "add $16, %[Dst]\n\t"
      "dec %[Blocks]\n\t"
      "jnz 1b\n\t"
      "mfence\n\t"
      "movdqu %[Saved], %%xmm0\n\t"
      : [Src] "+r"(Src), [Dst] "+r"(Dst), [Blocks] "+r"(Blocks), [Saved] "=m"(Saved)
      :
      : "memory", "cc");
}

// Fills Length bytes (at least one) with one string store, which the processor runs as a block
// fill: zeroing the reverse-map table a word at a time was the largest part of the driver's own
// work in an instrumented boot. The direction flag is clear at every call boundary of both calling conventions.
VOID FillBlock(UINT8 *Dst, UINTN Length, UINT8 Value) {
  ShowBlockRangesToSanitizers(Dst, Dst, Length);
  __asm__ volatile("rep stosb" : "+D"(Dst), "+c"(Length) : "a"(Value) : "memory");
}

}  // namespace

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
    const UINTN Blocks = Length / 16;
    if (Blocks != 0) {
      CopyBlocks(Dst, Src, Blocks);
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
  NoteMemoryFilled(Length);
  if (Length != 0) {
    FillBlock(static_cast<UINT8 *>(Buffer), Length, Value);
  }
  return Buffer;
}

VOID *ZeroMemory(VOID *Buffer, UINTN Length) { return SetMemory(Buffer, Length, 0); }

}  // namespace CCX_IMAGE_NAMESPACE
