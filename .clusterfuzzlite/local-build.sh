#!/usr/bin/env bash
# Runs build.sh on this machine as the engine runs it for a libFuzzer build with the address and
# undefined-behaviour sanitizers, so that scripts/fuzz, its test and a campaign elsewhere fuzz the
# same binaries. The environment is the engine's (CC, CXX, CFLAGS, CXXFLAGS, LIB_FUZZING_ENGINE,
# SRC, WORK, OUT); WORK is the CMake build tree.
#
#   .clusterfuzzlite/local-build.sh WORK OUT [BUILD-JOBS]
set -euo pipefail
if [ $# -lt 2 ]; then
  echo "usage: $0 WORK OUT [BUILD-JOBS]" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/.." && pwd)
flags="-O1 -g1 -fno-omit-frame-pointer -fsanitize=address,undefined,fuzzer-no-link -fno-sanitize-recover=undefined"
export CC=clang CXX=clang++ CFLAGS="$flags" CXXFLAGS="$flags" LIB_FUZZING_ENGINE=-fsanitize=fuzzer
export SRC
SRC=$(dirname "$repo")
mkdir -p "$1" "$2"
export WORK OUT
WORK=$(cd "$1" && pwd)
OUT=$(cd "$2" && pwd)
export CCX_BUILD_JOBS=${3:-2}
exec "$repo/.clusterfuzzlite/build.sh"
