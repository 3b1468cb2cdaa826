#!/usr/bin/env bash
# What ccxsim boot does with the files a run keeps and writes: a second run on the same output
# folder or variable store is refused, naming the first; a run removes the previous run's
# report.json before it writes anything, so one killed leaves none; its temporary folder goes with
# SIGTERM; a store that cannot be written ends the run; an --out folder whose name starts with '-'
# works with iasl; an empty option value or file name is refused.
#
#   ccxsim-run-files.sh CCXSIM
set -uo pipefail
ccxsim=$(realpath "$1")
dir=$(mktemp -d)
background=()
trap 'for pid in "${background[@]}"; do kill -9 "$pid" 2>/dev/null; done; chmod -R u+w "$dir"; rm -rf "$dir"' EXIT
failed=0
fail() { echo "FAILED: $*"; failed=1; }

# Runs ccxsim; leaves its exit status in $status and its output in $dir/output.
run() {
  status=0
  "$ccxsim" "$@" >"$dir/output" 2>&1 || status=$?
}
expect() {  # STATUS REGEX WHAT
  if [ "$status" != "$1" ] || ! grep -Eq -- "$2" "$dir/output"; then
    fail "$3: exit status $status (expected $1), output:"
    tail -5 "$dir/output"
  fi
}
# Waits until FILE is there and not empty (a lock file holds a process ID), up to 30 s.
wait_for() {
  for _ in $(seq 300); do
    [ -s "$1" ] && return 0
    sleep 0.1
  done
  fail "no file $1 appeared"
  return 1
}

# A complete run leaves a report; the next run on the folder removes it before its first boot, and
# a second run meanwhile is refused, naming the first. SIGTERM ends the first without a report and
# without its temporary folder.
out=$dir/out
mkdir -p "$dir/tmp"
run boot --out "$out"
expect 0 "report written to" "a first complete run"
[ -f "$out/report.json" ] || fail "the complete run wrote no report.json"
TMPDIR=$dir/tmp "$ccxsim" boot --boots 1000 --out "$out" >"$dir/long.txt" 2>&1 &
long=$!
background+=("$long")
if wait_for "$out/.ccxsim.lock"; then
  # The temporary folder comes after the lock and the removal of the previous run's files.
  for _ in $(seq 300); do
    ls "$dir/tmp" | grep -q '^ccxsim-' && break
    sleep 0.1
  done
  ls "$dir/tmp" | grep -q '^ccxsim-' || fail "the run has no temporary folder under TMPDIR"
  [ -e "$out/report.json" ] && fail "the previous run's report.json is still there while a new run boots"
  run boot --out "$out"
  expect 2 "output folder '$out' is in use by another run: process $long holds its lock file '$out/.ccxsim.lock'" \
    "a second run on the same --out"
fi
kill -TERM "$long"
wait "$long"
long_status=$?
[ "$long_status" = 143 ] || fail "the run sent SIGTERM ended with status $long_status, not 143"
[ -e "$out/report.json" ] && fail "the run ended by SIGTERM left a report.json"
leftover=$(ls "$dir/tmp")
[ -z "$leftover" ] || fail "SIGTERM left temporary folders behind: $leftover"

# The same for a variable store.
store=$dir/vars.store
"$ccxsim" boot --boots 1000 --var-store "$store" >"$dir/long.txt" 2>&1 &
long=$!
background+=("$long")
if wait_for "$store.lock" && wait_for "$store"; then
  run boot --var-store "$store"
  expect 2 "variable store '$store' is in use by another run: process $long holds its lock file '$store.lock'" \
    "a second run on the same --var-store"
fi
kill -TERM "$long"
wait "$long"

# A store that cannot be written ends the run before any boot, the file named with the reason.
[ -f "$store" ] || fail "the boots wrote no store"
chmod 0444 "$store"
run boot --var-store "$store"
expect 2 "variable store '$store' cannot be written: it is read-only" "a read-only store"
run boot --var-store "$dir/missing/vars.store"
expect 2 "cannot create its lock file '$dir/missing/vars.store.lock': No such file or directory" \
  "a store in a missing folder"

# A store write that fails during a boot (the file-size limit, its signal ignored, stands in for a
# full disk): the driver is told, the file stays as it was, and the run ends with exit status 4.
big=$dir/big.store
{
  echo "ccx-variable-store 2"
  printf 'F2CF482A-CEF7-46E5-9324-321CC054789A 00000007 Big %01400d\n' 0
  echo end
} >"$big"
cp "$big" "$dir/big.before"
(trap '' XFSZ; ulimit -f 1; exec "$ccxsim" boot --boots 2 --var-store "$big") 2>&1 | cat >"$dir/output"
status=${PIPESTATUS[0]}
expect 4 "exit status 4: boot 1 could not keep a variable: variable store '$big' cannot be written: cannot write '$big.tmp.[A-Za-z0-9]{6}': File too large" \
  "a store write that fails during a boot"
cmp -s "$big" "$dir/big.before" || fail "the store changed although its write failed"
[ -z "$(ls "$dir" | grep 'big.store.tmp')" ] || fail "the failed write left its temporary file"

# An output folder named like an option: every path handed to iasl or cd is still a path.
(cd "$dir" && "$ccxsim" boot --out -dir >"$dir/output" 2>&1)
status=$?
expect 0 "report written to -dir/report.json" "--out -dir"
if command -v iasl >/dev/null; then
  [ -s "$dir/-dir/acpi/SSDT-CPC.aml" ] || fail "--out -dir: iasl did not compile -dir/acpi/SSDT-CPC.dsl"
fi

# An empty value is not the option left out.
for option in --machine --out --trace --var-store; do
  run boot "$option" ""
  expect 2 "ccxsim: $option needs a value, not an empty one" "$option \"\""
done
run machine ""
expect 2 "ccxsim: machine takes a description file, not an empty name" "machine \"\""
run tables ""
expect 2 "ccxsim: tables takes a directory or file, not an empty name" "tables \"\""

[ "$failed" = 0 ] && echo "run files check: passed"
exit "$failed"
