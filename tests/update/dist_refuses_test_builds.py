#!/usr/bin/env python3
"""The release tooling refuses a program that accepts the tests' update key.

Usage: dist_refuses_test_builds.py REPOSITORY TEST_PROGRAM RELEASE_PROGRAM

TEST_PROGRAM is a build for the tests (bin/Quillmere.exe), RELEASE_PROGRAM
the release build (dist/Quillmere.exe): make_release.py must refuse the
first and let the second pass.
"""
import os
import sys

root, test_program, release_program = sys.argv[1:4]
sys.path.insert(0, os.path.join(root, "tools", "dist"))
import make_release  # noqa: E402

make_release.refuse_test_build(release_program, root)
try:
    make_release.refuse_test_build(test_program, root)
except SystemExit as refused:
    print(f"refused as it should be: {refused}")
    sys.exit(0)
print(f"{test_program} holds the tests' key and was not refused")
sys.exit(1)
