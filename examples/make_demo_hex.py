#!/usr/bin/env python3
"""Writes vantro-demo.hex: a made-up firmware of the shape the unit takes.

Code from byte address 0x2800 to 0x8FFF (26,624 bytes, 104 blocks of 256), every fourth
byte the phantom byte 0x00 as compilers emit it; then one extended-address record and the
four configuration words at 0x157F0; then the end-of-file record. CR LF line ends.
The bytes are pseudo-random but fixed, so the file is the same on every run.
"""
import pathlib
import sys

CODE_START = 0x2800
CODE_END = 0x9000
CONFIG = [0xFF7F, 0xFFDF, 0xF9DF, 0x3F7F]  # CW4, CW3, CW2, CW1


def record(rtype, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, rtype]) + bytes(data)
    checksum = (-sum(body)) & 0xFF
    return ":" + body.hex().upper() + f"{checksum:02X}"


def code_bytes():
    state = 0x12345678
    out = bytearray()
    for _ in range((CODE_END - CODE_START) // 4):
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        word = state & 0xFFFFFF
        out += bytes([word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF, 0x00])
    return out


def main():
    lines = []
    code = code_bytes()
    for offset in range(0, len(code), 16):
        lines.append(record(0x00, CODE_START + offset, code[offset:offset + 16]))
    lines.append(record(0x04, 0, [0x00, 0x01]))
    config = bytearray()
    for word in CONFIG:
        config += bytes([word & 0xFF, word >> 8, 0x00, 0x00])
    lines.append(record(0x00, 0x57F0, config))
    lines.append(record(0x01, 0, []))
    target = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else
                          pathlib.Path(__file__).with_name("vantro-demo.hex"))
    target.write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))


if __name__ == "__main__":
    main()
