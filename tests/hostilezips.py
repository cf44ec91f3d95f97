#!/usr/bin/env python3
"""Writes hostile zip packages, one file per kind, into a folder.

    hostilezips.py OUTDIR [--bomb BYTES]

Each package is what an attacker would serve: sizes that lie, bombs, names Windows cannot hold,
paths past the limits. --bomb sets how much the bombs inflate to (default 64 MiB; the installer
must refuse them long before). The test suite and the fuzz corpus both use these files.
"""
import argparse
import os
import struct
import zlib


def dos_time():
    return 0x5A21, 0x6000  # a fixed date, so that every run writes the same bytes


def deflate_zeros(size):
    """Raw deflate of size zero bytes, made piece by piece to stay small in memory."""
    packer = zlib.compressobj(9, zlib.DEFLATED, -15)
    piece = bytes(1 << 20)
    out = []
    crc = 0
    left = size
    while left:
        n = min(left, len(piece))
        out.append(packer.compress(piece[:n]))
        crc = zlib.crc32(piece[:n], crc)
        left -= n
    out.append(packer.flush())
    return b"".join(out), crc


class Zip:
    """A zip written field by field, so any field can lie."""

    def __init__(self):
        self.body = bytearray()
        self.central = bytearray()
        self.count = 0

    def add(self, name, data=b"", *, method=0, crc=None, csize=None, usize=None,
            mode=0o100644, payload=None):
        if isinstance(name, str):
            name = name.encode("utf-8")
        if payload is None:
            payload = zlib.compress(data)[2:-4] if method == 8 else data
        crc = zlib.crc32(data) if crc is None else crc
        csize = len(payload) if csize is None else csize
        usize = len(data) if usize is None else usize
        time, date = dos_time()
        offset = len(self.body)
        self.body += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, 0x800, method, time, date,
                                 crc, csize & 0xFFFFFFFF, usize & 0xFFFFFFFF, len(name), 0)
        self.body += name + payload
        self.central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 0x031E, 20, 0x800, method,
                                    time, date, crc, csize & 0xFFFFFFFF, usize & 0xFFFFFFFF,
                                    len(name), 0, 0, 0, 0, (mode << 16) & 0xFFFFFFFF, offset)
        self.central += name
        self.count += 1

    def bytes(self, count=None, zip64_count=None):
        count = self.count if count is None else count
        out = bytes(self.body) + bytes(self.central)
        start = len(self.body)
        if zip64_count is not None:
            record_at = len(out)
            out += struct.pack("<IQHHIIQQQQ", 0x06064B50, 44, 45, 45, 0, 0, zip64_count,
                               zip64_count, len(self.central), start)
            out += struct.pack("<IIQI", 0x07064B50, 0, record_at, 1)
            count = 0xFFFF
        out += struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, min(count, 0xFFFF),
                           min(count, 0xFFFF), len(self.central), start, 0)
        return out


def one(name, data=b"x", **fields):
    z = Zip()
    z.add(name, data, **fields)
    return z.bytes()


def packages(bomb):
    """(file name, bytes) of every hostile package."""
    zeros, zeros_crc = deflate_zeros(bomb + (1 << 20))
    yield "declares-less-than-it-inflates", one("big.bin", b"", method=8, payload=zeros,
                                                crc=zeros_crc, usize=bomb)
    small, small_crc = deflate_zeros(bomb)
    yield "declares-1000-inflates-to-bomb", one("small.bin", b"", method=8, payload=small,
                                                crc=small_crc, usize=1000)
    yield "compressed-size-ffffffff", one("a", b"hello", csize=0xFFFFFFFF)
    yield "compressed-size-80000000", one("a", b"hello", csize=0x80000000)
    honest = Zip()
    quarter, quarter_crc = deflate_zeros(bomb // 4)
    for i in range(4):
        honest.add("zeros%d.bin" % i, b"", method=8, payload=quarter, crc=quarter_crc,
                   usize=bomb // 4)
    yield "honest-bomb", honest.bytes()
    deep = Zip()
    for letter in "ab":
        deep.add("/".join([letter] * 30000), b"deep")
    yield "two-30000-level-names", deep.bytes()
    # Few entries, but every level of their paths a folder to make and to journal.
    implied = Zip()
    for i in range(10001):
        implied.add("t%05d/" % i + "/".join(["a"] * 8) + "/f", b"")
    yield "implied-folders-past-bound", implied.bytes()
    long_paths = Zip()
    for i in range(200):
        long_paths.add("/".join(["%05d-%09d" % (i, level) for level in range(63)]) + "/f", b"")
    yield "long-paths-past-journal", long_paths.bytes()
    for tag, name in [("con", "CON"), ("nul-lower", "nul"), ("aux", "AUX"), ("com1", "COM1"),
                      ("lpt1", "lpt1"), ("con-txt", "con.txt"), ("clock", "CLOCK$"),
                      ("device-in-folder", "bin/Aux.dll"), ("less-than", "a<b"),
                      ("greater-than", "a>b"), ("quote", 'a"b'), ("pipe", "a|b"),
                      ("question", "a?b"), ("star", "a*b"), ("colon-stream", "a:stream"),
                      ("control", "a\x01b"), ("trailing-space", "name "),
                      ("name-600", "n" * 600), ("path-1100", "/".join(["d" * 100] * 11)),
                      ("65-levels", "/".join(["d"] * 65)), ("absolute", "/etc/x"),
                      ("parent", "../x"), ("backslash", "a\\..\\..\\x")]:
        yield "name-" + tag, one(name)
    clash = Zip()
    clash.add("Readme.txt", b"one")
    clash.add("README.TXT", b"two")
    yield "case-clash", clash.bytes()
    folder_clash = Zip()
    folder_clash.add("Bin/a", b"one")
    folder_clash.add("bin", b"two")
    yield "case-clash-file-and-folder", folder_clash.bytes()
    link = Zip()
    link.add("sub", b"..", mode=0o120777)
    link.add("sub/x", b"escape")
    yield "link-entry", link.bytes()
    many = Zip()
    many.add("a", b"a")
    yield "claims-ten-million-entries", many.bytes(zip64_count=10_000_000)
    crc = Zip()
    crc.add("f", b"stored data", crc=0x12345678)
    yield "crc-mismatch", crc.bytes()
    yield "truncated", one("f", b"some data to cut")[:-10]
    yield "garbage", b"g" * 4096


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("outdir")
    parser.add_argument("--bomb", type=int, default=64 << 20)
    args = parser.parse_args()
    os.makedirs(args.outdir, exist_ok=True)
    for name, data in packages(args.bomb):
        with open(os.path.join(args.outdir, name + ".zip"), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
