#!/usr/bin/env bash
# Boots every machine file twice while two other processes keep both cores busy, and requires the
# two runs to be the same byte for byte: the printed report (but for the line naming the output
# directory), report.json and every table written, with `ccxsim diff` agreeing as well.
#
#   same-report-twice.sh CCXSIM MACHINES_DIR OUTDIR
set -euo pipefail
ccxsim=$1
machines=$2
out=$3
rm -rf "$out"
mkdir -p "$out"

spinners=()
for _ in 1 2; do
  (while :; do :; done) &
  spinners+=($!)
done
trap 'kill "${spinners[@]}" 2>/dev/null || true' EXIT

failed=0
for file in "$machines"/*.json; do
  name=$(basename "$file" .json)
  args=(--machine "$file")
  # Its second boot resets inside the entry; the third boots after the reset.
  [ "$name" = down-core-run ] && args+=(--boots 3)
  mkdir -p "$out/$name"
  for run in 1 2; do
    status=0
    "$ccxsim" boot "${args[@]}" --out "$out/$name/$run" >"$out/$name/$run.txt" 2>&1 || status=$?
    echo "$status" >"$out/$name/$run.status"
    sed -i "/^report written to /d" "$out/$name/$run.txt"
  done
  if ! diff -r "$out/$name/1" "$out/$name/2" >"$out/$name/diff.txt" ||
     ! diff "$out/$name/1.txt" "$out/$name/2.txt" >>"$out/$name/diff.txt" ||
     ! diff "$out/$name/1.status" "$out/$name/2.status" >>"$out/$name/diff.txt" ||
     ! "$ccxsim" diff "$out/$name/1/report.json" "$out/$name/2/report.json" >>"$out/$name/diff.txt"; then
    echo "$name: the two runs differ:"
    head -20 "$out/$name/diff.txt"
    failed=1
  else
    echo "$name: the same"
  fi
done
exit "$failed"
