#include "arch/Memory.h"

#include "arch/MemoryTraffic.h"

// Host builds under a sanitizer: the copy and fill loops below are opaque to it.
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

// Fills from this many bytes on stream their words past the caches: a fill that large (the
// reverse-map table's zeroing) would only evict what the caches hold, and cached stores of a
// 64-bit word each fall behind the C library's fill there.
constexpr UINTN kStreamingFillFrom = UINTN{1} << 20;

// Stores Count values (at least one) of WORD's width, each a MOV of Value, one after the other
// from Dst on. The loop is written out so that no compiler turns it into a call of a fill function
// the image does not have. The fill loops are inlined: SetMemory's own code holds every store.
template <typename WORD>
__attribute__((always_inline)) inline VOID StoreRepeated(UINT8 *&Dst, UINTN Count, WORD Value) {
  __asm__ volatile(
      "1:\n\t"
      "mov %[Value], (%[Dst])\n\t"
      "add %[Step], %[Dst]\n\t"
      "dec %[Count]\n\t"
      "jnz 1b\n\t"
      : [Dst] "+r"(Dst), [Count] "+r"(Count)
      : [Value] "q"(Value), [Step] "i"(sizeof(WORD))
      : "memory", "cc");
}

// Stores Quads groups of four 64-bit words (at least one) that each hold Pattern, non-temporal;
// the fence orders them before anything the caller stores next.
__attribute__((always_inline)) inline VOID StreamWords(UINT8 *&Dst, UINTN Quads, UINT64 Pattern) {
  __asm__ volatile(
      "1:\n\t"
      "movnti %[Pattern], (%[Dst])\n\t"
      "movnti %[Pattern], 8(%[Dst])\n\t"
      "movnti %[Pattern], 16(%[Dst])\n\t"
      "movnti %[Pattern], 24(%[Dst])\n\t"
      "add $32, %[Dst]\n\t"
      "dec %[Quads]\n\t"
      "jnz 1b\n\t"
      "sfence\n\t"
      : [Dst] "+r"(Dst), [Quads] "+r"(Quads)
      : [Pattern] "r"(Pattern)
      : "memory", "cc");
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

// Length / 8 words that repeat the byte, then the remaining bytes one by one.
VOID *SetMemory(VOID *Buffer, UINTN Length, UINT8 Value) {
  NoteMemoryFilled(Length);
  if (Length == 0) {
    return Buffer;
  }
  UINT8 *Dst = static_cast<UINT8 *>(Buffer);
  ShowBlockRangesToSanitizers(Dst, Dst, Length);
  UINTN Words = Length / 8;
  const UINT64 Pattern = Value * 0x0101010101010101ULL;
  if (Length >= kStreamingFillFrom) {
    StreamWords(Dst, Words / 4, Pattern);
    Words %= 4;
  }
  if (Words != 0) {
    StoreRepeated<UINT64>(Dst, Words, Pattern);
  }
  if ((Length & 7) != 0) {
    StoreRepeated<UINT8>(Dst, Length & 7, Value);
  }
  return Buffer;
}

VOID *ZeroMemory(VOID *Buffer, UINTN Length) { return SetMemory(Buffer, Length, 0); }

}  // namespace CCX_IMAGE_NAMESPACE
