#!/bin/sh
# What ccxsim says of a machine whose settings leave processors out of a table: `ccxsim machine`
# prints the merged description on its output and the warnings on its error stream, and
# `ccxsim boot --out DIR` prints them under the machine header and puts them in report.json;
# neither changes its exit status for them. Usage: ccxsim-warnings.sh CCXSIM MACHINE-FILE
set -eu
ccxsim=$1
machine=$2
warning='WARNING: 192 of 384 processors have APIC IDs of 255 or above.*; set pcd.PcdCcxApicMode to 2 (x2APIC)'
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT

"$ccxsim" machine "$machine" > "$dir/merged.json" 2> "$dir/machine.err" || { echo "ccxsim machine failed"; exit 1; }
grep -q "$warning" "$dir/machine.err" || { echo "ccxsim machine gave no SRAT warning:"; cat "$dir/machine.err"; exit 1; }
if grep -q WARNING "$dir/merged.json"; then echo "the warning went into the merged description"; exit 1; fi

"$ccxsim" boot --machine "$machine" --out "$dir/out" > "$dir/boot.txt" || { echo "ccxsim boot failed"; exit 1; }
# The warning follows the machine header and its description, before the first boot.
head -n 3 "$dir/boot.txt" | grep -q "$warning" || { echo "no warning under the header:"; head -n 5 "$dir/boot.txt"; exit 1; }
grep -q "\"warnings\": \[" "$dir/out/report.json" || { echo "report.json has no machine warnings"; exit 1; }
grep -q "\"$warning" "$dir/out/report.json" || { echo "report.json lacks the SRAT warning"; exit 1; }
echo "warnings check: passed"
