#!/usr/bin/env python3
"""Writes the two packages of the install benchmark into a folder.

    installpackages.py OUTDIR

one-gib.zip holds one 1 GiB file of random bytes, deflated (so every tool inflates the same
stream); small-files.zip holds 65,535 files of 100 to 300 bytes in 256 folders.
"""
import os
import random
import sys
import zipfile


def main():
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    data = os.path.join(out, "one-gib.bin")
    with open(data, "wb") as raw:
        for _ in range(1024):
            raw.write(os.urandom(1 << 20))
    with zipfile.ZipFile(os.path.join(out, "one-gib.zip"), "w", zipfile.ZIP_DEFLATED,
                         compresslevel=1) as z:
        z.write(data, "data/one-gib.bin")
    os.remove(data)
    rng = random.Random(1)
    with zipfile.ZipFile(os.path.join(out, "small-files.zip"), "w", zipfile.ZIP_DEFLATED) as z:
        for i in range(65535):
            info = zipfile.ZipInfo("d%03d/f%05d.txt" % (i % 256, i), (2024, 3, 1, 0, 0, 0))
            info.external_attr = 0o100644 << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, ("line %d " % i).encode() * rng.randint(10, 30))


if __name__ == "__main__":
    main()
