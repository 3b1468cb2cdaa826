#!/bin/sh
# Boots a machine with `ccxsim boot --out DIR` and reads the tables it wrote with the real tools:
# iasl must disassemble PCCT.dat and HEST.dat and dmidecode must decode smbios.bin, neither with a
# complaint. Usage: ccxsim-tables.sh CCXSIM [ccxsim boot arguments...]
set -eu
ccxsim=$1
shift
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$ccxsim" boot "$@" --out "$dir" > "$dir/boot.txt"
for file in acpi/PCCT.dat acpi/HEST.dat smbios.bin; do
  [ -s "$dir/$file" ] || { echo "ccxsim wrote no $file"; exit 1; }
done
(cd "$dir/acpi" && iasl -d PCCT.dat HEST.dat) > "$dir/iasl.txt" 2>&1
if grep -Eqi "warning|incorrect checksum|invalid" "$dir/iasl.txt" "$dir/acpi/PCCT.dsl" "$dir/acpi/HEST.dsl"; then
  cat "$dir/iasl.txt"; exit 1
fi
grep -q "Generic Communications Subspace" "$dir/acpi/PCCT.dsl"
[ "$(grep -c "Bank Number :" "$dir/acpi/HEST.dsl")" -eq 28 ]
dmidecode --from-dump "$dir/smbios.bin" > "$dir/dmi.txt" 2>&1
if grep -Eqi "checksum|invalid entry length" "$dir/dmi.txt"; then
  cat "$dir/dmi.txt"; exit 1
fi
grep -q "Manufacturer: Qorvex, Inc." "$dir/dmi.txt"
echo "tables check: passed"
