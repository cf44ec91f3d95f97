#!/usr/bin/env python3
"""docs/publishing.md as a publisher reads it: its blocks marked <!-- runnable --> run in order in
an empty folder with the test's host, port and key, the command probe (the argument) standing in
for build/updater; and its nginx blocks compared with tools/nginx-site.conf.in and
tools/nginx-edge.conf.in."""

import os
import re
import shutil
import socket
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
DOCS = (SOURCE / "docs/publishing.md").read_text()
UPDATER = Path(sys.argv.pop(1))
MANIFEST = "Kestrin/deploy/raw/branch/master/Morvane/definitions/updates.json"
DEADLINE = 300
# nginx in the foreground under the test's deadline, awaited until it answers and stopped when the
# script ends.
NGINX = f"""trap 'kill $(jobs -p) 2>/dev/null || true' EXIT
nginx() {{
    timeout {DEADLINE} "$(command -v nginx)" -g 'daemon off;' "$@" &
    for _ in $(seq 100); do (exec 3<>/dev/tcp/127.0.0.1/$PORT) 2>/dev/null && return; sleep 0.1; done
}}
"""


def fenced_after(marker, fence):
    return re.findall(re.escape(marker) + r"\n```" + fence + r"\n(.*?)```\n", DOCS, re.S)


class RunnableDocs(unittest.TestCase):
    def test_printed_nginx_blocks_are_the_templates(self):
        rows = [("nginx-site.conf.in", "the same as the template):\n",
                 {"@LISTEN@": "1995", "@SERVER_NAME@": "updates.example.com",
                  "@ROOT@": "/srv/updates"}),
                ("nginx-edge.conf.in", "the same as the edge's template):\n",
                 {"@CACHE@": "/var/cache/nginx/morvane", "@LISTEN@": "1995 ssl",
                  "@SERVER_NAME@": "updates.example.com", "@ORIGIN_NAME@": "origin.example.com",
                  "@ORIGIN@": "https://origin.example.com:1995",
                  "@ORIGIN_CA@": "/etc/nginx/origin-ca.pem"})]
        for template, marker, values in rows:
            with self.subTest(template):
                # What follows the template's opening comment.
                block = (SOURCE / "tools" / template).read_text().split("\n\n", 1)[1]
                for placeholder, value in values.items():
                    block = block.replace(placeholder, value)
                self.assertNotIn("@", block)
                self.assertEqual(fenced_after(marker, "nginx"), [block])

    @unittest.skipUnless(shutil.which("nginx"), "nginx is not installed")
    def test_runnable_blocks(self):
        blocks = fenced_after("<!-- runnable -->", "sh")
        self.assertGreaterEqual(len(blocks), 4)
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = str(probe.getsockname()[1])
        with tempfile.TemporaryDirectory(prefix="runnable-docs.") as folder:
            # nginx's workers read the site as an unprivileged user when the test runs as root.
            os.chmod(folder, 0o755)
            subprocess.run(["minisign", "-G", "-W", "-p", "morvane.pub", "-s", "morvane.key"],
                           cwd=folder, check=True, capture_output=True, timeout=DEADLINE)
            Path(folder, "build").mkdir()
            shutil.copy(UPDATER, Path(folder, "build/updater"))
            script = "set -euo pipefail\n" + NGINX + "\n".join(blocks)
            for text, replacement in (("~/src/updater", str(SOURCE)),
                                      ("~/.minisign/morvane.key", f"{folder}/morvane.key"),
                                      ("updates.example.com", "127.0.0.1"), ("1995", port)):
                script = script.replace(text, replacement)
            key = Path(folder, "morvane.pub").read_text().splitlines()[1]
            environment = dict(os.environ, PORT=port, PROBE_PUBLIC_KEY=key,
                               PROBE_MANIFEST_URL=f"http://127.0.0.1:{port}/{MANIFEST}",
                               PROBE_DEADLINE_MS=str(DEADLINE * 1000))
            result = subprocess.run(["bash", "-c", script], cwd=folder, env=environment,
                                    capture_output=True, text=True, timeout=DEADLINE)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            # The pre-flight's plan: the delta patches Morvane.exe, adds the tutorial and removes
            # the notes of 1.0.0.
            self.assertIn("ok  plan over release/1.0.0: 1 added, 1 patched, 1 removed\n",
                          result.stdout)


if __name__ == "__main__":
    unittest.main()
