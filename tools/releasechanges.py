"""What changed between releases, for tools/make-release: the delta package, zstd patches of the
changed files against an older release, and the removal lists, the files that older releases
installed and this one no longer has, with the digest of every version of each that was
published. The updater removes such a file only while it holds one of those versions."""

import filecmp
import hashlib
import json
import shutil
import stat
import subprocess
import tempfile
import urllib.parse
import zipfile
from pathlib import Path, PurePosixPath

# The incremental package's first entry, read by the updater and never installed.
REMOVAL_LIST = ".removed.json"
# The updater's bounds of a removal list and of one install.
MOST_REMOVAL_BYTES = 8 << 20
MOST_ENTRIES = 100000
MOST_VERSIONS = 64

# zstd decodes a window of up to 2^27 bytes (128 MiB) unless told more with --long or --memory.
# A patch's frame is one segment whose window is the new file's size; when the old or the new
# file is larger than that, it is made with --long=N and must be applied with it.
DEFAULT_WINDOW_LOG = 27
LARGEST_WINDOW_LOG = 31
# The delta package is the same for the same files, whatever their times.
FIXED_TIME = (1980, 1, 1, 0, 0, 0)


class ChangeError(Exception):
    pass


def blake2b(path):
    digest = hashlib.blake2b(digest_size=64)
    with open(path, "rb") as file:
        for block in iter(lambda: file.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def filled_paths(new_files):
    """Every path the new release fills, its files and the folders above them, case-folded as
    Windows compares them."""
    paths = set()
    for name in new_files:
        path = PurePosixPath(name)
        paths.add(name.casefold())
        paths.update(str(parent).casefold() for parent in path.parents if str(parent) != ".")
    return paths


def removals(old_releases, new_files):
    """{path: sorted digests} of every file of the older releases ({name: path} each) that the
    new release neither has nor fills with a folder."""
    filled = filled_paths(new_files)
    removed = {}
    for old_files in old_releases:
        for name, path in old_files.items():
            if name.casefold() not in filled and name != REMOVAL_LIST:
                removed.setdefault(name, set()).add(blake2b(path))
    listed = {name: sorted(digests) for name, digests in sorted(removed.items())}
    crowded = [name for name, digests in listed.items() if len(digests) > MOST_VERSIONS]
    if crowded:
        raise ChangeError(f"{crowded[0]} has more than {MOST_VERSIONS} published versions; give "
                          "fewer --previous releases")
    if len(listed) + len(new_files) > MOST_ENTRIES:
        raise ChangeError(f"more than {MOST_ENTRIES} files and removals in one release")
    return listed


def removal_text(listed):
    document = {"removed": [{"path": name, "blake2b": digests}
                            for name, digests in listed.items()]}
    text = json.dumps(document, indent=2, ensure_ascii=False) + "\n"
    if len(text.encode("utf-8")) > MOST_REMOVAL_BYTES:
        raise ChangeError(f"the removal list exceeds {MOST_REMOVAL_BYTES} bytes")
    return text


def unrecorded(previous_package, new_files, listed):
    """The files of the package published before (a zip, if there is one) that this release
    lacks and no removal lists: updated installations would keep them."""
    if not previous_package.is_file() or not zipfile.is_zipfile(previous_package):
        return []
    with zipfile.ZipFile(previous_package) as package:
        names = [name for name in package.namelist()
                 if not name.endswith("/") and name not in (REMOVAL_LIST, "delta.json")]
    return sorted(name for name in names if name not in new_files and name not in listed)


def published_package(entry, output):
    """Where the package that the manifest's entry names now lies in the output folder."""
    url = entry.get("download-url")
    if not isinstance(url, str) or not url:
        return None
    name = urllib.parse.unquote(urllib.parse.urlsplit(url).path.rsplit("/", 1)[-1])
    return output / name if name and Path(name).name == name else None


def patch_window_log(old, new):
    """The N of --long=N a patch of `old` into `new` needs, or None when zstd's own will do."""
    larger = max(old.stat().st_size, new.stat().st_size)
    if larger <= 1 << DEFAULT_WINDOW_LOG:
        return None
    window_log = larger.bit_length()
    if window_log > LARGEST_WINDOW_LOG:
        raise ChangeError(f"{old} is too large for a zstd patch")
    return window_log


def make_patch(old, new, frame):
    command = ["zstd", "-q", "-f", "-19", "--single-thread", f"--patch-from={old}"]
    window_log = patch_window_log(old, new)
    if window_log is not None:
        command.append(f"--long={window_log}")
    command += [str(new), "-o", str(frame)]
    try:
        result = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    except FileNotFoundError as error:
        raise ChangeError("zstd is not installed; it makes the patches of --delta-from") from error
    if result.returncode != 0:
        why = result.stderr.decode(errors="replace").strip()
        raise ChangeError(f"zstd could not make a patch of {new}: {why}")


def delta_list(old_files, new_files):
    """What the delta package holds: per file of the new release that the old one lacks or has
    with other bytes, in sorted order; then the old release's files it removes."""
    listed = []
    for name, path in sorted(new_files.items()):
        old = old_files.get(name)
        if old is not None and filecmp.cmp(old, path, shallow=False):
            continue
        item = {"path": name, "action": "add" if old is None else "patch"}
        if old is not None:
            item["old-blake2b"] = blake2b(old)
        item["blake2b"] = blake2b(path)
        item["size"] = path.stat().st_size
        item["executable"] = bool(path.stat().st_mode & stat.S_IXUSR)
        listed.append(item)
    for name, digests in removals([old_files], new_files).items():
        listed.append({"path": name, "action": "remove", "old-blake2b": digests[0]})
    return listed


def zip_file_info(name, mode, compress_type):
    info = zipfile.ZipInfo(name, FIXED_TIME)
    info.create_system = 3
    info.external_attr = (stat.S_IFREG | mode) << 16
    info.compress_type = compress_type
    return info


def write_delta(old_files, new_files, versions, target):
    """delta.json first, then per listed file its zstd frame (stored, as it is compressed
    already) or, for a new file, the file itself (deflated)."""
    listed = delta_list(old_files, new_files)
    if any(item["path"] == "delta.json" for item in listed):
        raise ChangeError("a file named delta.json at the top of the release would clash with "
                          "the delta package's own delta.json")
    document = {"from": versions[0], "to": versions[1], "files": listed}
    text = json.dumps(document, indent=2, ensure_ascii=False) + "\n"
    with tempfile.TemporaryDirectory(dir=target.parent, prefix=".make-release.") as frames, \
            zipfile.ZipFile(target, "w") as package:
        package.writestr(zip_file_info("delta.json", 0o644, zipfile.ZIP_DEFLATED),
                         text.encode("utf-8"))
        for item in listed:
            name = item["path"]
            mode = 0o755 if item.get("executable") else 0o644
            if item["action"] == "remove":
                continue
            if item["action"] == "patch":
                source = Path(frames, "frame")
                make_patch(old_files[name], new_files[name], source)
                info = zip_file_info(name, mode, zipfile.ZIP_STORED)
            else:
                source = new_files[name]
                info = zip_file_info(name, mode, zipfile.ZIP_DEFLATED)
            large = source.stat().st_size >= zipfile.ZIP64_LIMIT
            with open(source, "rb") as data, package.open(info, "w", force_zip64=large) as entry:
                shutil.copyfileobj(data, entry, 1 << 20)
