#!/usr/bin/python3
"""Runs the platform conformance cases, built with MinGW, under Wine: in a
private 32-bit prefix with the Japanese locale (code page 932) on its own
display, as a player's process runs (without root's override of file
permissions).  Prints the cases' own report and passes on its verdict.

  run_under_wine.py CONFORMANCE_EXE ARTIFACT_DIR"""
import os
import shutil
import sys

from winelab import WineSession


def main():
    exe, artifacts = sys.argv[1:3]
    wine = WineSession(None, artifacts)
    try:
        wine.boot()
        folder = os.path.join(wine.drive_c, "conformance")
        os.makedirs(folder)
        shutil.copy(exe, folder)
        code, output = wine.run(["wine", os.path.basename(exe)], cwd=folder, timeout=600, check=False)
        print(output)
        if code != 0:
            print("conformance.exe exited with %d; screenshot: %s" % (code, wine.screenshot("conformance-failed")))
        return code
    finally:
        wine.close()


if __name__ == "__main__":
    sys.exit(main())
