#!/usr/bin/python3
"""Benchmarks of the real update.exe under Wine, each against a baseline
measured in the same session:
  - from start to a shown dialog, against a minimal dialog program built
    the same way (both timed by the same UI driver wait);
  - a full update of three files of 64 MiB, from the press of the update
    button to the completion box, against cp of the same files.

  wine_bench.py BUILD_WIN32 [ROUNDS]"""
import os
import shutil
import statistics
import subprocess
import sys
import time

from winelab import TITLE, WineSession, hexbytes

NAMES = ["patch110.dat", "InstData.pak", "Archive.ini"]


def clocks(output):
    return [float(line.split()[1]) for line in output.splitlines() if line.startswith("clock ")]


def main():
    build = os.path.abspath(sys.argv[1])
    rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    wine = WineSession(os.path.join(build, "uidriver.exe"))
    try:
        wine.boot()
        folder = os.path.join(wine.root, "update")
        os.makedirs(folder)
        for exe in ("update.exe", "min_dialog.exe"):
            shutil.copy(os.path.join(build, exe), folder)
        game = os.path.join(wine.drive_c, "game")
        os.makedirs(game)
        wine.reset_record({"InstallFolder": '"C:\\\\game"'})
        # Warm: the first start of a program pays for loading Wine itself.
        for exe, title in (("update.exe", TITLE), ("min_dialog.exe", "min dialog")):
            process, _ = wine.start(["wine", exe], cwd=folder)
            wine.drive("wait:%s:120000" % hexbytes(title), "click:2" if exe == "update.exe" else "click:1")
            process.wait(timeout=120)

        results = {}
        for exe, title, close in (("update.exe", TITLE, "click:2"), ("min_dialog.exe", "min dialog", "click:1")):
            times = []
            for _ in range(rounds):
                start = time.monotonic()
                process, _ = wine.start(["wine", exe], cwd=folder)
                code, output = wine.drive("wait:%s:120000" % hexbytes(title))
                times.append(time.monotonic() - start)
                wine.drive("wait:%s" % hexbytes(title), close)
                process.wait(timeout=120)
            results[exe] = statistics.median(times)
        print("\n### Under Wine: from start to a shown dialog (median of %d)\n" % rounds)
        print("| update.exe | minimal dialog program | ratio |")
        print("|---|---|---|")
        print("| %.2f s | %.2f s | %.2f |" % (results["update.exe"], results["min_dialog.exe"],
                                            results["update.exe"] / results["min_dialog.exe"]))

        chunk = os.urandom(1 << 20)
        for name in NAMES:
            with open(os.path.join(folder, name), "wb") as f:
                for _ in range(64):
                    f.write(chunk)
        updates, copies = [], []
        for _ in range(rounds):
            # Each round starts from version 1000, so no question comes first.
            wine.reset_record({"InstallFolder": '"C:\\\\game"'})
            subprocess.run(["sync"])
            process, _ = wine.start(["wine", "update.exe"], cwd=folder)
            code, output = wine.drive("wait:%s:120000" % hexbytes(TITLE), "clock", "click:1", "box:1200000",
                                      "clock", timeout=1500)
            stamps = clocks(output)
            updates.append((stamps[1] - stamps[0]) / 1000.0)
            wine.drive("wait:%s" % hexbytes(TITLE), "box", "click:1", "gone")
            process.wait(timeout=120)
            subprocess.run(["sync"])
            target = os.path.join(wine.root, "cp-target")
            os.makedirs(target, exist_ok=True)
            start = time.monotonic()
            subprocess.run(["cp"] + [os.path.join(folder, n) for n in NAMES] + [target], check=True)
            copies.append(time.monotonic() - start)
        u, c = statistics.median(updates), statistics.median(copies)
        print("\n### Under Wine: a full update of three 64 MiB loose files (median of %d)\n" % rounds)
        print("| update.exe, press to completion box | cp of the same files | ratio |")
        print("|---|---|---|")
        print("| %.2f s | %.2f s | %.1f |" % (u, c, u / c))
    finally:
        wine.close()


if __name__ == "__main__":
    main()
