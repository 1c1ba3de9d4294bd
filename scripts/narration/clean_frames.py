#!/usr/bin/env python3
"""Reduces an MP3 from lame to the bare frame stream the server embeds.

Drops a leading ID3v2 tag, a trailing ID3v1 tag and a Xing/Info frame, then checks that what
is left is whole MPEG-2 Layer III frames at 48 kbit/s, 24,000 Hz, mono, without CRC or padding
(144 bytes each). Usage: clean_frames.py IN.mp3 OUT.mp3
"""
import sys

FRAME_BYTES = 144
# A Xing or Info tag sits after the 4-byte header and the 9 bytes of MPEG-2 mono side information.
TAG_OFFSET = 13


def header_problem(h: bytes) -> str:
    if h[0] != 0xFF or (h[1] & 0xE0) != 0xE0:
        return "no frame sync"
    if (h[1] >> 3) & 3 != 0b10:
        return "not MPEG-2"
    if (h[1] >> 1) & 3 != 0b01:
        return "not Layer III"
    if h[1] & 1 != 1:
        return "CRC present"
    if h[2] >> 4 != 0b0110:
        return "not 48 kbit/s"
    if (h[2] >> 2) & 3 != 0b01:
        return "not 24,000 Hz"
    if (h[2] >> 1) & 1:
        return "padding set"
    if h[3] >> 6 != 0b11:
        return "not mono"
    return ""


def clean(data: bytes) -> bytes:
    if data[:3] == b"ID3" and len(data) >= 10:
        size = 0
        for b in data[6:10]:
            size = (size << 7) | (b & 0x7F)
        footer = 10 if data[5] & 0x10 else 0
        data = data[10 + size + footer:]
    if len(data) >= 128 and data[-128:-125] == b"TAG":
        data = data[:-128]
    if data[TAG_OFFSET:TAG_OFFSET + 4] in (b"Xing", b"Info"):
        data = data[FRAME_BYTES:]
    if not data or len(data) % FRAME_BYTES:
        raise ValueError(f"{len(data)} bytes is not a whole number of {FRAME_BYTES}-byte frames")
    for at in range(0, len(data), FRAME_BYTES):
        problem = header_problem(data[at:at + 4])
        if problem:
            raise ValueError(f"frame at byte {at}: {problem}")
    return data


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    try:
        out = clean(data)
    except ValueError as e:
        print(f"{sys.argv[1]}: {e}", file=sys.stderr)
        return 1
    with open(sys.argv[2], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main())
