# Bad machine descriptions, cost models and reports: each must be refused at once, with an exit
# status from 1 to 125 and a message that names the file and what is wrong with it.
#
# Sourced by the runner, which gives $CCXSIM (the ccxsim binary), $WORK (a fresh scratch folder)
# and $MACHINES (the repository's machines/ folder), and defines
#   bad_case NAME 'EXTENDED-REGEX' COMMAND ARGS...
# which runs COMMAND under a time limit and checks its exit status and output (stdout and stderr).
# The inputs are made here, under $WORK.

# An object over the built-in default machine, written to $WORK/NAME.json.
bad_machine() {
  printf '{"extends": "default", %s}\n' "$2" >"$WORK/$1.json"
}

# Not regular files: a FIFO nobody writes would block a reader, /dev/zero would fill memory.
mkfifo "$WORK/fifo.json"
mkdir -p "$WORK/folder.json"
bad_case machine-dev-zero '/dev/zero \(machine description\): is a character device, not a regular file' \
  "$CCXSIM" machine /dev/zero
bad_case machine-fifo 'fifo\.json \(machine description\): is a FIFO, not a regular file' \
  "$CCXSIM" machine "$WORK/fifo.json"
bad_case boot-machine-dev-zero '/dev/zero \(machine description\): is a character device' \
  "$CCXSIM" boot --machine /dev/zero
bad_case boot-machine-fifo 'fifo\.json \(machine description\): is a FIFO' \
  "$CCXSIM" boot --machine "$WORK/fifo.json"
bad_case boot-machine-folder 'folder\.json \(machine description\): is a folder, not a regular file' \
  "$CCXSIM" boot --machine "$WORK/folder.json"
bad_case machine-folder 'folder\.json \(machine description\): is a folder' \
  "$CCXSIM" machine "$WORK/folder.json"
bad_case cost-model-dev-zero '/dev/zero \(cost model\): is a character device, not a regular file' \
  "$CCXSIM" boot --cost-model /dev/zero
bad_case cost-model-fifo 'fifo\.json \(cost model\): is a FIFO, not a regular file' \
  "$CCXSIM" boot --cost-model "$WORK/fifo.json"
bad_case diff-dev-zero '/dev/zero \(report\): is a character device, not a regular file' \
  "$CCXSIM" diff /dev/zero "$MACHINES/default.json"
bad_case diff-fifo 'fifo\.json \(report\): is a FIFO, not a regular file' \
  "$CCXSIM" diff "$MACHINES/default.json" "$WORK/fifo.json"
bad_case diff-ignore-file-fifo 'fifo\.json \(ignore file\): is a FIFO, not a regular file' \
  "$CCXSIM" diff --ignore-file "$WORK/fifo.json" "$MACHINES/default.json" "$MACHINES/default.json"
printf '{"extends": "fifo.json"}' >"$WORK/extends-fifo.json"
bad_case extends-fifo 'extends-fifo\.json: extends: cannot open the description "fifo\.json": .*is a FIFO' \
  "$CCXSIM" machine "$WORK/extends-fifo.json"

# Over the 64 MiB cap, without taking the space (a sparse file).
truncate -s 65M "$WORK/huge.json"
bad_case machine-over-cap 'huge\.json \(machine description\): is 68157440 bytes, over the limit of 67108864 bytes' \
  "$CCXSIM" machine "$WORK/huge.json"
printf '{"extends": "huge.json"}' >"$WORK/extends-huge.json"
bad_case extends-over-cap 'extends-huge\.json: extends: cannot open the description "huge\.json": .*over the limit' \
  "$CCXSIM" machine "$WORK/extends-huge.json"
bad_case cost-model-over-cap 'huge\.json \(cost model\): is 68157440 bytes, over the limit' \
  "$CCXSIM" boot --cost-model "$WORK/huge.json"

# Nesting far past the 64 levels every reader allows.
python3 -c 'import sys; n = 100000
sys.stdout.write("{\"extends\": \"default\", \"name\": " + "[" * n + "]" * n + "}")' \
  >"$WORK/deep.json"
python3 -c 'import sys; n = 100000; sys.stdout.write("[" * n + "]" * n)' >"$WORK/deep-report.json"
bad_case machine-deep 'deep\.json: name(\[0\])+: nested deeper than 64 levels' "$CCXSIM" machine "$WORK/deep.json"
bad_case boot-machine-deep 'deep\.json: name(\[0\])+: nested deeper than 64 levels' \
  "$CCXSIM" boot --machine "$WORK/deep.json"
cp "$WORK/deep-report.json" "$WORK/deep-cost-model.json"
bad_case cost-model-deep 'deep-cost-model\.json: (\[0\])+: nested deeper than 64 levels' \
  "$CCXSIM" boot --cost-model "$WORK/deep-cost-model.json"
bad_case diff-deep 'deep-report\.json: (\[0\])+: nested deeper than 64 levels' \
  "$CCXSIM" diff "$WORK/deep-report.json" "$MACHINES/default.json"

# A chain of 1,000 descriptions, each extending the next, and two that extend each other.
mkdir -p "$WORK/chain"
for Link in $(seq 0 998); do printf '{"extends": "c%d.json"}' $((Link + 1)) >"$WORK/chain/c$Link.json"; done
printf '{"extends": "default"}' >"$WORK/chain/c999.json"
bad_case extends-chain 'c31\.json: extends: "c32\.json" would make a chain of more than 32 description files' \
  "$CCXSIM" machine "$WORK/chain/c0.json"
bad_case boot-extends-chain 'would make a chain of more than 32 description files, starting at .*c0\.json' \
  "$CCXSIM" boot --machine "$WORK/chain/c0.json"
printf '{"extends": "cycle-b.json"}' >"$WORK/cycle-a.json"
printf '{"extends": "cycle-a.json"}' >"$WORK/cycle-b.json"
bad_case extends-cycle 'extend each other in a circle: .*cycle-a\.json -> .*cycle-b\.json -> .*cycle-a\.json' \
  "$CCXSIM" machine "$WORK/cycle-a.json"

# One key twice in an object: the later value would silently win.
bad_machine duplicate-top '"name": "a", "name": "b"'
bad_machine duplicate-nested '"topology": {"sockets": 1, "sockets": 2}'
bad_case duplicate-key-top 'duplicate-top\.json: \(top level\): the key "name" appears twice in this object' \
  "$CCXSIM" machine "$WORK/duplicate-top.json"
bad_case duplicate-key-nested 'duplicate-nested\.json: topology: the key "sockets" appears twice in this object' \
  "$CCXSIM" boot --machine "$WORK/duplicate-nested.json"
printf '{"description": "x", "description": "y", "latencies": {}}' >"$WORK/duplicate-cost-model.json"
bad_case duplicate-key-cost-model 'duplicate-cost-model\.json: \(top level\): the key "description" appears twice' \
  "$CCXSIM" boot --cost-model "$WORK/duplicate-cost-model.json"
printf '{"boots": [{"entry_status": 0, "entry_status": 1}]}' >"$WORK/duplicate-report.json"
bad_case duplicate-key-report 'duplicate-report\.json: boots\[0\]: the key "entry_status" appears twice' \
  "$CCXSIM" diff "$WORK/duplicate-report.json" "$WORK/duplicate-report.json"

# One number under two spellings in one map.
bad_machine msr-spellings '"msrs": {"0xC001001D": "0x80000000", "0xc001001d": "0x0"}'
bad_machine msr-decimal '"msrs": {"0xC001001D": "0x80000000", "3221291037": "0x0"}'
bad_machine cpuid-spellings '"cpuid": {"0x80000008": {"eax": "0x3030"}, "2147483656": {"eax": "0x3028"}}'
bad_machine cpuid-subleaf-spellings '"cpuid": {"0x8000001D.1": {"eax": "0"}, "0x8000001d.0x1": {"eax": "0"}}'
bad_case msr-two-spellings '"0xC001001D" and "0xc001001d" are both MSR 0xC001001D' \
  "$CCXSIM" machine "$WORK/msr-spellings.json"
bad_case msr-decimal-and-hex '"0xC001001D" and "3221291037" are both MSR 0xC001001D' \
  "$CCXSIM" boot --machine "$WORK/msr-decimal.json"
bad_case cpuid-two-spellings 'cpuid\.2147483656: "0x80000008" and "2147483656" are both leaf 0x80000008' \
  "$CCXSIM" machine "$WORK/cpuid-spellings.json"
bad_case cpuid-subleaf-two-spellings 'are both leaf 0x8000001D sub-leaf 0x1' \
  "$CCXSIM" machine "$WORK/cpuid-subleaf-spellings.json"

# The address map: past the 48-bit physical address width, or one range over another.
bad_machine smram-too-high '"smram": [{"base": "0x1000000000000", "size": "0x400000", "state": "0x0A"}]'
bad_machine smram-overlap \
  '"smram": [{"base": "0x7F000000", "size": "0x400000"}, {"base": "0x7F200000", "size": "0x400000"}]'
bad_machine smram-in-dram '"smram": [{"base": "0x40000000", "size": "0x400000", "state": "0x0A"}]'
bad_machine dram-too-high \
  '"memory": {"dram": [{"base": "0x100000", "size": "0x7EF00000"}, {"base": "0x4000000000000", "size": "0x100000"}]}'
bad_machine window-over-coprocessor '"msrs": {"0xC0010058": "0x00000000F0000021"}'
bad_machine window-unaligned '"msrs": {"0xC0010058": "0x000003FB08000021"}'
bad_machine pool-in-dram '"mmio_pool": {"base": "0x40000000", "size": "0x10000000"}'
bad_case smram-beyond-width \
  'smram\[0\]: the range \(0x1000000000000-0x10000003FFFFF\) ends above the processor.s physical address space of 48' \
  "$CCXSIM" machine "$WORK/smram-too-high.json"
bad_case boot-smram-beyond-width 'smram\[0\]: .*ends above the processor.s physical address space of 48 bits' \
  "$CCXSIM" boot --machine "$WORK/smram-too-high.json"
bad_case smram-overlapping 'smram\[1\]: the range \(0x7F200000-0x7F5FFFFF\) overlaps smram\[0\]' \
  "$CCXSIM" machine "$WORK/smram-overlap.json"
bad_case smram-over-dram 'smram\[0\]: the range \(0x40000000-0x403FFFFF\) overlaps memory\.dram\[0\]' \
  "$CCXSIM" boot --machine "$WORK/smram-in-dram.json"
bad_case dram-beyond-width 'memory\.dram\[1\]: the range .* ends above the processor.s physical address space' \
  "$CCXSIM" boot --machine "$WORK/dram-too-high.json"
bad_case window-overlapping 'msrs\.0xC0010058: the PCI configuration window \(0xF0000000-0xFFFFFFFF\) overlaps' \
  "$CCXSIM" boot --machine "$WORK/window-over-coprocessor.json"
bad_case window-not-aligned \
  'msrs\.0xC0010058: the PCI configuration window starts at 0x3FB08000000, which is not 256 MB aligned' \
  "$CCXSIM" machine "$WORK/window-unaligned.json"
bad_case pool-over-dram 'mmio_pool\.base: the fabric MMIO pool \(0x40000000-0x4FFFFFFF\) overlaps memory\.dram\[0\]' \
  "$CCXSIM" machine "$WORK/pool-in-dram.json"

# What a boot could not run, found by ccxsim machine: a second die numbered like the first, and a
# machine without the register the driver finds the processors' configuration registers through.
bad_machine three-dies '"topology": {"dies_per_socket": 3}'
bad_machine no-configuration-base '"msrs": {"0xC0010058": null}'
bad_case dies-per-socket 'three-dies\.json: topology\.dies_per_socket: a socket of this processor has one die' \
  "$CCXSIM" machine "$WORK/three-dies.json"
bad_case boot-dies-per-socket 'topology\.dies_per_socket: a socket of this processor has one die' \
  "$CCXSIM" boot --machine "$WORK/three-dies.json"
bad_case missing-reset-msr 'msrs: the processors need MSR 0xC0010058' \
  "$CCXSIM" machine "$WORK/no-configuration-base.json"
bad_case boot-missing-reset-msr 'msrs: the processors need MSR 0xC0010058' \
  "$CCXSIM" boot --machine "$WORK/no-configuration-base.json"

# A table file to decode that never ends.
bad_case tables-dev-zero '/dev/zero \(table\): is a character device, not a regular file' "$CCXSIM" tables /dev/zero
