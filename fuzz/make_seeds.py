#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Writes the fuzzers' seed corpus: small WAV files of the shapes the export must accept or
refuse, and a few path names. Usage: make_seeds.py FOLDER (creates FOLDER/export_source_fuzz and
FOLDER/ws2s_fuzz)."""
import math
import os
import struct
import sys


def wav(rate, channels, frames, fmt=1, bits=16, riff=b"RIFF", wave=b"WAVE", data_size=None):
    samples = b"".join(struct.pack("<h", int(12000 * math.sin(0.05 * i * (1 + c))))
                       for i in range(frames) for c in range(channels))
    size = len(samples) if data_size is None else data_size
    block = channels * bits // 8
    header = (riff + struct.pack("<I", (size + 36) & 0xFFFFFFFF) + wave + b"fmt " +
              struct.pack("<IHHIIHH", 16, fmt, channels, rate, rate * block, block, bits) +
              b"data" + struct.pack("<I", size))
    return header + samples


export = {
    "mono-8000Hz-16bps.wav": wav(8000, 1, 1200),
    "2ch-44100Hz-16bps.wav": wav(44100, 2, 5000),
    "2ch-48000Hz-16bps-odd-tail.wav": wav(48000, 2, 300) + b"\x01\x02\x03",
    "3ch-48000Hz-16bps.wav": wav(48000, 3, 700),
    "2ch-48000Hz-placeholder-size.wav": wav(48000, 2, 900, data_size=0),
    "0ch-48000Hz.wav": wav(48000, 0, 0),
    "mono-7999Hz.wav": wav(7999, 1, 100),
    "mono-384001Hz.wav": wav(384001, 1, 100),
    "2ch-22050Hz-float.wav": wav(22050, 2, 100, fmt=3, bits=32),
    "mono-8000Hz-8bps.wav": wav(8000, 1, 100, bits=8),
    "rifx.wav": wav(8000, 1, 100, riff=b"RIFX"),
    "header-only.wav": wav(48000, 2, 0),
    "short-header.wav": wav(48000, 2, 0)[:30],
}
paths = {
    "ascii": b"\x00/tmp/take 1.wav",
    "utf8": "\x00/tmp/Müller – テイク 🎙.wav".encode("utf-8"),
    "utf8-broken": b"\x00abc\xc3\x28\xe2\x82\xf0\x9f\x8e\xed\xa0\x80\xc0\xaf",
    "utf16-pair": b"\x01" + "a🎙é".encode("utf-16-le"),
    "utf16-lone-surrogate": b"\x01" + b"a\x00\x00\xd8b\x00",
    "utf32-beyond": b"\x02" + struct.pack("<III", 0x41, 0x10FFFF, 0x110000),
}
for name, files in (("export_source_fuzz", export), ("ws2s_fuzz", paths)):
    folder = os.path.join(sys.argv[1], name)
    os.makedirs(folder, exist_ok=True)
    for file, content in files.items():
        with open(os.path.join(folder, file), "wb") as f:
            f.write(content)
