#!/usr/bin/env bash
# Checks the firmware image: PE32+, subsystem "EFI boot service driver", base relocations present,
# no import table, and the entry point at the driver's entry symbol.
set -euo pipefail
image=$1
fail() {
  echo "check-image: $image: $*" >&2
  exit 1
}
[ -f "$image" ] || fail "no such file"
headers=$(objdump -x "$image")
grep -q 'file format pei-x86-64' <<<"$headers" || fail "not a PE32+ x86-64 image"
grep -Eq '^Magic[[:space:]]+020b' <<<"$headers" || fail "optional header magic is not 0x20b (PE32+)"
grep -Eq '^Subsystem[[:space:]]+0000000b[[:space:]]+\(EFI boot service driver\)' <<<"$headers" ||
  fail "subsystem is not 11 (EFI boot service driver)"
reloc=$(grep -E '^Entry 5 ' <<<"$headers" | awk '{print $3}')
[ -n "$reloc" ] && [ "$((16#$reloc))" -gt 0 ] || fail "no base-relocation directory"
objdump -h "$image" | grep -q ' \.reloc ' || fail "no .reloc section"
import=$(grep -E '^Entry 1 ' <<<"$headers" | awk '{print $2 $3}')
[ "$((16#$import))" -eq 0 ] || fail "has an import table"
! grep -q 'There is an import table' <<<"$headers" || fail "has an import table"
entry=$(grep -E '^AddressOfEntryPoint' <<<"$headers" | awk '{print $2}')
base=$(grep -E '^ImageBase' <<<"$headers" | awk '{print $2}')
# The symbol's value is relative to its section (section 1 is .text).
symbol=$(objdump -t "$image" | awk '$NF == "CcxRellDxeImageEntry" {print $(NF-1)}' | head -n1)
[ -n "$symbol" ] || fail "no CcxRellDxeImageEntry symbol"
text=$(objdump -h "$image" | awk '$2 == ".text" {print $4}')
[ "$((16#$text - 16#$base + symbol))" -eq "$((16#$entry))" ] || fail "entry point is not CcxRellDxeImageEntry"
echo "check-image: $image: PE32+ EFI boot service driver, relocatable, no imports"
