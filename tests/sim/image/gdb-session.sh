#!/usr/bin/env bash
# Debugs the delivered image as a developer does (`ccxsim boot --image IMAGE --gdb`, the commands on
# standard input), over two boots so that the symbols are dropped and loaded again. gdb must stop in
# the driver's entry point, a function it calls and a notify function, each in the image's .debug
# file with its source file; the backtraces must unwind through the image into the simulator; and
# the boots must run to their end.
#
#   gdb-session.sh CCXSIM IMAGE OUTDIR
# Exits 77 (skipped) where gdb is missing or the host cannot trap the image's instructions.
set -euo pipefail
ccxsim=$1
image=$2
out=$3
if ! command -v gdb >/dev/null; then
  echo "gdb-session: skipped: gdb is not installed (scripts/setup installs it)"
  exit 77
fi
rm -rf "$out"
mkdir -p "$out"
cat >"$out/commands" <<'EOF'
set width 0
break CcxImage::CcxRellDxeEntryPoint
break CcxImage::QorvexCcxRellDxeInit
break CcxImage::CcxReadyToBoot
run
info symbol $pc
continue
bt 3
info symbol $pc
continue
bt 2
info symbol $pc
continue
info symbol $pc
python print("image symbol files loaded: %d" % sum(1 for o in gdb.objfiles() if o.filename.endswith(".efi.debug")))
delete
continue
EOF
status=0
"$ccxsim" boot --image "$image" --boots 2 --gdb <"$out/commands" >"$out/session.txt" 2>&1 || status=$?
if grep -q "no CPUID faulting\|boots only in the normal build" "$out/session.txt"; then
  echo "gdb-session: skipped: $(grep -m1 -o "no CPUID faulting.*\|boots only in the normal build.*" "$out/session.txt")"
  exit 77
fi

failed=0
expect() {
  local what=$1 pattern=$2
  if grep -Eq -- "$pattern" "$out/session.txt"; then
    echo "ok: $what"
  else
    echo "FAILED: $what: no line matches /$pattern/"
    failed=1
  fi
}
symbols="${image##*/}\\.debug"
expect "gdb session ended normally" "^\[Inferior 1 \(process [0-9]+\) exited normally\]"
[ "$status" -eq 0 ] || { echo "FAILED: ccxsim --gdb exited with $status"; failed=1; }
expect "symbols loaded where the image is placed" "^ccxsim-gdb: ${image##*/} placed at 0x[0-9a-f]+, symbols from .*/$symbols$"
expect "stop in the driver's entry point, with its source file" \
  "hit Breakpoint 1(\.[0-9]+)?, CcxImage::CcxRellDxeEntryPoint \(ImageHandle=.*\) at .*driver/DriverEntry\.cpp:[0-9]+$"
expect "the entry point lies in the image" \
  "^\(gdb\) CcxImage::CcxRellDxeEntryPoint\(void\*, _EFI_SYSTEM_TABLE\*\) in section \.text of .*/$symbols$"
expect "backtrace of a function the entry point calls" \
  "^(\(gdb\) )?#0  CcxImage::QorvexCcxRellDxeInit \(.*\) at .*driver/CcxRellDxeInit\.cpp:[0-9]+$"
expect "the backtrace unwinds through the image's entry point" \
  "^#1  0x[0-9a-f]+ in CcxImage::CcxRellDxeEntryPoint \(.*\) at .*driver/DriverEntry\.cpp:[0-9]+$"
expect "and on into the simulator's boot runner" "^#2  0x[0-9a-f]+ in .* at .*sim/platform/BootRunner\.cpp:[0-9]+$"
expect "backtrace of the ready-to-boot notify function" \
  "^(\(gdb\) )?#0  CcxImage::CcxReadyToBoot \(Event=.*\) at .*driver/BootEvents\.cpp:[0-9]+$"
expect "the notify function was called by the simulated event dispatch" \
  "^#1  0x[0-9a-f]+ in sim::EventSystem::DispatchDownTo .* at .*sim/uefi/EventSystem\.cpp:[0-9]+$"
expect "the notify function lies in the image" \
  "^\(gdb\) CcxImage::CcxReadyToBoot\(void\*, void\*\) in section \.text of .*/$symbols$"
expect "the second boot loads the symbols again, in place of the first's" "^(\(gdb\) )?image symbol files loaded: 1$"
expect "both boots ran to their end under gdb" "^every boot ran to its end$"
if grep -q "received signal" "$out/session.txt"; then
  echo "FAILED: a signal stopped the session: $(grep -m1 "received signal" "$out/session.txt")"
  failed=1
fi
if [ "$failed" -ne 0 ]; then
  echo "--- the session ($out/session.txt) ---"
  grep -v "^\[New Thread\|^\[Thread" "$out/session.txt" | head -120
fi
exit "$failed"
