// The driver's memory primitives against the host C library in the same run. SetMemory over
// 256 MB is the reverse-map table's zeroing on a large machine, the largest single job of a boot.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "arch/Memory.h"

namespace ccxbench {
namespace {

constexpr size_t kLarge = size_t(256) << 20;
constexpr size_t kSmall = size_t(64) << 10;

struct Buffer {
  explicit Buffer(size_t Size) : Bytes(static_cast<uint8_t *>(std::aligned_alloc(4096, Size))), Length(Size) {
    // Touched once before timing, so page faults are not part of any figure.
    std::memset(Bytes, 1, Length);
  }
  ~Buffer() { std::free(Bytes); }
  uint8_t *Bytes;
  size_t Length;
};

void Finish(benchmark::State &State, size_t Length) {
  State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(Length));
}

void BM_SetMemory(benchmark::State &State) {
  Buffer Target(size_t(State.range(0)));
  for (auto _ : State) {
    CcxImage::SetMemory(Target.Bytes, Target.Length, 0);
    benchmark::DoNotOptimize(Target.Bytes);
    benchmark::ClobberMemory();
  }
  Finish(State, Target.Length);
}

void BM_memset(benchmark::State &State) {
  Buffer Target(size_t(State.range(0)));
  for (auto _ : State) {
    std::memset(Target.Bytes, 0, Target.Length);
    benchmark::DoNotOptimize(Target.Bytes);
    benchmark::ClobberMemory();
  }
  Finish(State, Target.Length);
}

void BM_CopyMemory(benchmark::State &State) {
  Buffer Source(size_t(State.range(0)));
  Buffer Target(size_t(State.range(0)));
  for (auto _ : State) {
    CcxImage::CopyMemory(Target.Bytes, Source.Bytes, Target.Length);
    benchmark::DoNotOptimize(Target.Bytes);
    benchmark::ClobberMemory();
  }
  Finish(State, Target.Length);
}

void BM_memcpy(benchmark::State &State) {
  Buffer Source(size_t(State.range(0)));
  Buffer Target(size_t(State.range(0)));
  for (auto _ : State) {
    std::memcpy(Target.Bytes, Source.Bytes, Target.Length);
    benchmark::DoNotOptimize(Target.Bytes);
    benchmark::ClobberMemory();
  }
  Finish(State, Target.Length);
}

BENCHMARK(BM_SetMemory)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_memset)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_CopyMemory)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_memcpy)->Arg(kSmall)->Arg(kLarge)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ccxbench
