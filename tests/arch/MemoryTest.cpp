#include "arch/Memory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <tuple>
#include <vector>

using namespace CcxImage;

namespace {

std::vector<uint8_t> Pattern(size_t Size) {
  std::vector<uint8_t> Bytes(Size);
  std::iota(Bytes.begin(), Bytes.end(), uint8_t{1});
  return Bytes;
}

TEST(CopyMemory, DestinationOneAboveSourceMovesUpWithoutSmearing) {
  auto Buffer = Pattern(64);
  auto Expected = Buffer;
  std::memmove(Expected.data() + 1, Expected.data(), 20);
  EXPECT_EQ(CopyMemory(Buffer.data() + 1, Buffer.data(), 20), Buffer.data() + 1);
  EXPECT_EQ(Buffer, Expected);
}

TEST(CopyMemory, DestinationOneBelowSourceCopiesForwards) {
  auto Buffer = Pattern(64);
  auto Expected = Buffer;
  std::memmove(Expected.data(), Expected.data() + 1, 40);
  CopyMemory(Buffer.data(), Buffer.data() + 1, 40);
  EXPECT_EQ(Buffer, Expected);
}

TEST(CopyMemory, ZeroLengthCopiesNothing) {
  auto Buffer = Pattern(16);
  auto Expected = Buffer;
  EXPECT_EQ(CopyMemory(Buffer.data() + 3, Buffer.data(), 0), Buffer.data() + 3);
  EXPECT_EQ(Buffer, Expected);
}

// Every destination alignment against every source alignment and a range of lengths, overlapping
// and not, compared with memmove; the bytes just outside the destination must stay untouched.
TEST(CopyMemory, MatchesMemmoveForEveryAlignmentSplitAndOverlap) {
  for (size_t DstOffset = 0; DstOffset < 16; DstOffset++) {
    for (size_t SrcOffset = 0; SrcOffset < 48; SrcOffset += 5) {
      for (size_t Length : {0u, 1u, 3u, 13u, 16u, 17u, 40u, 64u, 100u}) {
        alignas(16) uint8_t Actual[256];
        alignas(16) uint8_t Expected[256];
        for (size_t Index = 0; Index < sizeof(Actual); Index++) Actual[Index] = Expected[Index] = uint8_t(Index * 7 + 3);
        uint8_t *Dst = Actual + 64 + DstOffset;
        const uint8_t *Src = Actual + 64 + SrcOffset;
        std::memmove(Expected + 64 + DstOffset, Expected + 64 + SrcOffset, Length);
        CopyMemory(Dst, Src, Length);
        ASSERT_EQ(0, std::memcmp(Actual, Expected, sizeof(Actual)))
            << "dst+" << DstOffset << " src+" << SrcOffset << " len " << Length;
      }
    }
  }
}

TEST(CopyMemory, ThreeBytesPastBoundaryLength40IsCopiedWhole) {
  alignas(16) uint8_t Destination[64] = {};
  const auto Source = Pattern(40);
  CopyMemory(Destination + 3, Source.data(), 40);
  EXPECT_EQ(0, std::memcmp(Destination + 3, Source.data(), 40));
  EXPECT_EQ(Destination[2], 0);
  EXPECT_EQ(Destination[43], 0);
}

// The block loop borrows a vector register; a caller that keeps a value there finds it unchanged.
// Copies with and without 16-byte blocks, from aligned and unaligned sources.
class CopyMemoryVectorState : public ::testing::TestWithParam<std::tuple<size_t, size_t>> {};

TEST_P(CopyMemoryVectorState, VectorRegisterIsAsTheCallerLeftIt) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  // Sanitizer builds copy in instrumented C++ instead of the block loop, and that code may use any
  // caller-saved vector register, as the calling convention allows.
  GTEST_SKIP() << "sanitizer builds do not use the block loop";
#endif
  const auto [SourceOffset, Length] = GetParam();
  alignas(16) uint8_t Destination[160] = {};
  alignas(16) uint8_t Source[160];
  for (size_t Index = 0; Index < sizeof(Source); Index++) Source[Index] = uint8_t(Index * 5 + 1);
  alignas(16) const uint8_t Held[16] = {0x5A, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07,
                                        0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0xA5};
  alignas(16) uint8_t After[16] = {};
  __asm__ volatile("movdqa %0, %%xmm0" : : "m"(Held) : "xmm0", "memory");
  CopyMemory(Destination, Source + SourceOffset, Length);
  __asm__ volatile("movdqa %%xmm0, %0" : "=m"(After) : : "memory");
  EXPECT_EQ(0, std::memcmp(After, Held, sizeof(Held)));
  EXPECT_EQ(0, std::memcmp(Destination, Source + SourceOffset, Length));
}

INSTANTIATE_TEST_SUITE_P(BlocksAndNone, CopyMemoryVectorState,
                         ::testing::Combine(::testing::Values(0u, 3u), ::testing::Values(15u, 16u, 64u, 131u)));

TEST(SetMemory, FillsExactlyTheLengthAndReturnsTheBuffer) {
  uint8_t Buffer[16];
  std::memset(Buffer, 0x11, sizeof(Buffer));
  EXPECT_EQ(SetMemory(Buffer, 13, 0xAB), Buffer);
  uint64_t Word;
  std::memcpy(&Word, Buffer, 8);
  EXPECT_EQ(Word, 0xABABABABABABABABULL);
  for (int Index = 8; Index < 13; Index++) EXPECT_EQ(Buffer[Index], 0xAB);
  for (int Index = 13; Index < 16; Index++) EXPECT_EQ(Buffer[Index], 0x11) << "byte past the length written";
}

TEST(SetMemory, ZeroMemoryClearsUnalignedTails) {
  for (size_t Length = 0; Length < 20; Length++) {
    uint8_t Buffer[32];
    std::memset(Buffer, 0xEE, sizeof(Buffer));
    ZeroMemory(Buffer + 1, Length);
    EXPECT_EQ(Buffer[0], 0xEE);
    for (size_t Index = 0; Index < Length; Index++) EXPECT_EQ(Buffer[1 + Index], 0) << Length;
    EXPECT_EQ(Buffer[1 + Length], 0xEE) << Length;
  }
}

}  // namespace
