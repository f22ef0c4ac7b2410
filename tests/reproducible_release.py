#!/usr/bin/env python3
"""The release zip is reproducible: two clones of the checkout's last commit,
at different paths, packed one after the other with another umask and time
zone, give the same bytes. Each clone is configured, built and packed from
scratch by the command the README gives, so the program's own determinism is
checked along with the zip's.

    reproducible_release.py --source .

It checks the committed tree: commit first to check a change.
"""

import argparse
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile


def release(source, clone, umask, zone, git_config):
    env = dict(os.environ, TZ=zone)
    env.pop("SOURCE_DATE_EPOCH", None)  # the zip's times come from the commit
    old = os.umask(umask)
    try:
        subprocess.run(["git", "clone", "--quiet", source, clone], check=True,
                       env=dict(os.environ, GIT_CONFIG_GLOBAL=git_config))
        subprocess.run(["cmake", "--workflow", "--preset", "windows-release"], cwd=clone, env=env, check=True,
                       stdout=subprocess.DEVNULL)
    finally:
        os.umask(old)
    with open(os.path.join(clone, "CMakeLists.txt")) as f:
        version = re.search(r"project\(tessera VERSION ([0-9.]+)", f.read()).group(1)
    return os.path.join(clone, "build-windows", f"tessera-{version}-win64.zip"), version


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    source = os.path.abspath(parser.parse_args().source)
    work = tempfile.mkdtemp(prefix="tessera-release-")
    try:
        # The checkout may belong to another user than this one (a container,
        # a bind mount); git refuses to read it then unless it is listed as
        # safe, and only a global setting reaches the upload-pack that checks.
        # This one serves the clones alone.
        git_config = os.path.join(work, "gitconfig")
        subprocess.run(["git", "config", "--file", git_config, "--add", "safe.directory",
                        os.path.join(source, ".git")], check=True)
        first, version = release(source, os.path.join(work, "first", "tessera"), 0o022, "UTC", git_config)
        second, _ = release(source, os.path.join(work, "second place", "tessera"), 0o077, "Pacific/Auckland",
                            git_config)
        digests = []
        for zip_path in [first, second]:
            with open(zip_path, "rb") as f:
                digests.append(hashlib.sha256(f.read()).hexdigest())
            print(f"{digests[-1]}  {zip_path}")
        if digests[0] != digests[1]:
            sys.exit("the two zips differ")

        folder = f"tessera-{version}-win64/"
        with zipfile.ZipFile(first) as archive:
            names = archive.namelist()
            programs = {name: archive.read(folder + name) for name in ("tessera.exe", "tessera-palette.exe",
                                                                              "tessera-frm.exe")}
            texts = {name: archive.read(folder + name) for name in ["README.txt", "MANUAL.txt"]}
        expected = [folder + name for name in ["LICENSE-zlib.txt", "LICENSE.txt", "MANUAL.txt", "README.txt",
                                               "convert-folder.bat", "tessera-frm.exe", "tessera-palette.exe",
                                               "tessera.exe"]]
        if sorted(names) != expected:
            sys.exit(f"the zip holds {names}, not {expected}")
        # Plain text for Windows: CR LF line ends, no Markdown marks, and in
        # README.txt none of what only a developer needs.
        for name, text in texts.items():
            if text.count(b"\n") != text.count(b"\r\n") or re.search(rb"```|^#|\]\(", text, re.M):
                sys.exit(f"{name} is not plain text with CR LF line ends")
        for heading in [b"Quick start", b"Building", b"Benchmark", b"Layout", b".ci/run", b"cmake --"]:
            if heading in texts["README.txt"]:
                sys.exit(f"README.txt holds {heading.decode()}, which is for developers")
        for heading in [b"Using it on Windows", b"Preparing pictures", b"Formats", b"Exit codes", b"Faults"]:
            if heading + b"\r\n---" not in texts["README.txt"]:
                sys.exit(f"README.txt has no section {heading.decode()}")
        # The version resource's strings: UTF-16, the key, its terminator and
        # padding to four bytes, then the value.
        for name, program in programs.items():
            for key, value in [("ProductName", "tessera"), ("ProductVersion", version), ("FileVersion", version),
                               ("OriginalFilename", name)]:
                key16, value16 = (re.escape((text + "\0").encode("utf-16-le")) for text in (key, value))
                if not re.search(key16 + rb"(\0\0)?" + value16, program):
                    sys.exit(f"{name} has no version resource entry {key} = {value}")
        print(f"the same zip twice: {', '.join(names)}; every program carries version {version}")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
