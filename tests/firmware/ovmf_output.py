"""Reads what a run of OVMF under QEMU recorded: the shell's text and the driver's text on the one
serial line, OVMF's exception dump, and the writes to port 0x80 in QEMU's trace."""

import re
import struct
from dataclasses import dataclass

EXCEPTION_HEADER = re.compile(rb"!!!! X64 Exception Type - ([0-9A-F]{2})\(([^)]*)\)")
# The dump's last line names the image the faulting instruction lies in (or says none was found);
# like the header it is framed by "!!!!".
EXCEPTION_LAST_LINE = re.compile(rb"\r\n!!!! [^\r\n]*!!!!\r\n")
START_IMAGE = re.compile(rb"Image '([^'\r\n]*)' error in (\w+): ([^\r\n]*)\r\n")
PORT80_WRITE = re.compile(r"addr (0x[0-9a-fA-F]+) value (0x[0-9a-fA-F]+) size (\d+)")

POST_CODE_PORT = 0x80


def load_echo_end(serial, image_name):
    """Where the shell's echo of `load <image>` ends, or None. The shell prints each line of
    startup.nsh after its prompt, so everything after this point up to the shell's next output was
    written by the loaded image or by the firmware on its behalf."""
    echo = b"load " + image_name.encode() + b"\r\n"
    position = serial.find(echo)
    return None if position < 0 else position + len(echo)


def start_image_error(serial, start):
    """The shell's message for an image that failed in LoadImage or StartImage, as
    (path, service, status text, end offset), or None."""
    match = START_IMAGE.search(serial, start)
    return None if match is None else (match.group(1).decode(), match.group(2).decode(),
                                       match.group(3).decode(), match.end())


def next_line(serial, start):
    """The text of the line that starts at `start`, for messages."""
    end = serial.find(b"\r\n", start)
    return serial[start:end if end >= 0 else len(serial)].decode("latin-1")


def exception_dump_complete(serial):
    header = EXCEPTION_HEADER.search(serial)
    return header is not None and EXCEPTION_LAST_LINE.search(serial, header.end()) is not None


@dataclass
class ExceptionDump:
    start: int  # offset of the dump's first byte in the serial text
    vector: int
    name: str
    registers: dict  # register name -> value, as OVMF printed them
    image_base: int | None
    entry_point: int | None


def exception_dump(serial):
    header = EXCEPTION_HEADER.search(serial)
    if header is None:
        return None
    # OVMF puts no line break before the header, so every byte before it came from elsewhere.
    start = header.start()
    dump = serial[start:]
    registers = {name.decode(): int(value, 16)
                 for name, value in re.findall(rb"\b([A-Z][A-Z0-9]*)\s+- ([0-9A-F]{16})\b", dump)}
    image = re.search(rb"ImageBase=([0-9A-F]+), EntryPoint=([0-9A-F]+)", dump)
    return ExceptionDump(start, int(header.group(1), 16), header.group(2).decode(), registers,
                         int(image.group(1), 16) if image else None, int(image.group(2), 16) if image else None)


def port80_writes(trace_lines):
    """The OUT instructions to port 0x80 as (width in bytes, value), rebuilt from QEMU's trace.

    QEMU's port-0x80 region takes single bytes, so it splits a 16- or 32-bit write into byte
    writes to 0x80, 0x81, ... in order, the low byte first. A write that starts at 0x80 begins a new
    OUT; the bytes at the following ports continue it. Nothing writes 0x81-0x83 on its own.
    """
    writes = []
    for line in trace_lines.splitlines():
        match = PORT80_WRITE.search(line)
        if match is None:
            continue
        port, value, size = int(match.group(1), 16), int(match.group(2), 16), int(match.group(3))
        if size != 1:
            raise ValueError(f"port-0x80 trace: a {size}-byte access where QEMU splits into bytes: {line}")
        offset = port - POST_CODE_PORT
        if offset == 0:
            writes.append([1, value])
        elif writes and offset == writes[-1][0]:
            writes[-1][1] |= value << (8 * offset)
            writes[-1][0] += 1
        else:
            raise ValueError(f"port-0x80 trace: a byte at port {port:#x} that continues no write: {line}")
    return [tuple(write) for write in writes]


@dataclass
class PeHeader:
    image_base: int
    entry_point_rva: int
    size_of_image: int


def pe_header(path):
    """ImageBase, AddressOfEntryPoint and SizeOfImage of a PE32+ image."""
    with open(path, "rb") as image:
        data = image.read(4096)
    (pe_offset,) = struct.unpack_from("<I", data, 0x3C)
    if data[pe_offset:pe_offset + 4] != b"PE\0\0":
        raise ValueError(f"{path}: no PE signature at offset {pe_offset:#x}")
    optional = pe_offset + 24
    (magic,) = struct.unpack_from("<H", data, optional)
    if magic != 0x20B:
        raise ValueError(f"{path}: optional header magic {magic:#x}, not 0x20b (PE32+)")
    (entry,) = struct.unpack_from("<I", data, optional + 16)
    (base,) = struct.unpack_from("<Q", data, optional + 24)
    (size,) = struct.unpack_from("<I", data, optional + 56)
    return PeHeader(base, entry, size)
