#!/usr/bin/env python3
"""Every text the product's sources pass to tr() has a finished German translation that keeps its
%1.. placeholders, and translations/updater_de.ts holds nothing the sources no longer say.
Arguments: lupdate, then the catalogue (default translations/updater_de.ts)."""

import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
LAYERS = ["app", "dialog", "road", "download", "verify", "install", "platform", "common"]


def messages(ts):
    """(context, source) -> translation element, of every message of the .ts file."""
    found = {}
    for context in ET.parse(ts).getroot().iter("context"):
        name = context.findtext("name")
        for message in context.iter("message"):
            found[(name, message.findtext("source"))] = message.find("translation")
    return found


def placeholders(text):
    return sorted(set(re.findall(r"%\d+", text or "")))


def main():
    lupdate = sys.argv[1]
    catalogue = Path(sys.argv[2]) if len(sys.argv) > 2 else SOURCE / "translations/updater_de.ts"
    with tempfile.TemporaryDirectory() as scratch:
        fresh = Path(scratch) / "sources.ts"
        subprocess.run([lupdate, "-silent", "-locations", "none", *LAYERS, "-ts", str(fresh)],
                       cwd=SOURCE, check=True, timeout=120, capture_output=True)
        wanted = messages(fresh)
    have = messages(catalogue)
    faults = []
    for key in wanted:
        translation = have.get(key)
        if translation is None:
            faults.append("not in the catalogue: %s: %r" % key)
        elif translation.get("type") or not (translation.text or "").strip():
            faults.append("not translated: %s: %r" % key)
        elif placeholders(translation.text) != placeholders(key[1]):
            faults.append("placeholders differ: %s: %r -> %r" % (*key, translation.text))
    faults += ["no longer in the sources: %s: %r" % key for key in have if key not in wanted]
    for fault in faults:
        print(fault)
    print("%d texts, %d faults in %s" % (len(wanted), len(faults), catalogue.name))
    return 1 if faults or not wanted else 0


if __name__ == "__main__":
    sys.exit(main())
