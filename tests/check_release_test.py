#!/usr/bin/env python3
"""tools/check-release against a release made by tools/make-release, served on 127.0.0.1 well and
then badly, one fault per row. The argument, if any, is the command probe, which makes the plan."""

import http.server
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import unittest
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
MANIFEST = "Kestrin/deploy/raw/branch/master/Morvane/definitions/updates.json"
DEADLINE = 120
UPDATER = Path(sys.argv.pop(1)) if len(sys.argv) > 1 else None


class Handler(http.server.BaseHTTPRequestHandler):
    """Serves server.root as nginx-site.conf.in does, less what server.faults names."""

    def do_HEAD(self):
        self.answer(body=False)

    def do_GET(self):
        self.answer(body=True)

    def answer(self, body):
        faults = self.server.faults
        path = self.server.root / self.path.lstrip("/")
        if "redirect" in faults and self.path.endswith(".json"):
            return self.send_error(301)
        if self.path.startswith("/packages/") and faults & {"storage", "loop"}:
            # As a forge's release page does: a signed address of its storage, or itself again.
            target = self.path if "loop" in faults else f"/storage/a81f{self.path[9:]}?sig=3e"
            self.send_response(302)
            self.send_header("Location", target)
            self.send_header("Content-Length", "0")
            return self.end_headers()
        if self.path.startswith("/storage/a81f/"):
            path = self.server.root / "packages" / self.path.split("?")[0][14:]
        if not path.is_file():
            return self.send_error(404)
        data = path.read_bytes()
        status, tag, last = 200, f'"{len(data)}-{path.stat().st_mtime_ns}"', len(data) - 1
        # Only check-release asks for a range, always the first byte.
        if self.headers.get("If-Range") == tag and "no-range" not in faults:
            status, last = 206, 0
        self.send_response(status)
        if status == 206:
            self.send_header("Content-Range", f"bytes 0-0/{len(data)}")
        if self.path.startswith(("/packages/", "/storage/")):
            name = path.name if "unquoted" in faults else f'"{path.name}"'
            if "no-disposition" not in faults:
                self.send_header("Content-Disposition", f"attachment; filename={name}")
            if "no-validator" not in faults:
                self.send_header("ETag", tag)
        elif "no-cache-control" not in faults or self.path.endswith(".minisig"):
            self.send_header("Cache-Control", "no-cache")
        if "gzip" in faults and self.path.endswith(".json"):
            self.send_header("Content-Encoding", "gzip")
        self.send_header("Content-Length", str(last + 1))
        self.end_headers()
        if body:
            self.wfile.write(data[:last + 1])

    def log_message(self, *arguments):
        pass


def run(command):
    subprocess.run(command, check=True, timeout=DEADLINE, capture_output=True)


def append(path):
    with open(path, "ab") as file:
        file.write(b"changed")


class CheckRelease(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.temp = tempfile.TemporaryDirectory(prefix="check-release-test.")
        top = Path(cls.temp.name)
        cls.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        cls.server.faults, cls.server.root = set(), top / "site"
        threading.Thread(target=cls.server.serve_forever, daemon=True).start()
        cls.url = f"http://127.0.0.1:{cls.server.server_port}/{MANIFEST}"
        cls.keys = {}
        for key in ("good", "other"):
            run(["minisign", "-G", "-W", "-p", top / f"{key}.pub", "-s", top / f"{key}.key"])
            cls.keys[key] = top / f"{key}.pub"
        old, new = top / "release-1.0.0", top / "release-1.1.0"
        for folder, version in ((old, "1.0.0"), (new, "1.1.0")):
            (folder / "docs").mkdir(parents=True)
            (folder / "Morvane.exe").write_bytes(b"program " * 4000 + version.encode())
            (folder / "docs/manual.txt").write_text("the manual\n")
        (new / "docs/tutorial.txt").write_text("new\n")
        installer = top / "Morvane-setup.exe"
        installer.write_bytes(b"installer")
        run([SOURCE / "tools/make-release", "1.1.0", new, "--changelog", "Faster.",
             "--installer", installer, "--output", top / "site/packages",
             "--manifest", top / "site" / MANIFEST, "--sign", top / "good.key",
             "--base-url", f"http://127.0.0.1:{cls.server.server_port}/packages",
             "--delta-from", old, "--delta-from-version", "1.0.0", "--expires", "30"])
        cls.top = top

    @classmethod
    def tearDownClass(cls):
        cls.server.shutdown()
        cls.temp.cleanup()

    def expire(self, folder):
        manifest = folder / "site" / MANIFEST
        text = manifest.read_text()
        manifest.write_text(text.replace(text.split('"expires": "')[1][:20], "2020-01-01T00:00:00Z"))
        run(["minisign", "-S", "-s", self.top / "good.key", "-m", manifest])

    def test_faults(self):
        each = lambda check: [f"{kind} {check}" for kind in ("package", "delta", "installer")]
        signature = "site/" + MANIFEST + ".minisig"
        zip_file = "site/packages/Morvane-1.1.0.zip"
        rows = [
            # name, the server's faults or a change to the site, options, the checks that fail
            ("a good site", set(), [], []),
            ("the manifest's signature not served", lambda f: (f / signature).unlink(), [],
             ["manifest signature"]),
            ("the package's signature as the manifest's",
             lambda f: shutil.copy(f / f"{zip_file}.minisig", f / signature), [],
             ["manifest signature"]),
            ("signed with another key", set(), ["--public-key", self.keys["other"]],
             ["manifest signature"] + each("signature")),
            ("a package changed after signing", lambda f: append(f / zip_file), [],
             ["package signature"]),
            ("an expired manifest", self.expire, [], ["manifest expiry"]),
            ("the manifest cached", {"no-cache-control"}, [], ["manifest Cache-Control"]),
            ("the manifest compressed", {"gzip"}, [], ["manifest http"]),
            ("the manifest redirected", {"redirect"}, [], ["manifest http"]),
            ("no Content-Disposition", {"no-disposition"}, [], each("http")),
            ("an unquoted file name", {"unquoted"}, [], each("http")),
            ("no ETag", {"no-validator"}, [], each("resume")),
            ("no ranges", {"no-range"}, [], each("resume")),
            ("packages redirected to storage", {"storage"}, [], []),
            ("packages redirected round a loop", {"loop"}, [], each("http")),
            ("nothing newer", set(), ["--version", "1.1.0"], ["offer to 1.1.0"]),
        ]
        if UPDATER is not None:
            rows += [("the plan", set(), ["--updater", UPDATER], []),
                     ("a user's change to the old release",
                      lambda f: append(f / "release-1.0.0/Morvane.exe"), ["--updater", UPDATER],
                      ["plan over"])]
        for name, fault, options, failing in rows:
            with self.subTest(name), tempfile.TemporaryDirectory(dir=self.top) as folder:
                folder = Path(folder)
                for copied in ("site", "release-1.0.0"):
                    shutil.copytree(self.top / copied, folder / copied)
                if callable(fault):
                    fault(folder)
                self.server.faults = set() if callable(fault) else fault
                self.server.root = folder / "site"
                self.check(options + ["--app-dir", folder / "release-1.0.0"], failing)

    def check(self, options, failing):
        environment = dict(os.environ, PROBE_MANIFEST_URL=self.url, PROBE_DEADLINE_MS="60000",
                           PROBE_PUBLIC_KEY=self.keys["good"].read_text().splitlines()[1])
        result = subprocess.run([SOURCE / "tools/check-release", self.url, "--version", "1.0.0",
                                 "--public-key", self.keys["good"]] + options,
                                capture_output=True, text=True, timeout=DEADLINE, env=environment)
        lines = result.stdout.splitlines()
        failed = [line[len("FAIL "):] for line in lines if line.startswith("FAIL ")]
        self.assertEqual(len(failed), len(failing), result.stdout + result.stderr)
        for line, what in zip(failed, failing):
            self.assertTrue(line.startswith(what), f"{line!r} is not about {what}")
        self.assertEqual(result.returncode, 1 if failing else 0, result.stderr)
        if not failing:
            # Six checks of the manifest and its offer, three of each package, and the plan.
            passed = [line for line in lines if line.startswith("ok  ")]
            self.assertEqual(len(passed), 16 if "--updater" in options else 15, result.stdout)
            self.assertEqual("--updater" in options, "1 added, 1 patched" in result.stdout)


if __name__ == "__main__":
    unittest.main()
