#!/usr/bin/env python3
"""Appends resources with string types and names to a compiled resource
(.res) file. windres reads types such as LANGUAGE as keywords, so resources
of those types are written here instead.
Usage: make_res.py OUT.res BASE.res|- [TYPE NAME FILE]..."""
import struct
import sys

LANG_EN_US = 0x0409


def text_id(text):
    data = (text.upper() + "\0").encode("utf-16-le")
    return data


def entry(rtype, name, data):
    header = text_id(rtype) + text_id(name)
    if len(header) % 4:
        header += b"\0" * (4 - len(header) % 4)
    # DataVersion, MemoryFlags (moveable, pure), LanguageId, Version, Characteristics
    header += struct.pack("<IHHII", 0, 0x30, LANG_EN_US, 0, 0)
    head = struct.pack("<II", len(data), 8 + len(header)) + header
    body = data + b"\0" * ((4 - len(data) % 4) % 4)
    return head + body


def main():
    out, base, rest = sys.argv[1], sys.argv[2], sys.argv[3:]
    if len(rest) % 3:
        sys.exit("resources come in TYPE NAME FILE triples")
    if base == "-":
        blob = entry_empty()
    else:
        with open(base, "rb") as f:
            blob = f.read()
    for i in range(0, len(rest), 3):
        with open(rest[i + 2], "rb") as f:
            blob += entry(rest[i], rest[i + 1], f.read())
    with open(out, "wb") as f:
        f.write(blob)


def entry_empty():
    # The empty first entry every .res file starts with.
    return struct.pack("<IIHHHHIHHII", 0, 32, 0xFFFF, 0, 0xFFFF, 0, 0, 0, 0, 0, 0)


if __name__ == "__main__":
    main()
