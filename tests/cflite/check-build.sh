#!/usr/bin/env bash
# Runs .clusterfuzzlite/build.sh with the engine's environment for a libFuzzer build with address
# sanitizer into an emptied $OUT, then checks what landed there: every target, its seed corpus
# holding every committed input, its dictionary where fuzz/dict/ has one. Each target then runs a
# few of its seed inputs, and mutates them with its dictionary for a bounded number of runs.
#
#   check-build.sh WORK OUT
set -euo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$1
out=$2
cd "$repo"

rm -rf "$out"
.clusterfuzzlite/local-build.sh "$work" "$out"

problems=()
runs=$(mktemp -d)
trap 'rm -rf "$runs"' EXIT
mapfile -t targets <"$work/fuzz/targets.txt"
for target in "${targets[@]}"; do
  binary="$out/$target"
  if [ ! -x "$binary" ]; then
    problems+=("$target: no executable $binary")
    continue
  fi
  committed=$(find "fuzz/corpus/$target" -type f 2>/dev/null | wc -l)
  seeds="$out/${target}_seed_corpus.zip"
  if [ "$committed" -gt 0 ]; then
    if [ ! -f "$seeds" ]; then
      problems+=("$target: no seed corpus $seeds for $committed committed inputs")
      continue
    fi
    zipped=$(unzip -Z1 "$seeds" | grep -cv '/$' || true)
    if [ "$zipped" -ne "$committed" ]; then
      problems+=("$target: $seeds holds $zipped inputs, fuzz/corpus/$target $committed")
    fi
  fi
  options=(-rss_limit_mb=4096 -timeout=60)
  if [ -f "fuzz/dict/$target.dict" ]; then
    if ! cmp -s "fuzz/dict/$target.dict" "$out/$target.dict"; then
      problems+=("$target: $out/$target.dict missing or not fuzz/dict/$target.dict")
      continue
    fi
    options+=(-dict="$out/$target.dict")
  fi

  # A few seed inputs, each run once, then a short mutation run from them.
  mkdir -p "$runs/$target/seeds" "$runs/$target/found"
  if [ -f "$seeds" ]; then
    unzip -q "$seeds" -d "$runs/$target/all"
    mapfile -t inputs < <(find "$runs/$target/all" -type f | sort)
    cp -t "$runs/$target/seeds" "${inputs[@]:0:5}"
  fi
  log="$runs/$target/run.log"
  if [ -n "$(ls -A "$runs/$target/seeds")" ] && ! "$binary" "${options[@]}" "$runs/$target"/seeds/* >"$log" 2>&1; then
    problems+=("$target: a seed input failed: $(grep -m1 -E 'ERROR|runtime error|invariant' "$log" || tail -1 "$log")")
    continue
  fi
  if ! "$binary" "${options[@]}" -runs=200 -seed=1 -artifact_prefix="$runs/$target/" \
      "$runs/$target/found" "$runs/$target/seeds" >"$log" 2>&1; then
    problems+=("$target: 200 mutation runs failed: $(grep -m1 -E 'ERROR|runtime error|invariant' "$log" || tail -1 "$log")")
    continue
  fi
  executed=$(grep -o 'Done [0-9]* runs' "$log" || true)
  echo "cflite $target: $committed seeds zipped, ${executed:-no 'Done' line}"
  if [ -z "$executed" ]; then
    problems+=("$target: the mutation run did not report its runs (see its log)")
  fi
done

if [ ${#problems[@]} -ne 0 ]; then
  printf 'cflite: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "cflite: ${#targets[@]} targets, their seed corpora and dictionaries in $out; each ran clean"
