#!/usr/bin/env python3
"""Writes the language module's waves: short tone sequences, one per prompt,
so each prompt sounds different. Usage: make_waves.py OUTPUT_FOLDER"""
import math
import os
import struct
import sys

RATE = 8000
# Notes (Hz) of each wave; a rising pair for questions, a falling one for ends.
WAVES = {
    "already_running": [440, 330],
    "finish": [523, 392],
    "finish_install": [659, 523],
    "reboot_ok1": [392, 392],
    "reboot_ok2": [349, 349],
    "reboot_okcancel1": [392, 523],
    "reboot_okcancel2": [349, 466],
    "reboot_okcancel3": [330, 440],
    "reinstall": [294, 440],
    "welcome": [523, 659],
}


def tone(notes, seconds=0.18):
    samples = bytearray()
    for freq in notes:
        count = int(RATE * seconds)
        for i in range(count):
            fade = min(1.0, i / 200, (count - i) / 200)
            samples.append(int(128 + 90 * fade * math.sin(2 * math.pi * freq * i / RATE)))
    return bytes(samples)


def wave(data):
    fmt = struct.pack("<HHIIHH", 1, 1, RATE, RATE, 1, 8)
    body = b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"data" + struct.pack("<I", len(data)) + data
    return b"RIFF" + struct.pack("<I", len(body)) + body


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    for name, notes in WAVES.items():
        with open(os.path.join(out, name + ".wav"), "wb") as f:
            f.write(wave(tone(notes)))


if __name__ == "__main__":
    main()
