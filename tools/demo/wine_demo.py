#!/usr/bin/python3
"""The real update.exe through an update under Wine: in a window on the
user's display when there is one, otherwise on a private Xvfb.  Saves
screenshots of the dialog and the completion message.

  wine_demo.py UPDATE_DIR UIDRIVER_EXE SCREENSHOT_DIR

The prefix is private and removed afterwards; the install folder as the
update left it is copied beside the screenshots."""
import os
import shutil
import sys

from winelab import NAMES, TITLE, WineSession, hexbytes


def main():
    update_dir, uidriver, shots = sys.argv[1:4]
    os.makedirs(shots, exist_ok=True)
    wine = WineSession(uidriver, shots, display=os.environ.get("DISPLAY"))
    try:
        where = "your display " + wine.env["DISPLAY"] if os.environ.get("DISPLAY") else "a private Xvfb"
        print("starting Wine in a fresh 32-bit Japanese prefix, on %s (this takes a while)" % where)
        wine.boot()
        game = os.path.join(wine.drive_c, "Luminario")
        os.makedirs(game)
        for name in NAMES:
            with open(os.path.join(game, name), "wb") as f:
                f.write(b"old " + name.encode())
        wine.reset_record({"InstallFolder": '"C:\\\\Luminario"', "Version": "hex:e8,03,00,00"})
        print("installation record: InstallFolder=C:\\Luminario Version=1000")
        process, _ = wine.start(["wine", "update.exe"], cwd=update_dir)
        code, output = wine.drive("wait:" + hexbytes(TITLE) + ":120000")
        if code != 0:
            raise SystemExit("the dialog did not show:\n" + output)
        print("dialog shown:", wine.screenshot("demo-dialog"))
        wine.drive("wait:" + hexbytes(TITLE), "click:1", "box:60000")
        print("completion message:", wine.screenshot("demo-completion"))
        wine.drive("wait:" + hexbytes(TITLE), "box", "click:1", "gone")
        print("update.exe exit code:", process.wait(timeout=120))
        kept = os.path.join(shots, "install-folder")
        shutil.rmtree(kept, ignore_errors=True)
        shutil.copytree(game, kept)
        print("C:\\Luminario afterwards, copied to %s:" % kept)
        for name in NAMES:
            with open(os.path.join(game, name), "rb") as f:
                written = f.read()
            source = os.path.join(update_dir, "..", "..", "files", name)
            same = os.path.exists(source) and open(source, "rb").read() == written
            print("  %-14s %8d bytes  %s" % (name, len(written), "updated" if same else "NOT updated"))
        print("Version now:", wine.query_version())
    finally:
        wine.close()


if __name__ == "__main__":
    main()
