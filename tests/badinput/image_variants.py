#!/usr/bin/env python3
"""Writes damaged copies of a delivered driver image for the bad-input campaign.

    image_variants.py IMAGE OUTDIR SEED FLIPS

Crafted variants each break one thing (a header field, a relocation, the code at the entry point);
FLIPS copies each have one byte of the code section replaced, at offsets drawn from SEED. Prints
one line per file: "<file> <kind>", kind "bad" (must be refused or end in a simulator error) or
"flip" (may boot unchanged when the byte does not matter).
"""
import random
import struct
import sys


def headers(image):
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    table = optional + optional_size
    found = []
    for index in range(sections):
        at = table + 40 * index
        name = image[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        vsize, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        flags = struct.unpack_from("<I", image, at + 36)[0]
        found.append({"name": name, "rva": rva, "vsize": vsize, "raw": raw_at, "raw_size": raw_size, "flags": flags})
    return optional, found


def file_offset(sections, rva):
    for section in sections:
        if section["rva"] <= rva < section["rva"] + section["raw_size"]:
            return section["raw"] + rva - section["rva"]
    raise ValueError("RVA %#x is in no section's raw data" % rva)


def main():
    source, outdir, seed, flips = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
    original = open(source, "rb").read()
    optional, sections = headers(original)
    entry_field = optional + 16
    entry = struct.unpack_from("<I", original, entry_field)[0]
    relocation_dir = optional + 112 + 5 * 8
    reloc_rva, reloc_size = struct.unpack_from("<II", original, relocation_dir)
    reloc_at = file_offset(sections, reloc_rva)
    code = next(s for s in sections if s["flags"] & 0x20000000)

    def write(name, data, kind):
        with open("%s/%s.efi" % (outdir, name), "wb") as out:
            out.write(data)
        print("%s/%s.efi %s" % (outdir, name, kind))

    def patched(at, data):
        image = bytearray(original)
        image[at:at + len(data)] = data
        return bytes(image)

    def at_entry(code_bytes):
        return patched(file_offset(sections, entry), code_bytes)

    # Header and relocation damage the loader must refuse before any boot.
    write("entry-in-headers", patched(entry_field, struct.pack("<I", 0x80)), "bad")
    write("entry-past-image", patched(entry_field, struct.pack("<I", 0x7FFFFFF0)), "bad")
    write("truncated-half", original[:len(original) // 2], "bad")
    write("reloc-block-odd-size", patched(reloc_at + 4, struct.pack("<I", 9)), "bad")
    write("reloc-block-too-long", patched(reloc_at + 4, struct.pack("<I", reloc_size + 8)), "bad")
    first_entry = struct.unpack_from("<H", original, reloc_at + 8)[0]
    write("reloc-type-highlow", patched(reloc_at + 8, struct.pack("<H", (3 << 12) | (first_entry & 0xFFF))), "bad")
    write("reloc-past-image", patched(reloc_at, struct.pack("<I", 0x7FFFF000)), "bad")
    # Every pointer of the first relocation block left unrelocated: the image reads or jumps to its
    # preferred base's addresses, where nothing is.
    block_size = struct.unpack_from("<I", original, reloc_at + 4)[0]
    unrelocated = bytearray(original)
    for at in range(reloc_at + 8, reloc_at + block_size, 2):
        value = struct.unpack_from("<H", unrelocated, at)[0]
        struct.pack_into("<H", unrelocated, at, value & 0x0FFF)
    write("pointers-unrelocated", bytes(unrelocated), "bad")
    # Code that faults at the entry point.
    write("entry-ud2", at_entry(b"\x0f\x0b"), "bad")
    write("entry-int3", at_entry(b"\xcc"), "bad")
    write("entry-divide-by-zero", at_entry(b"\x31\xc9\xf7\xf1"), "bad")
    write("entry-wild-jump", at_entry(b"\x48\xb8" + struct.pack("<Q", 0xDEAD0000) + b"\xff\xe0"), "bad")
    write("entry-wild-call", at_entry(b"\x48\xb8" + struct.pack("<Q", 0xDEAD0000) + b"\xff\xd0"), "bad")
    write("entry-null-store", at_entry(b"\x31\xc0\x89\x00"), "bad")
    write("entry-privileged", at_entry(b"\x0f\x20\xc0"), "bad")  # mov rax, cr0
    write("entry-endless-loop", at_entry(b"\xeb\xfe"), "bad")
    # One byte of the code replaced, anywhere in it.
    chooser = random.Random(seed)
    for index in range(flips):
        at = code["raw"] + chooser.randrange(min(code["raw_size"], code["vsize"]))
        image = bytearray(original)
        image[at] ^= chooser.randrange(1, 256)
        write("flip-%03d-at-%06x" % (index, at), bytes(image), "flip")


if __name__ == "__main__":
    main()
