// The few routines a freestanding compiler may emit calls to. The firmware image has no C
// runtime, so it carries its own. Built with -fno-builtin so that these loops are not turned back
// into calls to themselves.
#include <cstddef>

extern "C" {

void *memcpy(void *Destination, const void *Source, size_t Length) {
  unsigned char *Dst = static_cast<unsigned char *>(Destination);
  const unsigned char *Src = static_cast<const unsigned char *>(Source);
  for (size_t Index = 0; Index < Length; Index++) {
    Dst[Index] = Src[Index];
  }
  return Destination;
}

void *memmove(void *Destination, const void *Source, size_t Length) {
  unsigned char *Dst = static_cast<unsigned char *>(Destination);
  const unsigned char *Src = static_cast<const unsigned char *>(Source);
  if (Dst < Src) {
    for (size_t Index = 0; Index < Length; Index++) Dst[Index] = Src[Index];
  } else {
    for (size_t Index = Length; Index != 0; Index--) Dst[Index - 1] = Src[Index - 1];
  }
  return Destination;
}

void *memset(void *Buffer, int Value, size_t Length) {
  unsigned char *Bytes = static_cast<unsigned char *>(Buffer);
  for (size_t Index = 0; Index < Length; Index++) {
    Bytes[Index] = static_cast<unsigned char>(Value);
  }
  return Buffer;
}

int memcmp(const void *Left, const void *Right, size_t Length) {
  const unsigned char *A = static_cast<const unsigned char *>(Left);
  const unsigned char *B = static_cast<const unsigned char *>(Right);
  for (size_t Index = 0; Index < Length; Index++) {
    if (A[Index] != B[Index]) return A[Index] < B[Index] ? -1 : 1;
  }
  return 0;
}

// Stack probe for frames above one page: touches each page of the new frame in order. RAX holds
// the frame size; every register is preserved, as the Windows x64 convention requires.
__asm__(
    ".globl ___chkstk_ms\n"
    "___chkstk_ms:\n"
    "  push %rcx\n"
    "  push %rax\n"
    "  cmp $0x1000, %rax\n"
    "  lea 24(%rsp), %rcx\n"
    "  jb 2f\n"
    "1:\n"
    "  sub $0x1000, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  sub $0x1000, %rax\n"
    "  cmp $0x1000, %rax\n"
    "  ja 1b\n"
    "2:\n"
    "  sub %rax, %rcx\n"
    "  orq $0, (%rcx)\n"
    "  pop %rax\n"
    "  pop %rcx\n"
    "  ret\n");
}
