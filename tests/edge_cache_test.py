#!/usr/bin/env python3
"""The road through a cache: an origin nginx serving tools/nginx-site.conf.in over TLS and an edge
nginx of tools/nginx-edge.conf.in in front of it, over TLS too, as users reach a publisher's edge
over the internet. Both on free ports of 127.0.0.1, under the test's deadline. The last argument is
the command probe; with a Windows build the arguments before it (scripts/wine-run BUILD) run it."""

import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
MANIFEST = "Kestrin/deploy/raw/branch/master/Morvane/definitions/updates.json"
PROBE, EMULATOR = Path(sys.argv[-1]), sys.argv[1:-1]
del sys.argv[1:]
WINDOWS = PROBE.suffix == ".exe"
DEADLINE = time.monotonic() + 500
SLICE = 1 << 20
# The wrapper's http block: TLS, this test's logs (with the ranges asked and the cache's verdict)
# and the origin slowed down, so that a download can be cut part way.
HTTP = """pid {folder}/nginx.pid; error_log {folder}/error.log; events {{ worker_connections 64; }}
http {{ log_format ranges '$request $status "$http_range" $http_if_range $upstream_cache_status';
    access_log {folder}/access.log ranges; client_body_temp_path {folder}/body;
    proxy_temp_path {folder}/proxy; fastcgi_temp_path {folder}/fcgi; uwsgi_temp_path {folder}/u;
    scgi_temp_path {folder}/scgi; ssl_certificate {tls}/server.pem; {rate}
    ssl_certificate_key {tls}/server.key; include {folder}/site.conf; }}"""


def left():
    return max(1.0, DEADLINE - time.monotonic())


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def fill(path, text):
    for placeholder, value in text.items():
        path = path.replace(f"@{placeholder}@", str(value))
    return path


class Nginx:
    def __init__(self, folder, template, rate="", **values):
        self.folder, self.port = folder, free_port()
        folder.mkdir()
        values["LISTEN"] = f"127.0.0.1:{self.port} ssl"
        (folder / "site.conf").write_text(fill(template.read_text(), values))
        http = HTTP.format(folder=folder, tls=folder.parent / "tls", rate=rate)
        (folder / "nginx.conf").write_text(http)
        self.start()

    def start(self):
        self.process = subprocess.Popen(["timeout", str(int(left())), "nginx", "-q", "-e",
                                         "error.log", "-g", "daemon off;", "-p", self.folder,
                                         "-c", "nginx.conf"])
        while self.process.poll() is None:
            with socket.socket() as client:
                if client.connect_ex(("127.0.0.1", self.port)) == 0:
                    return
            time.sleep(0.05)
        raise RuntimeError(f"nginx did not start: {(self.folder / 'error.log').read_text()}")

    def stop(self):
        pid = self.folder / "nginx.pid"
        if self.process.poll() is None and pid.exists():
            os.kill(int(pid.read_text()), signal.SIGTERM)
        self.process.wait(left())

    def log(self, package):
        return [line.split()[3:] for line in (self.folder / "access.log").read_text().splitlines()
                if line.startswith(f"GET /packages/{package} ")]


class EdgeCache(unittest.TestCase):
    def setUp(self):
        self.top = Path(tempfile.mkdtemp(prefix="edge-cache-test."))
        os.chmod(self.top, 0o755)  # nginx's workers read the site as nobody when run as root
        self.run_tool([SOURCE / "tests/make-tls-fixtures", self.top / "tls"])
        self.run_tool(["minisign", "-G", "-W", "-p", self.top / "key.pub", "-s",
                       self.top / "key.key"])
        self.origin = Nginx(self.top / "origin", SOURCE / "tools/nginx-site.conf.in",
                            "limit_rate 1m;", SERVER_NAME="localhost", ROOT=self.top / "site")
        self.edge = Nginx(self.top / "edge", SOURCE / "tools/nginx-edge.conf.in",
                          SERVER_NAME="127.0.0.1", CACHE=self.top / "edge/cache",
                          ORIGIN=f"https://127.0.0.1:{self.origin.port}", ORIGIN_NAME="localhost",
                          ORIGIN_CA=self.top / "tls/ca.pem")

    def tearDown(self):
        for server in (self.edge, self.origin):
            server.stop()
        shutil.rmtree(self.top)

    def run_tool(self, command):
        subprocess.run(command, check=True, capture_output=True, timeout=left())

    def publish(self, version):
        files = self.top / f"release-{version}"
        files.mkdir()
        (files / "Morvane.version").write_text(version)
        (files / "tutorial.bin").write_bytes(os.urandom(4 * SLICE + 12345))
        self.run_tool([SOURCE / "tools/make-release", version, files, "--changelog", "New.",
                       "--output", self.top / "site/packages", "--manifest", self.top / "site" /
                       MANIFEST, "--base-url", f"https://127.0.0.1:{self.edge.port}/packages",
                       "--sign", self.top / "key.key"])

    def probe(self, app, *arguments):
        """The probe run as app's updater: its process, started."""
        drive = "Z:" if WINDOWS else ""
        app.mkdir(exist_ok=True)
        updater = app / ("updater.exe" if WINDOWS else "updater")
        if not updater.exists():
            updater.write_bytes(PROBE.read_bytes())
            updater.chmod(0o755)
        environment = dict(os.environ, PROBE_DEADLINE_MS=str(int(left() * 1000)),
                           PROBE_MANIFEST_URL=f"https://127.0.0.1:{self.edge.port}/{MANIFEST}",
                           PROBE_CA_FILE=f"{drive}{self.top}/tls/ca.pem",
                           PROBE_PUBLIC_KEY=(self.top / "key.pub").read_text().splitlines()[1])
        return subprocess.Popen(EMULATOR + [updater, *arguments], stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, text=True, env=environment)

    def walk(self, app, *arguments, status=0):
        process = self.probe(app, *arguments)
        output = process.communicate(timeout=left())[0]
        self.assertEqual(process.returncode, status, output)
        return output

    def test_road_through_the_edge(self):
        # A new manifest is seen at once, though the packages behind it are cached.
        self.publish("1.1.0")
        self.assertIn("latest: 1.1.0", self.walk(self.top / "a", "--check", "1.0.0", status=10))
        self.publish("1.2.0")
        self.assertIn("latest: 1.2.0", self.walk(self.top / "a", "--check", "1.0.0", status=10))

        # The edge stopped while a download comes through it; the next update asks it for the rest.
        package = "Morvane-1.2.0.zip"
        part = self.top / f"a/updater-downloads/{package}.part"
        first = self.probe(self.top / "a", "--update", "1.0.0", "--no-start")
        while not part.exists() or part.stat().st_size < SLICE:
            if first.poll() is not None:
                self.fail(f"the download ended before it was cut: {first.stdout.read()}")
            self.assertGreater(DEADLINE - time.monotonic(), 5, "no download came")
            time.sleep(0.02)
        self.edge.stop()
        self.assertIn("download failed", first.communicate(timeout=left())[0])
        self.assertEqual(first.returncode, 1)
        self.edge.start()
        self.assertIn("updated to 1.2.0", self.walk(self.top / "a", "--update", "1.0.0",
                                                    "--no-start"))
        # Asked with the rest's range and the package's ETag, which nginx makes of the file's time
        # and size; answered from the slices, and the files installed are the release's.
        stat = (self.top / "site/packages" / package).stat()
        resumed = self.edge.log(package)[-1]
        self.assertEqual(resumed[0], "206", resumed)
        self.assertRegex(resumed[1], r'^"bytes=[1-9][0-9]{6,}-"$')
        self.assertEqual(resumed[2], f"\\x22{int(stat.st_mtime):x}-{stat.st_size:x}\\x22")
        for name in ("tutorial.bin", "Morvane.version"):
            self.assertEqual((self.top / "a" / name).read_bytes(),
                             (self.top / "release-1.2.0" / name).read_bytes())

        # The origin was asked for slices only, each once at least, and the edge keeps them all.
        ranges = {f"bytes={n}-{n + SLICE - 1}" for n in range(0, stat.st_size, SLICE)}
        asked = self.origin.log(package)
        self.assertEqual({(status, kind) for status, kind, *_ in asked},
                         {("206", f'"{kind}"') for kind in ranges})
        kept = {re.search(rb"\nKEY: (.*)\n", entry.read_bytes()[:4096])[1].decode()
                for entry in (self.top / "edge/cache").rglob("*") if entry.is_file()}
        self.assertLessEqual({f"/packages/{package}{kind}" for kind in ranges}, kept)

        # Another user's download comes from the cache alone.
        self.assertIn("updated to 1.2.0", self.walk(self.top / "b", "--update", "1.1.0",
                                                    "--no-start"))
        self.assertEqual(self.origin.log(package), asked)
        self.assertEqual(self.edge.log(package)[-1][0:4:3], ["200", "HIT"])


if __name__ == "__main__":
    unittest.main()
