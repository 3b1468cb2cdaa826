# Bad input for the files ccxsim boot keeps and writes: the variable store, the output folder and
# the options naming them. Sourced by the campaign runner, which gives $CCXSIM (the ccxsim binary),
# $WORK (a fresh scratch folder) and $MACHINES (the repository's machines/ folder), and runs each
#   bad_case NAME 'EXTENDED-REGEX' COMMAND ARGS...
# with a time limit, requiring an exit status from 1 to 125 and output matching the expression.

store_header='ccx-variable-store 2'
store_line='F2CF482A-CEF7-46E5-9324-321CC054789A 00000007 DownCoreStatus 0102'

# Not a regular file: refused before a byte is read, so neither blocks nor fills the memory.
bad_case store-dev-zero '/dev/zero \(variable store\): is a character device, not a regular file' \
  "$CCXSIM" boot --var-store /dev/zero
mkfifo "$WORK/store.fifo"
bad_case store-fifo 'store\.fifo \(variable store\): is a FIFO, not a regular file' \
  "$CCXSIM" boot --var-store "$WORK/store.fifo"
mkdir -p "$WORK/store-folder"
bad_case store-folder 'store-folder \(variable store\): is a folder, not a regular file' \
  "$CCXSIM" boot --var-store "$WORK/store-folder"
truncate -s 17M "$WORK/store-huge"
bad_case store-over-the-cap 'store-huge \(variable store\): is 17825792 bytes, over the limit of 16777216 bytes' \
  "$CCXSIM" boot --var-store "$WORK/store-huge"

# Cut short: before its closing line, or inside a value (which alone would read as a shorter one).
printf '%s\n%s\n' "$store_header" "$store_line" >"$WORK/store-cut-before-end"
bad_case store-truncated "store-cut-before-end' is truncated: it ends at line 2 without the line 'end'" \
  "$CCXSIM" boot --var-store "$WORK/store-cut-before-end"
printf '%s\n%s' "$store_header" "${store_line%02}" >"$WORK/store-cut-in-value"
bad_case store-truncated-in-a-value "store-cut-in-value' is truncated: it ends at line 2" \
  "$CCXSIM" boot --var-store "$WORK/store-cut-in-value"

# Corrupted: a damaged GUID, odd hexadecimal digits, binary garbage.
printf '%s\n%s\nend\n' "$store_header" "F2CF482A-CEF7-46E5-93@4-321CC054789A 00000007 DownCoreStatus 01" \
  >"$WORK/store-bad-guid"
bad_case store-corrupted-guid "store-bad-guid' line 2: 'F2CF482A-CEF7-46E5-93@4-321CC054789A' is not a GUID" \
  "$CCXSIM" boot --var-store "$WORK/store-bad-guid"
printf '%s\n%s\nend\n' "$store_header" "${store_line}3" >"$WORK/store-odd-data"
bad_case store-corrupted-data "store-odd-data' line 2: data is not a non-empty sequence of hexadecimal byte pairs" \
  "$CCXSIM" boot --var-store "$WORK/store-odd-data"
printf '\177ELF\002\001\001\000\000\000\000\000\000\000\000\000\003\000>\000' >"$WORK/store-garbage"
bad_case store-garbage "store-garbage' line 1: expected the header 'ccx-variable-store 2'" \
  "$CCXSIM" boot --var-store "$WORK/store-garbage"

# Cannot be written: ends the run before any boot, naming the file and the reason.
bad_case store-missing-folder \
  "variable store '$WORK/no-such-folder/vars.store': cannot create its lock file '$WORK/no-such-folder/vars.store.lock': No such file or directory" \
  "$CCXSIM" boot --var-store "$WORK/no-such-folder/vars.store"
printf '%s\n%s\nend\n' "$store_header" "$store_line" >"$WORK/store-read-only"
chmod 0444 "$WORK/store-read-only"
bad_case store-read-only "variable store '$WORK/store-read-only' cannot be written: it is read-only" \
  "$CCXSIM" boot --var-store "$WORK/store-read-only"

# A symbolic link planted at the temporary name the store once used (and at the unique ones' stem)
# is not followed: ccxsim must succeed, write the store, and leave the link's target unchanged. The
# check then reports that outcome as a refusal (exit 1), so that the case passes only when all of it
# held; a changed target or an unwritten store exits 0 and fails the case.
mkdir -p "$WORK/planted"
printf 'keep me\n' >"$WORK/planted/victim"
ln -s "$WORK/planted/victim" "$WORK/planted/vars.store.tmp"
ln -s "$WORK/planted/victim" "$WORK/planted/vars.store.tmp.XXXXXX"
bad_case store-planted-symlink 'planted symlink refused: its target is unchanged and the store was written \(ccxsim exit 0\)' \
  bash -c '
    "$1" boot --var-store "$2/vars.store" >"$2/boot.txt" 2>&1
    status=$?
    if [ "$(cat "$2/victim")" != "keep me" ]; then echo "the symlink target was overwritten"; exit 0; fi
    if ! grep -qx end "$2/vars.store" 2>/dev/null; then echo "the store was not written (ccxsim exit $status)"; exit 0; fi
    echo "planted symlink refused: its target is unchanged and the store was written (ccxsim exit $status)"
    exit 1' _ "$CCXSIM" "$WORK/planted"

# An empty value is not the option left out.
bad_case machine-empty 'ccxsim: --machine needs a value, not an empty one' "$CCXSIM" boot --machine ""
bad_case out-empty 'ccxsim: --out needs a value, not an empty one' "$CCXSIM" boot --out ""
bad_case trace-empty 'ccxsim: --trace needs a value, not an empty one' "$CCXSIM" boot --trace ""
bad_case var-store-empty 'ccxsim: --var-store needs a value, not an empty one' "$CCXSIM" boot --var-store ""

# A second run while another holds the lock (held here from bash with flock, the holder's process
# ID written into the lock file as ccxsim writes its own) is refused, naming that process.
bad_case store-locked "variable store '$WORK/locked.store' is in use by another run: process 4242 holds its lock file '$WORK/locked.store.lock'" \
  bash -c 'echo 4242 >"$2.lock" && exec 9<"$2.lock" && flock -n 9 && "$1" boot --var-store "$2"' _ "$CCXSIM" "$WORK/locked.store"
mkdir -p "$WORK/locked-out"
bad_case out-locked "output folder '$WORK/locked-out' is in use by another run: process 4243 holds its lock file '$WORK/locked-out/.ccxsim.lock'" \
  bash -c 'echo 4243 >"$2/.ccxsim.lock" && exec 9<"$2/.ccxsim.lock" && flock -n 9 && "$1" boot --out "$2"' _ "$CCXSIM" "$WORK/locked-out"

# An output folder that is a regular file.
printf 'not a folder\n' >"$WORK/out-is-a-file"
bad_case out-regular-file "ccxsim: --out '$WORK/out-is-a-file' is not a folder" \
  "$CCXSIM" boot --out "$WORK/out-is-a-file"
