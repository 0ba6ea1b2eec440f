#!/usr/bin/env python3
"""Decodes a log saved by `zellog.exe --save FILE` on a Linux machine: each
trace event's message number becomes the source file and line of the trace
statement that wrote it.

    zeldecode.py SAVED_LOG --symbols DIR [--symbols DIR ...]

A module-information event names each tracing module and the GUID and age of
its CodeView "RSDS" record. The decoder looks in the --symbols folders for the
unstripped build of that module (the file in build/<arch>/bin with the same
GUID and age; the staged copy in dist/ is stripped) and asks MinGW's addr2line
for the line of load address + message number.
"""
import argparse
import datetime
import os
import struct
import subprocess
import sys
import uuid

MAGIC = b"ZELLOG\x01\x00"
MESSAGE_GUID = uuid.UUID("9724D1BF-A313-4873-9375-357F9B96DDE7")
MODULE_INFO_GUID = uuid.UUID("751A5335-8420-478C-A9BF-3E9FED2A8840")
LEVELS = {1: "critical", 2: "error", 3: "warning", 4: "info", 5: "verbose"}
ADDR2LINE = {0x8664: "x86_64-w64-mingw32-addr2line", 0x14C: "i686-w64-mingw32-addr2line"}


def read_records(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(MAGIC):
        sys.exit(f"{path}: not a log saved by zellog --save")
    at = len(MAGIC)
    while at + 12 <= len(data):
        kind, length, status = struct.unpack_from("<III", data, at)
        at += 12
        if length > 2048 or at + length > len(data):
            sys.exit(f"{path}: damaged record at byte {at - 12}")
        yield kind, status, data[at:at + length]
        at += length


def wide(raw):
    text = raw.decode("utf-16-le", errors="replace")
    return text.split("\0", 1)[0]


def format_arguments(raw):
    out, at = [], 0
    while at < len(raw):
        kind = raw[at]
        at += 1
        rest = raw[at:]
        if kind in (1, 2) and len(rest) >= 4:
            value = struct.unpack_from("<i" if kind == 1 else "<I", rest)[0]
            out.append(f"i32 {value}" if kind == 1 else f"u32 {value} (0x{value:X})")
            at += 4
        elif kind in (4, 8) and len(rest) >= 8:
            value = struct.unpack_from("<Q", rest)[0]
            out.append(f"u64 {value}" if kind == 4 else f"ptr 0x{value:X}")
            at += 8
        elif kind == 5:
            end = rest.find(b"\0")
            text = rest if end < 0 else rest[:end]
            out.append('str "%s"%s' % (text.decode("latin-1"), "" if end >= 0 else " (cut)"))
            at += len(text) + (1 if end >= 0 else 0)
        elif kind == 6:
            units = len(rest) // 2
            end = next((i for i in range(units) if rest[2 * i:2 * i + 2] == b"\0\0"), -1)
            text = rest[:2 * (end if end >= 0 else units)]
            out.append('wstr "%s"%s' % (text.decode("utf-16-le", "replace"), "" if end >= 0 else " (cut)"))
            at += len(text) + (2 if end >= 0 else len(rest) - len(text))
        elif kind in (9, 10):
            out.append("%s[%d] %s" % ("inline" if kind == 9 else "bytes", len(rest), rest.hex(" ").upper()))
            at = len(raw)
        else:
            out.append(f"(unknown type {kind})")
            break
    return ", ".join(out)


def pe_debug_identity(path):
    """(machine, image base, RSDS GUID, age) of a PE file, or None."""
    try:
        with open(path, "rb") as f:
            data = f.read()
        if data[:2] != b"MZ":
            return None
        nt = struct.unpack_from("<I", data, 0x3C)[0]
        if data[nt:nt + 4] != b"PE\0\0":
            return None
        machine, sections = struct.unpack_from("<HH", data, nt + 4)
        optional_size = struct.unpack_from("<H", data, nt + 20)[0]
        optional = nt + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic == 0x10B:
            image_base = struct.unpack_from("<I", data, optional + 28)[0]
            directories = optional + 96
        elif magic == 0x20B:
            image_base = struct.unpack_from("<Q", data, optional + 24)[0]
            directories = optional + 112
        else:
            return None
        debug_rva, debug_size = struct.unpack_from("<II", data, directories + 6 * 8)
        table = optional + optional_size
        offset = None
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
            if vaddr <= debug_rva < vaddr + max(vsize, rsize):
                offset = raw + debug_rva - vaddr
        if offset is None:
            return None
        for i in range(debug_size // 28):
            entry_type, size, _, pointer = struct.unpack_from("<IIII", data, offset + 28 * i + 12)
            if entry_type == 2 and size >= 24 and data[pointer:pointer + 4] == b"RSDS":
                guid = uuid.UUID(bytes_le=data[pointer + 4:pointer + 20])
                age = struct.unpack_from("<I", data, pointer + 20)[0]
                return machine, image_base, guid, age
    except (OSError, struct.error, IndexError):
        return None
    return None


def index_symbols(folders):
    found = {}
    for folder in folders:
        for root, _, files in os.walk(folder):
            for name in files:
                if name.lower().endswith((".exe", ".dll")):
                    path = os.path.join(root, name)
                    identity = pe_debug_identity(path)
                    if identity:
                        found.setdefault((identity[2], identity[3]), (path, identity[0], identity[1]))
    return found


def resolve(binary, machine, addresses):
    tool = ADDR2LINE.get(machine, ADDR2LINE[0x8664])
    args = [tool, "-f", "-C", "-e", binary] + ["0x%x" % a for a in addresses]
    lines = subprocess.run(args, check=True, capture_output=True, text=True).stdout.splitlines()
    return {a: (lines[2 * i], lines[2 * i + 1]) for i, a in enumerate(addresses) if 2 * i + 1 < len(lines)}


def filetime_text(stamp):
    if stamp <= 0:
        return "(no time)"
    moment = datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=stamp // 10)
    return moment.strftime("%Y-%m-%d %H:%M:%S.%f")[:-3] + " UTC"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("log")
    parser.add_argument("--symbols", action="append", default=[], help="folder with unstripped builds")
    options = parser.parse_args()
    symbols = index_symbols(options.symbols)

    modules = {}  # (pid, load address) -> (name, binary or None, machine, image base)
    events = []
    for kind, status, event in read_records(options.log):
        if kind != 1 or status != 1 or len(event) < 48:
            events.append(("note", "record not stored (too large or unknown)"))
            continue
        size, = struct.unpack_from("<H", event, 0)
        level = event[5]
        tid, pid, stamp = struct.unpack_from("<IIq", event, 8)
        guid = uuid.UUID(bytes_le=event[24:40])
        head = "%s pid %d tid %d" % (filetime_text(stamp), pid, tid)
        if guid == MODULE_INFO_GUID and size >= 1648:
            load, = struct.unpack_from("<Q", event, 576)
            debug = uuid.UUID(bytes_le=event[584:600])
            age, = struct.unpack_from("<I", event, 600)
            path = wide(event[604:1124])
            name = path.replace("\\", "/").rsplit("/", 1)[-1]
            binary, machine, image_base = symbols.get((debug, age), (None, 0, 0))
            modules[(pid, load)] = (name, binary, machine, image_base)
            events.append(("note", "%s module %s {%s} age %d: %s" % (
                head, path, str(debug).upper(), age, binary or "no unstripped build found")))
        elif guid == MESSAGE_GUID and size >= 64:
            number, load = struct.unpack_from("<IQ", event, 52)
            events.append(("message", head, level, pid, load, number, format_arguments(event[64:size])))
        else:
            events.append(("note", head + " event of unknown class"))

    wanted = {}
    for e in events:
        if e[0] == "message":
            module = modules.get((e[3], e[4]))
            if module and module[1]:
                wanted.setdefault(module[1], (module[2], module[3], set()))[2].add(e[5])
    places = {}
    for binary, (machine, image_base, numbers) in wanted.items():
        lines = resolve(binary, machine, sorted(image_base + n for n in numbers))
        for n in numbers:
            places[(binary, n)] = lines.get(image_base + n)

    for e in events:
        if e[0] == "note":
            print(e[1])
            continue
        _, head, level, pid, load, number, arguments = e
        name, binary, _, _ = modules.get((pid, load), ("module@0x%X" % load, None, 0, 0))
        place = places.get((binary, number))
        where = "%s (%s)" % (place[1], place[0]) if place else "(source unknown)"
        text = "%s %-7s %s msg 0x%08X at %s" % (head, LEVELS.get(level, "level?"), name, number, where)
        print(text + (": " + arguments if arguments else ""))


if __name__ == "__main__":
    main()
