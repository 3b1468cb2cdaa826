#!/usr/bin/env bash
# Runs ccxsim against bad inputs, as a careless or hostile user would give them: every *-cases.sh
# file beside this one declares its cases (in a scratch folder of its own), and each case must end
# with a clear error and an exit status of its own: no death by a signal, no hang, no silent success.
#
#   run-bad-inputs.sh CCXSIM IMAGE MACHINES WORKDIR
#
# IMAGE is the delivered driver image ("" when it is not built: the image cases are skipped).
# The last line gives the figures: tried, errors, crashes, hangs, silent, unclear.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
CCXSIM=$1
IMAGE=$2
MACHINES=$3
workroot=$4
rm -rf "$workroot"
mkdir -p "$workroot"
CASE_SECONDS=${CASE_SECONDS:-30}

tried=0 errors=0 crashes=0 hangs=0 silent=0 unclear=0 survived=0
failures=()

# The image shares ccxsim's address space, so where a damaged image's stray stores land depends on
# where the host's memory lies: without address randomization every run of a case behaves alike.
same_addresses=()
if setarch "$(uname -m)" -R true 2>/dev/null; then same_addresses=(setarch "$(uname -m)" -R); fi

# Runs a command with the case time limit; sets status and output.
run_bounded() {
  output=$(timeout -k 5 "$CASE_SECONDS" "${same_addresses[@]}" "$@" 2>&1 </dev/null)
  status=$?
}

# Sorts an outcome that is not an exit status of the program's own.
counted_as_fault() {
  local name=$1
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    hangs=$((hangs + 1))
    failures+=("$name: no end within $CASE_SECONDS s")
    return 0
  fi
  if [ "$status" -gt 128 ]; then
    crashes=$((crashes + 1))
    failures+=("$name: died by signal $((status - 128))")
    return 0
  fi
  return 1
}

# Runs one case; MAY_SUCCEED says whether exit status 0 is an outcome of its own (counted as ran
# unchanged) rather than a silent success.
run_case() {
  local may_succeed=$1 name=$2 regex=$3
  shift 3
  tried=$((tried + 1))
  run_bounded "$@"
  counted_as_fault "$name" && return
  if [ "$status" -eq 0 ] && [ "$may_succeed" = yes ]; then
    survived=$((survived + 1))
  elif [ "$status" -eq 0 ]; then
    silent=$((silent + 1))
    failures+=("$name: exit status 0")
  elif ! grep -Eq -- "$regex" <<<"$output"; then
    unclear=$((unclear + 1))
    failures+=("$name: status $status without /$regex/: $(tail -n 3 <<<"$output" | tr '\n' ' ')")
  else
    errors=$((errors + 1))
  fi
}

# bad_case NAME REGEX COMMAND...: the command must fail (status 1-125) saying what REGEX matches.
bad_case() { run_case no "$@"; }

# survive_case NAME REGEX COMMAND...: for damage that may not matter (a flipped byte the boot never
# runs): the command may succeed, but when it fails its output must say why (REGEX).
survive_case() { run_case yes "$@"; }

for cases in "$here"/*-cases.sh; do
  WORK="$workroot/$(basename "$cases" .sh)"
  mkdir -p "$WORK"
  # shellcheck source=/dev/null
  source "$cases"
done

for failure in "${failures[@]}"; do echo "FAILED $failure"; done
echo "tried $tried, errors $errors, ran unchanged $survived, crashes $crashes, hangs $hangs, silent $silent, unclear $unclear"
[ $((crashes + hangs + silent + unclear)) -eq 0 ]
