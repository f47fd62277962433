#!/usr/bin/env python3
"""Writes the C++ list of the update keys an executable accepts.

Usage: update_keys.py --out KEYS.cpp [--tests] PUBLIC.pem [PUBLIC.pem]

Each PEM file holds an ECDSA P-256 public key ("-----BEGIN PUBLIC KEY-----",
as `openssl ec -pubout` writes it). The output defines UpdatePublicKeys and
UpdatePublicKeyCount (update/UpdateSignature.h) with the X and Y coordinates
of each key, and UpdateAcceptsTestKeys: true with --tests, for the programs
built to be tested, which accept the tests' key. At most two keys: the
current one and its successor.
"""
import argparse
import base64
import os
import sys

# SubjectPublicKeyInfo of an uncompressed P-256 point, up to the point's
# leading 0x04: id-ecPublicKey with the prime256v1 curve.
P256_PREFIX = bytes.fromhex("3059301306072a8648ce3d020106082a8648ce3d030107034200")
MOST_KEYS = 2


def point_of(path):
    with open(path, "r", encoding="ascii") as source:
        lines = [line.strip() for line in source]
    try:
        begin = lines.index("-----BEGIN PUBLIC KEY-----")
        end = lines.index("-----END PUBLIC KEY-----")
    except ValueError:
        sys.exit(f"{path}: no PEM public key")
    der = base64.b64decode("".join(lines[begin + 1:end]))
    if len(der) != len(P256_PREFIX) + 65 or not der.startswith(P256_PREFIX) or der[len(P256_PREFIX)] != 4:
        sys.exit(f"{path}: not an uncompressed ECDSA P-256 public key")
    return der[len(P256_PREFIX) + 1:]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--out", required=True)
    parser.add_argument("--tests", action="store_true")
    parser.add_argument("keys", nargs="+")
    options = parser.parse_args()
    if len(options.keys) > MOST_KEYS:
        sys.exit(f"at most {MOST_KEYS} update keys are accepted")
    entries = []
    for path in options.keys:
        point = point_of(path)
        rows = [", ".join(f"0x{byte:02x}" for byte in point[i:i + 16]) for i in range(0, 64, 16)]
        entries.append("    // " + os.path.basename(path) + "\n    {{\n        " +
                       ",\n        ".join(rows) + "\n    }},")
    text = ("// Written by tools/dist/update_keys.py from "
            + ", ".join(os.path.basename(path) for path in options.keys) + ".\n"
            '#include "update/UpdateSignature.h"\n\n'
            "const UpdatePublicKey UpdatePublicKeys[] = {\n" + "\n".join(entries) + "\n};\n"
            f"const int UpdatePublicKeyCount = {len(entries)};\n"
            f"const bool UpdateAcceptsTestKeys = {'true' if options.tests else 'false'};\n")
    temporary = options.out + ".tmp"
    with open(temporary, "w", newline="\n") as out:
        out.write(text)
    os.replace(temporary, options.out)


if __name__ == "__main__":
    main()
