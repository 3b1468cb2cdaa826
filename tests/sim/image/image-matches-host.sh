#!/usr/bin/env bash
# Boots one machine with the host build and with the delivered image, and compares the two
# reports with `ccxsim diff`. Only what cannot be the same is left out of the comparison:
#   image, boots[*].image            the image's own name
#   boots[*].image_base, traps       only an image boot is loaded at an address and takes traps
#   bytes_filled, bytes_copied       only the host build counts what its memory primitives move,
#   estimate_ns, estimate_ns_by_kind   and the time estimates include those bytes
#   phase smm_core's counts,         the coprocessor contends for the SMM mutex on a thread of its
#   x86_polls_while_held             own: how often the x86 side polls depends on the host's timing
#                                    (two host boots differ there as well)
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
exec "$ccxsim" diff \
  --ignore 'image' --ignore 'boots[*].image' --ignore 'boots[*].image_base' --ignore 'boots[*].traps' \
  --ignore 'boots[*].hardware_accesses.phases[*].on_bsp.bytes_filled' \
  --ignore 'boots[*].hardware_accesses.phases[*].on_bsp.bytes_copied' \
  --ignore 'boots[*].hardware_accesses.phases[*].on_aps.bytes_filled' \
  --ignore 'boots[*].hardware_accesses.phases[*].on_aps.bytes_copied' \
  --ignore 'boots[*].hardware_accesses.phases[*].estimate_ns' \
  --ignore 'boots[*].hardware_accesses.phases[*].estimate_ns_by_kind' \
  --ignore 'boots[*].hardware_accesses.phases[phase=smm_core]' \
  --ignore 'boots[*].smram.coprocessor_mutex.x86_polls_while_held' \
  "$out/host/report.json" "$out/image/report.json"
