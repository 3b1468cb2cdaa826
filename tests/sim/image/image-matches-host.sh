#!/usr/bin/env bash
# Boots one machine with the host build and with the delivered image, and compares the two
# reports with `ccxsim diff`. Only what cannot be the same is left out of the comparison: the
# image preset (data/diff-image-vs-host.ignore) lists each such field and why it differs.
#
#   image-matches-host.sh CCXSIM IMAGE OUTDIR [ccxsim boot arguments...]
set -euo pipefail
ccxsim=$1
image=$2
out=$3
shift 3
rm -rf "$out"
mkdir -p "$out"
"$ccxsim" boot "$@" --out "$out/host" >"$out/host.txt" 2>&1 || { echo "host boot failed:"; tail -20 "$out/host.txt"; exit 1; }
"$ccxsim" boot "$@" --image "$image" --out "$out/image" >"$out/image.txt" 2>&1 || { echo "image boot failed:"; tail -20 "$out/image.txt"; exit 1; }
grep -m1 '^image traps:' "$out/image.txt"
exec "$ccxsim" diff --preset image "$out/host/report.json" "$out/image/report.json"
