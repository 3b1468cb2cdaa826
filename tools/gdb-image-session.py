# gdb's side of `ccxsim boot --image FILE --gdb`, which runs ccxsim again under gdb with this file
# (by hand: gdb -x build/tools/gdb-image-session.py --args build/tools/ccxsim boot --image FILE).
#
# The simulator runs the delivered image natively and takes each instruction the image may not
# execute as a SIGSEGV that its own handler emulates (sim/image/TrapHandler.cpp; SIGSEGV is the
# only signal it uses), so gdb passes that signal on without stopping or printing. Each time a boot
# places the image, the simulator fills the record CcxsimDebuggerImage and calls
# CcxsimImageLoaded (sim/image/DebuggerHook.h); a breakpoint there loads the image's symbols at the
# placed address, and one on CcxsimImageUnloaded drops them when the boot ends. Neither stops.
import struct

import gdb

# The record's fields, eight bytes each, in sim/image/DebuggerHook.h's order.
RECORD_FIELDS = ("base", "linked_base", "code_address", "symbol_file", "note", "image_name")
RECORD_FORMAT = "<" + "Q" * len(RECORD_FIELDS)


def read_record():
    address = int(gdb.parse_and_eval("(unsigned long long) &CcxsimDebuggerImage"))
    raw = gdb.selected_inferior().read_memory(address, struct.calcsize(RECORD_FORMAT))
    return dict(zip(RECORD_FIELDS, struct.unpack(RECORD_FORMAT, bytes(raw))))


def read_string(address):
    if address == 0:
        return ""
    return gdb.Value(address).cast(gdb.lookup_type("char").pointer()).string()


def quoted(path):
    return '"' + path.replace("\\", "\\\\").replace('"', '\\"') + '"'


class ImageLoaded(gdb.Breakpoint):
    def __init__(self):
        super().__init__("CcxsimImageLoaded", internal=True)
        self.silent = True

    def stop(self):
        record = read_record()
        symbol_file = read_string(record["symbol_file"])
        note = read_string(record["note"])
        # The symbol file's addresses are linked for its ImageBase; every section moves by as much.
        offset = (record["base"] - record["linked_base"]) % (1 << 64)
        gdb.execute("add-symbol-file %s -o %#x" % (quoted(symbol_file), offset), to_string=True)
        print("ccxsim-gdb: %s placed at %#x, symbols from %s" %
              (read_string(record["image_name"]), record["base"], symbol_file))
        if note:
            print("ccxsim-gdb: function names only, no source lines: " + note)
        return False


class ImageUnloaded(gdb.Breakpoint):
    def __init__(self):
        super().__init__("CcxsimImageUnloaded", internal=True)
        self.silent = True

    def stop(self):
        gdb.execute("remove-symbol-file -a %#x" % read_record()["code_address"], to_string=True)
        return False


gdb.execute("handle SIGSEGV nostop noprint pass", to_string=True)
# Breakpoints in the image are set before it is placed; they resolve when its symbols load.
gdb.execute("set breakpoint pending on")
ImageLoaded()
ImageUnloaded()
print("ccxsim-gdb: the image's symbols load when a boot places it. Set breakpoints in it, e.g.\n"
      "  break CcxRellDxeImageEntry\n"
      "  break CcxImage::CcxReadyToBoot\n"
      "then type run.")
