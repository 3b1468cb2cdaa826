#!/bin/bash -eu
# Builds every fuzz target by the OSS-Fuzz / ClusterFuzzLite convention: the compilers, their flags
# and the fuzzing engine come from CC, CXX, CFLAGS, CXXFLAGS and LIB_FUZZING_ENGINE; the build tree
# goes to $WORK; each target lands in $OUT as <target>, beside <target>_seed_corpus.zip (its
# committed corpus) and <target>.dict (where fuzz/dict/ has one).
#
# The engine runs this from the repository (the Dockerfile's WORKDIR, where the Dockerfile also
# copies it to $SRC/build.sh); started as .clusterfuzzlite/build.sh it finds the repository itself.
# scripts/fuzz builds through this script too, so a campaign here and one on the engine fuzz the
# same binaries. CCX_FUZZ_TARGETS (names separated by spaces, optional) builds and copies only
# those targets; scripts/fuzz sets it when it is given targets.
if [ -f "$(dirname "$0")/../fuzz/CMakeLists.txt" ]; then
  cd "$(dirname "$0")/.."
fi
if [ ! -f fuzz/CMakeLists.txt ]; then
  echo "build.sh: $PWD is not the repository (no fuzz/CMakeLists.txt); run it from there" >&2
  exit 1
fi
for variable in CC CXX CFLAGS CXXFLAGS LIB_FUZZING_ENGINE OUT WORK; do
  if [ -z "${!variable+set}" ]; then
    echo "build.sh: $variable is not set (the fuzzing engine's build environment sets it)" >&2
    exit 1
  fi
done

mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
# The flags come from the environment alone: no sanitizer of the project's own and no build type's
# flags on top (the engine's CFLAGS carry the optimization level). The firmware image needs the
# cross compiler and is not fuzzed.
cmake -S . -B "$WORK" -G Ninja \
  -DCMAKE_C_COMPILER="$CC" -DCMAKE_CXX_COMPILER="$CXX" \
  -DCMAKE_C_FLAGS="$CFLAGS" -DCMAKE_CXX_FLAGS="$CXXFLAGS" -DCMAKE_BUILD_TYPE=Fuzzing \
  -DCCX_SANITIZE= -DCCX_BUILD_FIRMWARE=OFF -DCCX_BUILD_FUZZERS=ON -DCCX_FUZZ_ENGINE="$LIB_FUZZING_ENGINE" \
  -DCCX_FUZZ_OUT="$OUT" >/dev/null
mapfile -t known <"$WORK/fuzz/targets.txt"
read -r -a targets <<<"${CCX_FUZZ_TARGETS:-}"
if [ ${#targets[@]} -eq 0 ]; then
  targets=("${known[@]}")
fi
build_targets=()
for target in "${targets[@]}"; do
  if ! printf '%s\n' "${known[@]}" | grep -qx -- "$target"; then
    echo "build.sh: no fuzz target '$target'; the targets are: ${known[*]}" >&2
    exit 2
  fi
  build_targets+=("fuzz_$target")
done
cmake --build "$WORK" -j "${CCX_BUILD_JOBS:-$(nproc)}" --target "${build_targets[@]}"

for target in "${targets[@]}"; do
  cp "$WORK/fuzz/fuzz_$target" "$OUT/$target"
  rm -f "$OUT/${target}_seed_corpus.zip"
  if [ -d "fuzz/corpus/$target" ] && [ -n "$(ls -A "fuzz/corpus/$target")" ]; then
    (cd "fuzz/corpus/$target" && zip -q -X -r "$OUT/${target}_seed_corpus.zip" .)
  fi
  if [ -f "fuzz/dict/$target.dict" ]; then
    cp "fuzz/dict/$target.dict" "$OUT/$target.dict"
  fi
done
