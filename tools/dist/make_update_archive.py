#!/usr/bin/env python3
"""Packs the release's update archive and writes the SHA-256 sums.

The archive holds each given file under its own name, deflated, with a fixed
time stamp so that the same program always gives the same archive. The sums
file lists the files and the archive in the form sha256sum reads back
(`sha256sum -c SHA256SUMS` in the dist folder).
"""
import argparse
import hashlib
import os
import zipfile

FIXED_TIME = (2020, 1, 1, 0, 0, 0)


def sha256(path):
    digest = hashlib.sha256()
    with open(path, "rb") as source:
        for block in iter(lambda: source.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def write_archive(path, files):
    """The archive `path` holding each of `files` under its own name."""
    temporary = path + ".tmp"
    with zipfile.ZipFile(temporary, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
        for name in files:
            member = zipfile.ZipInfo(os.path.basename(name), FIXED_TIME)
            member.compress_type = zipfile.ZIP_DEFLATED
            member.external_attr = 0o644 << 16
            with open(name, "rb") as source:
                archive.writestr(member, source.read())
    os.replace(temporary, path)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--archive", required=True)
    parser.add_argument("--sums", required=True)
    parser.add_argument("files", nargs="+")
    options = parser.parse_args()

    write_archive(options.archive, options.files)

    lines = [f"{sha256(path)}  {os.path.basename(path)}\n"
             for path in options.files + [options.archive]]
    with open(options.sums, "w", newline="\n") as sums:
        sums.writelines(lines)


if __name__ == "__main__":
    main()
