#!/usr/bin/python3
"""The real update.exe under Wine, on a virtual X display, driven like a
person would: by the UI driver's eyes and hands and by xdotool's keys.
Every text is compared as code page 932 bytes with the program's own.

  e2e_test.py UPDATE_EXE UIDRIVER_EXE MKUPDATE ARTIFACT_DIR
(stray.dll is taken from beside UIDRIVER_EXE)"""
import os
import shutil
import subprocess
import sys
import unittest

from winelab import (CONTROLS, DONE, ERROR_CAPTION, FAILED, IDC_FOLDER, IDC_VERSION, KEY, NAMES,
                     NOT_INSTALLED, QUESTION, REGISTRY_ERROR, TITLE, WineSession, hexbytes, parse, write_error)

UPDATE_EXE, UIDRIVER, MKUPDATE, ARTIFACTS = sys.argv[1:5]
del sys.argv[1:5]

NEW = {"patch110.dat": b"new patch \x00\x01\xff" * 1000, "InstData.pak": b"new pak " * 5000,
       "Archive.ini": b"[update]\r\nversion=1.10\r\n"}
LOOSE = {name: b"loose " + data for name, data in NEW.items()}
OLD = {name: b"old " + name.encode() for name in NAMES}

WS_EX_NOPARENTNOTIFY = 0x4  # the dialog manager gives every control this


def muldiv(a, b, c):
    return (a * b + c // 2) // c


class UpdaterUnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.wine = WineSession(UIDRIVER, ARTIFACTS)
        try:
            cls.wine.boot()
        except Exception:
            cls.wine.close()
            raise
        cls.archive_dir = os.path.join(cls.wine.root, "sources")
        os.makedirs(cls.archive_dir)
        for name, data in NEW.items():
            with open(os.path.join(cls.archive_dir, name), "wb") as f:
                f.write(data)
        cls.archive = os.path.join(cls.wine.root, "UpdateData.dat")
        subprocess.run([MKUPDATE, "pack", "-o", cls.archive] + [os.path.join(cls.archive_dir, n) for n in NAMES],
                       check=True, stdout=subprocess.DEVNULL)

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def setUp(self):
        self.seen = []
        self.folder_name = "game"
        self.update_dir = os.path.join(self.wine.root, "update-" + self.id().split(".")[-1])
        shutil.rmtree(self.update_dir, ignore_errors=True)
        os.makedirs(self.update_dir)
        shutil.copy(UPDATE_EXE, self.update_dir)

    def tearDown(self):
        # A failing scenario says what it saw, and keeps its screenshot.
        result = self._outcome.result
        failed = any(test is self or getattr(test, "test_case", None) is self
                     for test, _ in result.failures + result.errors)
        if failed:
            self.wine.screenshot("failed-" + self.id().split(".")[-1])
            print("\n--- what the scenario saw ---\n" + "\n".join(self.seen))
            print("--- install folder:", {n: self.target(n)[:40] for n in NAMES})
            print("--- Version:", self.wine.query_version())
        self.wine.run(["wineserver", "-k"], check=False)

    # The scene.

    def install(self, values, folder="game"):
        self.folder_name = folder
        path = self.install_path()
        shutil.rmtree(os.path.join(self.wine.drive_c, folder.split("\\")[0]), ignore_errors=True)
        os.makedirs(path)
        for name in NAMES:
            with open(os.path.join(path, name), "wb") as f:
                f.write(OLD[name])
        self.wine.reset_record(values)

    def install_path(self):
        return os.path.join(self.wine.drive_c, *self.folder_name.split("\\"))

    def target(self, name):
        try:
            with open(os.path.join(self.install_path(), name), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def with_archive(self):
        shutil.copy(self.archive, self.update_dir)

    def with_loose(self):
        for name, data in LOOSE.items():
            with open(os.path.join(self.update_dir, name), "wb") as f:
                f.write(data)

    def launch(self):
        return self.wine.start(["wine", "update.exe"], cwd=self.update_dir)

    def finish(self, process, timeout=60):
        code = process.wait(timeout=timeout)
        self.assertEqual(code, 0, "the exit code")

    def update_and_confirm(self):
        """Presses the update button and dismisses the completion box."""
        self.drive("wait:" + hexbytes(TITLE), "click:1", "box", "click:1", "gone")

    def drive(self, *steps):
        code, output = self.wine.drive(*steps)
        self.seen.append(output)
        self.assertEqual(code, 0, "the UI driver failed:\n" + output)
        return parse(output)

    # What the user sees.

    def expect_box(self, records, text, caption=TITLE, owned=True, buttons=("OK",)):
        window = [r for r in records if r["kind"] == "window"][-1]
        self.assertEqual(window["text"], caption.encode("cp932"))
        self.assertEqual(window["class"], "#32770")
        self.assertEqual(window["owner"] != "00000000", owned, "owned by the dialog")
        controls = [r for r in records if r["kind"] == "control"]
        self.assertIn(text.encode("cp932"), [c["text"] for c in controls if c["class"] == "Static"])
        pressed = sorted(c["text"] for c in controls if c["class"] == "Button")
        self.assertEqual(pressed, sorted(b.encode("cp932") for b in buttons))

    def update_failing_on(self, name, hold=None, screenshots=False):
        """Presses the update button, sees the error box naming name and then
        the failure message, and dismisses both.  hold: a file the UI driver
        holds open without sharing until the error box is up."""
        records = self.drive(*(["hold:" + hold] if hold else []), "wait:" + hexbytes(TITLE), "click:1",
                             "wait:" + hexbytes(ERROR_CAPTION), "dump")
        self.expect_box(records, write_error(name), caption=ERROR_CAPTION)
        if screenshots:
            self.wine.screenshot("error")
        records = self.drive("wait:" + hexbytes(ERROR_CAPTION), "click:1", "gone",
                             "wait:" + hexbytes(TITLE), "box", "dump")
        self.expect_box(records, FAILED)
        if screenshots:
            self.wine.screenshot("failure")
        self.drive("wait:" + hexbytes(TITLE), "box", "click:1", "gone")

    def expect_dialog(self, records, version_text, folder):
        controls = [r for r in records if r["kind"] == "control"]
        self.assertEqual(len(controls), 11)
        # The dialog's base units, from the first control, then every
        # rectangle: position and size each scaled from dialog units.
        first = [int(v) for v in controls[0]["rect"].split(",")]
        bx = next(b for b in range(1, 64) if muldiv(75, b, 4) == first[0] and muldiv(50, b, 4) == first[2] - first[0])
        by = next(b for b in range(1, 64) if muldiv(124, b, 8) == first[1] and muldiv(14, b, 8) == first[3] - first[1])
        for got, (cls, cid, style, x, y, cx, cy, text) in zip(controls, CONTROLS):
            self.assertEqual((got["class"], int(got["id"]), int(got["style"], 16)), (cls, cid, style))
            self.assertEqual(int(got["exstyle"], 16), WS_EX_NOPARENTNOTIFY)
            left, top = muldiv(x, bx, 4), muldiv(y, by, 8)
            rect = [left, top, left + muldiv(cx, bx, 4), top + muldiv(cy, by, 8)]
            self.assertEqual([int(v) for v in got["rect"].split(",")], rect, cid)
            if cid not in (IDC_VERSION, IDC_FOLDER):
                self.assertEqual(got["text"], text.encode("cp932"))
        self.assertEqual(controls[3]["text"], version_text.encode())
        self.assertEqual(controls[9]["text"], folder.encode("cp932"))
        for placeholder in (b"-----", b"Static"):
            self.assertNotIn(placeholder, [c["text"] for c in controls])

    def expect_updated(self, source):
        for name in NAMES:
            self.assertEqual(self.target(name), source[name], name)
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "4c040000"))

    def expect_untouched(self, version):
        for name in NAMES:
            self.assertEqual(self.target(name), OLD[name], name)
        self.assertEqual(self.wine.query_version(), version)

    # The scenarios.

    def test_update_from_the_archive_with_enter(self):
        self.install({"InstallFolder": '"C:\\\\game"'})
        self.with_archive()
        process, _ = self.launch()
        records = self.drive("wait:" + hexbytes(TITLE), "dump")
        self.expect_dialog(records, "1.000", "C:\\game")
        self.wine.screenshot("dialog")
        self.wine.press_key("Return")
        records = self.drive("wait:" + hexbytes(TITLE), "box", "dump")
        self.expect_box(records, DONE)
        records = self.drive("windows")
        visible = [r for r in records if r["text"] == TITLE.encode("cp932")]
        self.assertEqual(len({r["hwnd"] for r in visible}), 2, "the dialog and exactly one box")
        self.wine.screenshot("completion")
        self.drive("wait:" + hexbytes(TITLE), "box", "click:1", "gone")
        self.finish(process)
        self.expect_updated(NEW)

    def test_update_from_loose_files_and_loose_files_win(self):
        for archive in (False, True):
            with self.subTest(archive=archive):
                self.install({"InstallFolder": '"C:\\\\game"', "Version": "hex:e8,03,00,00"})
                self.with_loose()
                if archive:
                    self.with_archive()
                process, _ = self.launch()
                self.update_and_confirm()
                self.finish(process)
                self.expect_updated(LOOSE)

    def test_quit_escape_and_close_copy_nothing(self):
        for how in ("quit", "escape", "close"):
            with self.subTest(how=how):
                self.install({"InstallFolder": '"C:\\\\game"', "Version": "dword:000003e8"})
                self.with_archive()
                process, _ = self.launch()
                if how == "quit":
                    self.drive("wait:" + hexbytes(TITLE), "click:2", "gone")
                elif how == "escape":
                    self.drive("wait:" + hexbytes(TITLE))
                    self.wine.press_key("Escape")
                else:
                    self.drive("wait:" + hexbytes(TITLE), "close", "gone")
                self.finish(process)
                self.expect_untouched(("REG_DWORD", "0x3e8"))

    def test_not_installed(self):
        for values in (None, {"Version": "hex:4c,04,00,00"}, {"InstallFolder": '""'}):
            with self.subTest(values=values):
                self.install(values)
                self.with_archive()
                process, _ = self.launch()
                records = self.drive("wait:" + hexbytes(TITLE), "dump")
                self.expect_box(records, NOT_INSTALLED, owned=False)
                self.drive("wait:" + hexbytes(TITLE), "click:1", "gone")
                self.finish(process)
                for name in NAMES:
                    self.assertEqual(self.target(name), OLD[name])
                self.assertEqual(self.wine.key_exists(), values is not None, "the key is never made")

    def test_already_updated_cancel_and_ok(self):
        cases = [("hex:4c,04", 2, ("REG_BINARY", "4c04"), False),
                 ("dword:0000044c", 2, ("REG_DWORD", "0x44c"), False),
                 ("hex:4c,04", 1, None, True),
                 ("dword:0000044c", 1, None, True)]
        for data, answer, kept, updated in cases:
            with self.subTest(data=data, answer=answer):
                self.install({"InstallFolder": '"C:\\\\game"', "Version": data})
                self.with_archive()
                process, _ = self.launch()
                records = self.drive("wait:" + hexbytes(TITLE), "dump")
                self.expect_box(records, QUESTION, owned=False, buttons=("OK", "キャンセル"))
                if answer == 1 and data.startswith("hex"):
                    self.wine.screenshot("question")
                self.drive("wait:" + hexbytes(TITLE), "click:%d" % answer, "gone")
                if updated:
                    records = self.drive("wait:" + hexbytes(TITLE), "dump")
                    self.expect_dialog(records, "1.100", "C:\\game")
                    self.update_and_confirm()
                    self.finish(process)
                    self.expect_updated(NEW)
                else:
                    self.finish(process)
                    self.expect_untouched(kept)

    def test_a_second_copy_ends_at_once_and_the_first_goes_on(self):
        self.install({"InstallFolder": '"C:\\\\game"'})
        self.with_archive()
        first, _ = self.launch()
        records = self.drive("wait:" + hexbytes(TITLE))
        dialog = records[0]["hwnd"]
        second, _ = self.launch()
        self.assertEqual(second.wait(timeout=60), 0, "the second copy's exit code")
        records = self.drive("windows")
        titled = [r for r in records if r["kind"] == "window" and r["text"] == TITLE.encode("cp932")]
        self.assertEqual([r["hwnd"] for r in titled], [dialog], "the second copy showed nothing")
        self.update_and_confirm()
        self.finish(first)
        self.expect_updated(NEW)

    def test_a_target_held_open_by_the_game(self):
        self.install({"InstallFolder": '"C:\\\\game"', "Version": "hex:e8,03,00,00"})
        self.with_archive()
        process, _ = self.launch()
        # One driver holds the file through the whole update, as the game would.
        self.update_failing_on("InstData.pak", hold="C:\\game\\InstData.pak", screenshots=True)
        self.finish(process)
        self.assertEqual(self.target("patch110.dat"), NEW["patch110.dat"], "the row before stays written")
        self.assertEqual(self.target("InstData.pak"), OLD["InstData.pak"])
        self.assertEqual(self.target("Archive.ini"), OLD["Archive.ini"], "later rows untouched")
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "e8030000"))

    def test_the_key_deleted_while_the_dialog_is_up(self):
        self.install({"InstallFolder": '"C:\\\\game"'})
        self.with_archive()
        process, _ = self.launch()
        self.drive("wait:" + hexbytes(TITLE), "regdel:" + KEY, "click:1", "box",
                   "click:1", "gone")
        records = self.drive("wait:" + hexbytes(TITLE), "dump")
        self.expect_box(records, REGISTRY_ERROR, owned=False)
        self.drive("wait:" + hexbytes(TITLE), "click:1", "gone")
        self.finish(process)
        for name in NAMES:
            self.assertEqual(self.target(name), NEW[name])
        self.assertFalse(self.wine.key_exists(), "the key is not made again")

    def test_no_dll_beside_the_exe_is_loaded(self):
        # A downloads folder may hold a stray DLL under a system name.  Wine
        # loads uxtheme.dll when the first window is made, long after the
        # program has restricted the DLL search; told to prefer a native
        # copy of that one DLL, Wine would load one found beside the
        # executable, were the search not restricted to the system folder.
        stray = os.path.join(os.path.dirname(UIDRIVER), "stray.dll")
        shutil.copy(stray, os.path.join(self.update_dir, "uxtheme.dll"))
        self.install({"InstallFolder": '"C:\\\\game"'})
        self.with_archive()
        process, trace = self.wine.start(["wine", "update.exe"], cwd=self.update_dir, debug="+loaddll",
                                         dll_overrides="uxtheme=n,b")
        self.update_and_confirm()
        self.finish(process)
        self.expect_updated(NEW)
        with open(trace, "rb") as f:
            loads = [line for line in f.read().decode("utf-8", "replace").splitlines() if "Loaded" in line]
        self.assertTrue(any("uxtheme.dll" in line.lower() for line in loads),
                        "uxtheme.dll is loaded while the program runs:\n" + "\n".join(loads))
        folder = os.path.basename(self.update_dir).lower()
        planted = [line for line in loads if folder in line.lower() and "uxtheme" in line.lower()]
        self.assertEqual(planted, [], "the DLL beside update.exe was loaded:\n" + "\n".join(loads))
        self.assertFalse(os.path.exists(os.path.join(self.update_dir, "planted.txt")), "planted code ran")

    def test_a_read_only_target(self):
        self.install({"InstallFolder": '"C:\\\\game"', "Version": "hex:e8,03,00,00"})
        os.chmod(os.path.join(self.install_path(), "Archive.ini"), 0o444)
        self.with_archive()
        process, _ = self.launch()
        self.update_failing_on("Archive.ini")
        self.finish(process)
        self.assertEqual(self.target("patch110.dat"), NEW["patch110.dat"], "earlier rows are written")
        self.assertEqual(self.target("InstData.pak"), NEW["InstData.pak"], "earlier rows are written")
        self.assertEqual(self.target("Archive.ini"), OLD["Archive.ini"])
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "e8030000"))

    def test_an_install_folder_that_does_not_exist(self):
        self.install({"InstallFolder": '"C:\\\\gone"', "Version": "hex:e8,03,00,00"})
        self.with_archive()
        process, _ = self.launch()
        records = self.drive("wait:" + hexbytes(TITLE), "dump")
        self.expect_dialog(records, "1.000", "C:\\gone")
        self.update_failing_on("patch110.dat")
        self.finish(process)
        self.assertFalse(os.path.exists(os.path.join(self.wine.drive_c, "gone")), "no folder is made")
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "e8030000"))

    def test_names_spelled_in_another_case(self):
        # The game's installer wrote INSTDATA.PAK; the update ships its
        # loose patch file as PATCH110.DAT.  Windows finds both.
        self.install({"InstallFolder": '"C:\\\\game"'})
        os.rename(os.path.join(self.install_path(), "InstData.pak"),
                  os.path.join(self.install_path(), "INSTDATA.PAK"))
        self.with_archive()
        with open(os.path.join(self.update_dir, "PATCH110.DAT"), "wb") as f:
            f.write(LOOSE["patch110.dat"])
        process, _ = self.launch()
        self.update_and_confirm()
        self.finish(process)
        self.assertEqual(sorted(os.listdir(self.install_path())), ["Archive.ini", "INSTDATA.PAK", "patch110.dat"],
                         "replaced in place, no second file")
        self.assertEqual(self.target("patch110.dat"), LOOSE["patch110.dat"], "the loose file was taken")
        self.assertEqual(self.target("INSTDATA.PAK"), NEW["InstData.pak"])
        self.assertEqual(self.target("Archive.ini"), NEW["Archive.ini"])
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "4c040000"))

    def test_ended_abruptly_then_run_again(self):
        # The game holds InstData.pak; the player kills the updater while
        # its error box is up, quits the game and runs the update again.
        self.install({"InstallFolder": '"C:\\\\game"', "Version": "hex:e8,03,00,00"})
        self.with_archive()
        process, _ = self.launch()
        self.drive("hold:C:\\game\\InstData.pak", "wait:" + hexbytes(TITLE), "click:1",
                   "wait:" + hexbytes(ERROR_CAPTION))
        self.drive("wait:" + hexbytes(ERROR_CAPTION))  # the box is still up, the file free now
        process.kill()
        process.wait(timeout=60)
        self.assertEqual(self.target("patch110.dat"), NEW["patch110.dat"])
        self.assertEqual(self.target("InstData.pak"), OLD["InstData.pak"])
        self.assertEqual(self.wine.query_version(), ("REG_BINARY", "e8030000"))
        self.drive("windows")
        process, _ = self.launch()
        self.update_and_confirm()
        self.finish(process)
        self.expect_updated(NEW)

    def test_a_folder_with_an_ampersand_is_shown_exactly(self):
        # A maker's name: the folder control shows '&' as itself, not as a
        # mnemonic that hides it and underlines the next letter.
        folder = "Games\\A&B"
        self.install({"InstallFolder": '"C:\\\\Games\\\\A&B"'}, folder=folder)
        self.with_archive()
        process, _ = self.launch()
        records = self.drive("wait:" + hexbytes(TITLE), "dump")
        self.expect_dialog(records, "1.000", "C:\\" + folder)
        self.wine.screenshot("ampersand")
        self.update_and_confirm()
        self.finish(process)
        self.expect_updated(NEW)

    def test_a_japanese_folder_whose_characters_end_in_0x5c(self):
        folder = "ソフト\\表示"  # ソ and 表 both have 0x5C as their second byte
        self.assertIn(b"\x83\x5c", folder.encode("cp932"))
        self.install({"InstallFolder": '"C:\\\\%s"' % folder.replace("\\", "\\\\")}, folder=folder)
        self.with_archive()
        process, _ = self.launch()
        records = self.drive("wait:" + hexbytes(TITLE), "dump")
        self.expect_dialog(records, "1.000", "C:\\" + folder)
        self.update_and_confirm()
        self.finish(process)
        self.expect_updated(NEW)


if __name__ == "__main__":
    unittest.main(verbosity=2)
