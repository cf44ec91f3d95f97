"""How tools/make-release publishes: files staged beside their targets, signed with minisign
and moved into place together, and the manifest's expiry, set or renewed."""

import datetime
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

# A manifest that vouches for itself for more than ten years protects nobody from a replay.
LONGEST_EXPIRY_DAYS = 3650


class PublishError(Exception):
    pass


def expiry_time(days):
    """The manifest's "expires": `days` from now, in the one form the updater reads."""
    if not 1 <= days <= LONGEST_EXPIRY_DAYS:
        raise PublishError(f"--expires takes 1 to {LONGEST_EXPIRY_DAYS} days, not {days}")
    now = datetime.datetime.now(datetime.timezone.utc)
    return (now + datetime.timedelta(days=days)).strftime("%Y-%m-%dT%H:%M:%SZ")


def set_expiry(manifest, days, path):
    if days is not None:
        manifest["expires"] = expiry_time(days)
    elif "expires" in manifest:
        # Kept, it may already have passed and cut every user off; dropped, a build that
        # requires one would refuse the release.
        raise PublishError(f"{path} expires ({manifest['expires']}): give --expires DAYS to "
                           "renew it")


class Staging:
    """Files written under their final names in hidden folders beside their targets, then moved
    into place together, so a server never sends half a file and a failure (a wrong password
    when signing) publishes nothing. A signature names the file it signs, which is why each file
    is staged under its own name rather than a temporary one."""

    def __init__(self):
        self.folders = []
        self.files = []  # (staged path, target)

    def __enter__(self):
        return self

    def __exit__(self, *error):
        for folder in self.folders:
            shutil.rmtree(folder, ignore_errors=True)

    def file(self, target, write):
        target.parent.mkdir(parents=True, exist_ok=True)
        folder = Path(tempfile.mkdtemp(dir=target.parent, prefix=".make-release."))
        self.folders.append(folder)
        staged = folder / target.name
        write(staged)
        self.files.append((staged, target))

    def sign(self, secret_key):
        # One run for all files, so a password-protected key asks for its password once.
        arguments = ["-S", "-s", str(secret_key), "-m"]
        arguments += [str(staged) for staged, _ in self.files]
        run_minisign(arguments, f"minisign could not sign with {secret_key}")

    def publish(self, signed):
        for staged, target in self.files:
            signature = target.with_name(target.name + ".minisig")
            staged_signature = staged.with_name(staged.name + ".minisig")
            os.chmod(staged, 0o644)
            os.replace(staged, target)
            if signed:
                os.chmod(staged_signature, 0o644)
                os.replace(staged_signature, signature)
            elif signature.exists():
                # A signature left by an earlier signed release no longer matches the file.
                signature.unlink()


def check_signature(path, secret_key):
    """The manifest's current signature must be the key's: re-signing vouches anew for what the
    publisher signed before, never for whatever has been written into the file since."""
    signature = path.with_name(path.name + ".minisig")
    if not signature.is_file():
        raise PublishError(f"{path} has no signature {signature.name} to renew; publish it with "
                           "--sign first")
    with tempfile.TemporaryDirectory(prefix="make-release.") as folder:
        public_key = Path(folder, "key.pub")
        run_minisign(["-R", "-s", str(secret_key), "-p", str(public_key)],
                     f"minisign could not read the public key of {secret_key}")
        run_minisign(["-V", "-q", "-p", str(public_key), "-x", str(signature), "-m", str(path)],
                     f"{path} does not match its signature by {secret_key}; refusing to re-sign "
                     "what the key did not sign")


def run_minisign(arguments, failure):
    try:
        result = subprocess.run(["minisign"] + arguments, stdout=subprocess.DEVNULL)
    except FileNotFoundError as error:
        raise PublishError("minisign is not installed; it signs with --sign") from error
    if result.returncode != 0:
        raise PublishError(failure)
