#!/usr/bin/env python3
"""Makes one processor's release in dist/: signs, packs and describes it.

Usage: make_release.py --tree BUILD_TREE --out DIR --arch x86|x64
                       --key PRIVATE.pem --public-keys PUBLIC.pem... --base URL
                       [--codesign PFX --codesign-password-file FILE]

From BUILD_TREE/dist it takes Quillmere.exe (the release build, which
accepts only the maker's update keys) and Quillmere.exe.debug, and writes to
DIR:

  Quillmere.exe, Quillmere.exe.debug  the program, Authenticode-signed with
                                      the maker's code-signing certificate
                                      when one is given (osslsigncode), and
                                      checked with `osslsigncode verify`
  Quillmere.zip                       the update archive holding the program
  update.xml                          the update endpoint's answer for this
                                      processor: version, the info and
                                      restart texts in English and German,
                                      and the archive with its sha256 and
                                      the maker's signature

The signature is ECDSA P-256 over the SHA-256 of the text the program
checks (update/UpdateSignature.h), made with `openssl dgst -sha256 -sign`
and verified against the public keys the release accepts before anything
is written. A key that belongs to none of them is refused, and so is a
program that holds the tests' public key.
"""
import argparse
import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
from xml.sax.saxutils import escape, quoteattr

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import make_update_archive  # noqa: E402
import update_keys  # noqa: E402

# The tests' public key, whose private half lies in the repository: a
# program that holds it accepts updates anyone can sign.
TEST_PUBLIC_KEY = os.path.join("tests", "update", "update-test-key.pub.pem")

INFO = {
    "en": "Quillmere {version} is available. Install it now?",
    "de": "Quillmere {version} ist verf\u00fcgbar. Jetzt installieren?",
}
RESTART = {
    "en": "Quillmere has been updated. Restart it now?",
    "de": "Quillmere wurde aktualisiert. Jetzt neu starten?",
}


def fail(message):
    sys.exit(f"make_release: {message}")


def run(*command, **options):
    return subprocess.run(command, check=True, capture_output=True, **options)


def version_text(root):
    """The program's "FileVersion" text, as update\\version must state it."""
    with open(os.path.join(root, "resources", "resource.h"), encoding="ascii") as header:
        found = re.search(r'#define\s+QUILLMERE_VERSION_TEXT\s+"([^"]+)"', header.read())
    if not found:
        fail("resources/resource.h names no QUILLMERE_VERSION_TEXT")
    return found.group(1)


def refuse_test_build(program, root):
    """A program that holds the tests' public key never ships."""
    point = update_keys.point_of(os.path.join(root, TEST_PUBLIC_KEY))
    with open(program, "rb") as source:
        if point in source.read():
            fail(f"{program} holds the tests' update key ({TEST_PUBLIC_KEY}): "
                 "a test build, which accepts updates anyone can sign, is never released")


def public_key_of(private_key):
    return run("openssl", "ec", "-in", private_key, "-pubout").stdout


def check_key(private_key, public_keys, root):
    if os.path.realpath(private_key).startswith(os.path.realpath(root) + os.sep):
        fail(f"{private_key} lies inside the repository; the maker's private key never does")
    own = public_key_of(private_key).strip()
    for path in public_keys:
        with open(path, "rb") as public:
            if public.read().strip() == own:
                return path
    fail(f"{private_key} belongs to none of the keys the release accepts "
         f"({', '.join(os.path.basename(p) for p in public_keys)})")


def raw_signature(der):
    """r and s of a DER ECDSA signature, 32 bytes each."""
    if der[0] != 0x30:
        fail("openssl gave no DER signature")
    at = 2 if der[1] < 0x80 else 2 + (der[1] & 0x7F)
    parts = []
    for _ in range(2):
        if der[at] != 0x02:
            fail("openssl gave no DER signature")
        length = der[at + 1]
        parts.append(der[at + 2:at + 2 + length].lstrip(b"\0").rjust(32, b"\0"))
        at += 2 + length
    return parts[0] + parts[1]


def sign(private_key, public_key, text):
    with tempfile.TemporaryDirectory() as work:
        message = os.path.join(work, "signed.txt")
        signature = os.path.join(work, "signature.der")
        with open(message, "wb") as out:
            out.write(text.encode("utf-8"))
        run("openssl", "dgst", "-sha256", "-sign", private_key, "-out", signature, message)
        run("openssl", "dgst", "-sha256", "-verify", public_key, "-signature", signature, message)
        with open(signature, "rb") as source:
            return base64.b64encode(raw_signature(source.read())).decode("ascii")


def signed_text(arch, version, name, digest):
    return "\n".join(["Quillmere update", "quillmere", arch, version, name, digest])


def codesign(program, pfx, password_file):
    """Authenticode-signs `program` in place and verifies it."""
    with tempfile.TemporaryDirectory() as work:
        signed = os.path.join(work, "signed.exe")
        chain = os.path.join(work, "chain.pem")
        run("osslsigncode", "sign", "-pkcs12", pfx, "-readpass", password_file, "-n", "Quillmere",
            "-i", "https://www.tollbrook.example/", "-h", "sha256", "-in", program, "-out", signed)
        # The certificate's own chain, so that a maker's certificate from any
        # authority (or a test one) is checked for what it is.
        with open(password_file, "rb") as source:
            password = source.read().splitlines()[0].decode()
        run("openssl", "pkcs12", "-in", pfx, "-nokeys", "-out", chain, "-passin", "pass:" + password)
        run("osslsigncode", "verify", "-in", signed, "-CAfile", chain)
        shutil.copyfile(signed, program)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tree", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--arch", required=True, choices=["x86", "x64"])
    parser.add_argument("--key", required=True)
    parser.add_argument("--public-keys", nargs="+", required=True)
    parser.add_argument("--base", required=True)
    parser.add_argument("--codesign")
    parser.add_argument("--codesign-password-file")
    options = parser.parse_args()
    root = os.path.dirname(os.path.dirname(HERE))

    public_key = check_key(options.key, options.public_keys, root)
    version = version_text(root)
    os.makedirs(options.out, exist_ok=True)
    program = os.path.join(options.out, "Quillmere.exe")
    shutil.copyfile(os.path.join(options.tree, "dist", "Quillmere.exe"), program)
    shutil.copyfile(os.path.join(options.tree, "dist", "Quillmere.exe.debug"), program + ".debug")
    refuse_test_build(program, root)
    if options.codesign:
        codesign(program, options.codesign, options.codesign_password_file)
        print(f"make_release: {options.arch}: Quillmere.exe is Authenticode-signed and verified")
    else:
        print(f"make_release: {options.arch}: the release is NOT Authenticode-signed "
              "(no code-signing certificate was given)")

    archive = os.path.join(options.out, "Quillmere.zip")
    make_update_archive.write_archive(archive, [program])
    with open(archive, "rb") as source:
        digest = hashlib.sha256(source.read()).hexdigest()
    signature = sign(options.key, public_key, signed_text(options.arch, version, "Quillmere.zip", digest))
    url = options.base.rstrip("/") + f"/{version}/{options.arch}/Quillmere.zip"
    texts = lambda table: "".join(f"<{language}>{escape(text.format(version=version))}</{language}>"
                                  for language, text in table.items())
    answer = ('<?xml version="1.0" encoding="UTF-8"?>\n'
              "<update>\n"
              "  <application>Quillmere</application>\n"
              f"  <version>{escape(version)}</version>\n"
              f"  <info>{texts(INFO)}</info>\n"
              f"  <restart>{texts(RESTART)}</restart>\n"
              "  <files>\n"
              f'    <url name="Quillmere.exe" zip="Quillmere.zip" sha256={quoteattr(digest)} '
              f"signature={quoteattr(signature)}>{escape(url)}</url>\n"
              "  </files>\n"
              "</update>\n")
    with open(os.path.join(options.out, "update.xml"), "w", encoding="utf-8", newline="\n") as out:
        out.write(answer)
    print(f"make_release: {options.arch}: Quillmere {version} signed with "
          f"{os.path.basename(public_key)}'s key; answer for {url}")


if __name__ == "__main__":
    main()
