#!/usr/bin/env bash
# Boots the delivered image on one machine in the simulator and inside OVMF under QEMU, and compares
# the two reports with `ccxsim diff`. Only what cannot be the same is left out of the comparison:
# the ovmf preset (data/diff-sim-vs-ovmf.ignore) lists each such field and why it differs.
# Exits 77 (skipped) with the reason when QEMU or OVMF is missing.
#
#   ovmf-matches-sim.sh CCXSIM IMAGE OUTDIR MACHINE
set -euo pipefail
ccxsim=$1
image=$2
out=$3
machine=$4
code=${OVMF_CODE:-/usr/share/OVMF/OVMF_CODE_4M.fd}
if ! command -v qemu-system-x86_64 >/dev/null; then echo "skipped: qemu-system-x86_64 is not installed"; exit 77; fi
if [ ! -f "$code" ]; then echo "skipped: OVMF's code $code is missing"; exit 77; fi
rm -rf "$out"
mkdir -p "$out"
# The machine's own expectations decide both exit statuses, so they are the same on both sides.
set +e
"$ccxsim" boot --machine "$machine" --image "$image" --out "$out/sim" >"$out/sim.txt" 2>&1
sim_status=$?
"$ccxsim" boot --machine "$machine" --image "$image" --firmware ovmf --out "$out/ovmf" >"$out/ovmf.txt" 2>&1
ovmf_status=$?
set -e
if [ "$sim_status" != "$ovmf_status" ]; then
  echo "the simulator's boot exited $sim_status, the boot inside OVMF $ovmf_status:"
  tail -20 "$out/ovmf.txt"
  exit 1
fi
grep -m1 '^image traps:' "$out/ovmf.txt"
exec "$ccxsim" diff --preset ovmf "$out/sim/report.json" "$out/ovmf/report.json"
