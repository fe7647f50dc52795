#!/usr/bin/python3
"""mkupdate as whoever ships the update uses it.  Archives for list, check
and extract are written byte by byte here, not by pack, so that a fault
shared by the tool's writer and reader cannot hide.

  mkupdate_cli_test.py MKUPDATE            the Linux build
  mkupdate_cli_test.py MKUPDATE.EXE --wine the Windows build, under Wine

Both builds answer the same cases the same way."""
import json
import os
import struct
import subprocess
import sys
import tempfile
import unittest

MKUPDATE = sys.argv.pop(1)
UNDER_WINE = len(sys.argv) > 1 and sys.argv[1] == "--wine"
if UNDER_WINE:
    sys.argv.pop(1)
    from winelab import WineSession
    from winelab.session import confined
SET = ["patch110.dat", "InstData.pak", "Archive.ini"]
WINE = None


def setUpModule():
    global WINE
    if UNDER_WINE:
        WINE = WineSession(None)
        WINE.boot()


def tearDownModule():
    if WINE:
        WINE.close()


def tool(*args):
    """The command and environment that run mkupdate with these arguments."""
    if WINE:
        return confined(["wine", MKUPDATE, *args]), WINE.env
    return [MKUPDATE, *args], None


def run(args, cwd, preexec_fn=None):
    """Runs mkupdate; (exit code, stdout bytes, stderr bytes).  Output goes
    to files, never pipes: a Wine command may start wineserver, which would
    keep a pipe open."""
    command, env = tool(*args)
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        done = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                              timeout=600, preexec_fn=preexec_fn)
        out.seek(0)
        err.seek(0)
        return done.returncode, out.read(), err.read()


def archive(entries, data, fmt=0x32, count=None, reserved=b"\0" * 11):
    """entries: (name bytes, offset, size); names padded to the layout's width."""
    width = 32 if fmt == 0x32 else 16
    out = reserved + bytes([fmt]) + struct.pack("<I", len(entries) if count is None else count)
    out += b"".join(name[:width].ljust(width, b"\0") for name, _, _ in entries)
    out += b"".join(struct.pack("<iI", offset, size) for _, offset, size in entries)
    return out + data


def good_archive(fmt=0x32):
    return archive([(b"patch110.dat", 0, 4), (b"InstData.pak", 4, 3), (b"Archive.ini", 7, 2)],
                   b"PPPPIIIAA", fmt)


class Cli(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as f:
            f.write(data)
        return self.path(name)

    def run_tool(self, *args):
        code, out, err = run(args, self.dir)
        return code, out.decode("utf-8", "replace"), err.decode("utf-8", "replace")

    def test_help_on_every_command(self):
        for command in ["pack", "list", "extract", "check"]:
            code, out, _ = self.run_tool(command, "--help")
            self.assertEqual(code, 0, command)
            self.assertIn("usage: mkupdate " + command, out)
        code, _, err = self.run_tool("frobnicate")
        self.assertEqual(code, 2)
        self.assertIn("unknown command", err)

    def test_pack_lays_out_header_index_and_data_in_order(self):
        for layout, fmt, width in [("long", 0x32, 32), ("short", 0x31, 16)]:
            files = [self.write(n, d) for n, d in [("Archive.ini", b"ini!"), ("patch110.dat", b"P" * 5)]]
            args = ["pack", "-o", "out.dat"] + (["--layout", layout] if layout == "short" else []) + files
            code, _, err = self.run_tool(*args)
            self.assertEqual(code, 0, err)
            with open(self.path("out.dat"), "rb") as f:
                got = f.read()
            expected = archive([(b"Archive.ini", 0, 4), (b"patch110.dat", 4, 5)], b"ini!PPPPP", fmt)
            self.assertEqual(got, expected, layout)
            self.assertEqual(len(got), 16 + 2 * (width + 8) + 9)
            self.assertEqual(sorted(os.listdir(self.dir)), ["Archive.ini", "out.dat", "patch110.dat"])

    def test_pack_refuses_what_the_updater_could_not_use(self):
        self.write("patch110.dat", b"p")
        self.write("PATCH110.DAT", b"q")
        self.write("empty.dat", b"")
        self.write("a_name_of_sixteen.dat", b"x")
        self.write("back\\slash.dat", b"x")
        self.write("表.dat", b"x")  # its second code page 932 byte is 0x5C
        cases = [
            (["missing.dat"], "missing.dat"),
            (["empty.dat"], "empty.dat"),
            (["--layout", "short", "a_name_of_sixteen.dat"], "a_name_of_sixteen.dat"),
            (["back\\slash.dat"], "back\\slash.dat"),
            (["表.dat"], "表.dat"),
            (["patch110.dat", "PATCH110.DAT"], "PATCH110.DAT"),
            (["patch110.dat", os.path.join(self.dir, "patch110.dat")], "patch110.dat"),
        ]
        for args, culprit in cases:
            before = sorted(os.listdir(self.dir))
            code, _, err = self.run_tool("pack", "-o", "UpdateData.dat", *args)
            self.assertEqual(code, 1, args)
            self.assertIn(culprit, err, args)
            self.assertEqual(sorted(os.listdir(self.dir)), before, "nothing is left behind: %s" % args)
        code, _, err = self.run_tool("pack", "--layout", "medium", "-o", "x", "patch110.dat")
        self.assertEqual(code, 2)

    def test_pack_at_the_limits_of_names(self):
        # A name field holds the name and its NUL: W - 1 bytes fit, W do not.
        for layout, width in [("long", 32), ("short", 16)]:
            for length, fits in [(width - 1, True), (width, False)]:
                name = "n" * (length - 4) + ".dat"
                self.write(name, b"x")
                code, _, err = self.run_tool("pack", "--layout", layout, "-o", "out.dat", name)
                self.assertEqual(code, 0 if fits else 1, (layout, length, err))
                if not fits:
                    self.assertIn(name, err)
                self.assertEqual(os.path.exists(self.path("out.dat")), fits, (layout, length))
                if fits:
                    os.unlink(self.path("out.dat"))
                os.unlink(self.path(name))
        # Letters equal ignoring case clash, at both ends of the alphabet and
        # in full width; the symbols that differ from a letter by the case
        # bit are names of their own.
        cases = [("a", "A", False), ("z", "Z", False), ("ａ", "Ａ", False),
                 ("@", "`", True), ("[", "{", True)]
        for first, second, both in cases:
            a, b = self.write(first + ".dat", b"1"), self.write("x" + second + ".dat", b"2")
            os.rename(b, self.path("sub-" + second + ".dat"))
            os.makedirs(self.path("sub"), exist_ok=True)
            os.rename(self.path("sub-" + second + ".dat"), self.path("sub/" + second + ".dat"))
            code, _, err = self.run_tool("pack", "-o", "out.dat", a, self.path("sub/" + second + ".dat"))
            self.assertEqual(code, 0 if both else 1, (first, second, err))
            self.assertEqual(os.path.exists(self.path("out.dat")), both, (first, second))
            for leftover in (a, self.path("sub/" + second + ".dat"), self.path("out.dat")):
                if os.path.exists(leftover):
                    os.unlink(leftover)

    def test_pack_accepts_an_entry_at_the_largest_offset_the_format_addresses(self):
        # Offsets are signed 32-bit from the data area: the last entry may
        # start at 2 GiB - 1.  Sparse files keep this cheap.
        with open(self.path("big.dat"), "wb") as f:
            f.truncate(0x7FFFFFFF)
        self.write("patch110.dat", b"p")
        code, _, err = self.run_tool("pack", "-o", "UpdateData.dat", "big.dat", "patch110.dat")
        self.assertEqual(code, 0, err)
        code, out, err = self.run_tool("list", "--json", "UpdateData.dat")
        self.assertEqual(code, 0, err)
        rows = json.loads(out)["rows"]
        self.assertEqual((rows[1]["name"], rows[1]["offset"]), ("patch110.dat", 0x7FFFFFFF))

    def test_a_pack_whose_writing_fails_keeps_the_old_archive_and_leaves_no_temporary(self):
        import resource
        self.write("UpdateData.dat", b"the shipped archive")
        self.write("patch110.dat", b"p" * 300000)

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
            import signal
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)

        code, _, err = run(["pack", "-o", "UpdateData.dat", "patch110.dat"], self.dir, preexec_fn=small_files)
        self.assertEqual(code, 1, err)
        self.assertIn(b"UpdateData.dat", err)
        self.assertEqual(sorted(os.listdir(self.dir)), ["UpdateData.dat", "patch110.dat"], "no temporary file")
        with open(self.path("UpdateData.dat"), "rb") as f:
            self.assertEqual(f.read(), b"the shipped archive")

    def test_names_in_any_language_on_the_command_line(self):
        # Stored in code page 932 where it has them; refused where not.
        for name in ["日本語.dat", "αβγ.dat", "Пуск.dat"]:
            self.write(name, name.encode())
        code, _, err = self.run_tool("pack", "-o", "u.dat", "日本語.dat", "αβγ.dat", "Пуск.dat")
        self.assertEqual(code, 0, err)
        code, out, err = self.run_tool("list", "--json", "u.dat")
        self.assertEqual(code, 0, err)
        rows = json.loads(out)["rows"]
        self.assertEqual([r["name"] for r in rows], ["日本語.dat", "αβγ.dat", "Пуск.dat"])
        self.assertEqual([bytes.fromhex(r["nameHex"]) for r in rows],
                         [n.encode("cp932") for n in ["日本語.dat", "αβγ.dat", "Пуск.dat"]])
        code, _, err = self.run_tool("extract", "u.dat", "日本語.dat", "-o", "抽出.bin")
        self.assertEqual(code, 0, err)
        with open(self.path("抽出.bin"), "rb") as f:
            self.assertEqual(f.read(), "日本語.dat".encode())
        for name in ["café.dat", "한글.dat", "🎮.dat"]:
            self.write(name, b"x")
            code, _, err = self.run_tool("pack", "-o", "none.dat", name)
            self.assertEqual(code, 1, name)
            self.assertIn("code page 932", err, name)
            self.assertIn(name, err)
            self.assertFalse(os.path.exists(self.path("none.dat")))

    def test_pack_refuses_an_archive_past_32_bit_offsets(self):
        with open(self.path("big.dat"), "wb") as f:
            f.truncate(0x80000000)  # sparse: nothing is written
        self.write("patch110.dat", b"p")
        code, _, err = self.run_tool("pack", "-o", "UpdateData.dat", "big.dat", "patch110.dat")
        self.assertEqual(code, 1)
        self.assertIn("patch110.dat", err)
        self.assertIn("32-bit", err)
        self.assertFalse(os.path.exists(self.path("UpdateData.dat")))

    def test_a_failed_pack_keeps_the_archive_that_was_there(self):
        self.write("UpdateData.dat", b"the shipped archive")
        self.write("empty.dat", b"")
        code, _, _ = self.run_tool("pack", "-o", "UpdateData.dat", "empty.dat")
        self.assertEqual(code, 1)
        with open(self.path("UpdateData.dat"), "rb") as f:
            self.assertEqual(f.read(), b"the shipped archive")

    def test_list_flags_each_trap(self):
        data = b"0123456789"
        fixture = archive([
            (b"patch110.dat", 0, 4),
            (b"PATCH110.dat", 4, 2),     # shadowed by 0
            (b"zero.dat", 0, 0),         # empty
            (b"far.dat", 8, 100),        # past the end
            (b"N" * 32, 0, 1),           # no NUL
            (b"sub\\x.dat", 0, 1),       # backslash
            (b"\x83\x5c.dat", 0, 1),     # ソ: a 0x5C trail byte
        ], data)
        self.write("a.dat", fixture)
        code, out, err = self.run_tool("list", "--json", "a.dat")
        self.assertEqual(code, 0, err)
        listing = json.loads(out)
        self.assertEqual((listing["layout"], listing["entries"], listing["dataStart"]), ("long", 7, 16 + 7 * 40))
        flags = [row["flags"] for row in listing["rows"]]
        self.assertEqual(flags, [[], ["shadowed"], ["empty"], ["past-end"], ["no-nul"], ["backslash"], ["backslash"]])
        self.assertEqual(listing["rows"][1]["shadowedBy"], 0)
        self.assertEqual(listing["rows"][6]["name"], "ソ.dat")
        self.assertEqual((listing["rows"][3]["start"], listing["rows"][3]["end"]), (296 + 8, 296 + 108))
        code, text, _ = self.run_tool("list", "a.dat")
        self.assertEqual(code, 0)
        self.assertIn("long layout", text)
        self.assertIn("7 entries", text)
        for word in ["shadowed", "empty", "past-end", "no-nul", "backslash"]:
            self.assertIn(word, text)

    def test_check_passes_only_when_the_whole_set_resolves(self):
        cases = [
            ("good long", good_archive(0x32), 0, []),
            ("good short", good_archive(ord("1")), 0, []),
            ("one missing", archive([(b"patch110.dat", 0, 1), (b"Archive.ini", 1, 1)], b"PA"), 1, ["InstData.pak"]),
            ("one empty", archive([(b"patch110.dat", 0, 1), (b"InstData.pak", 1, 0), (b"Archive.ini", 1, 1)], b"PA"), 1, ["InstData.pak"]),
            ("one cut", archive([(b"patch110.dat", 0, 1), (b"InstData.pak", 1, 1), (b"Archive.ini", 2, 9)], b"PIA"), 1, ["Archive.ini"]),
            ("shadowed by an empty one", archive([(b"ARCHIVE.INI", 0, 0), (b"patch110.dat", 0, 1), (b"InstData.pak", 1, 1), (b"Archive.ini", 2, 1)], b"PIA"), 1, ["Archive.ini"]),
        ]
        for label, data, want, named in cases:
            self.write("u.dat", data)
            code, out, err = self.run_tool("check", "u.dat")
            self.assertEqual(code, want, label + out + err)
            problems = [line for line in out.splitlines() if line.startswith("problem:")]
            self.assertEqual(len(problems), len(named), label + out)
            for name, line in zip(named, problems):
                self.assertIn(name, line, label)
        self.write("u.dat", archive([(b"patch110.dat", 0, 1), (b"InstData.pak", 1, 1), (b"Archive.ini", 2, 1), (b"x.dat", 0, 0)], b"PIA"))
        code, out, _ = self.run_tool("check", "u.dat")
        self.assertEqual(code, 0, out)
        self.assertIn("warning: entry #3 'x.dat' has size 0", out)

    def test_extract_takes_what_the_updater_takes(self):
        self.write("u.dat", archive([(b"InstData.pak", 0, 2), (b"instdata.pak", 2, 2)], b"12ab"))
        code, _, err = self.run_tool("extract", "u.dat", "dir\\INSTDATA.PAK", "-o", "got")
        self.assertEqual(code, 0, err)
        with open(self.path("got"), "rb") as f:
            self.assertEqual(f.read(), b"12")
        for name in ["absent.dat", "instdata.pak/"]:
            code, _, err = self.run_tool("extract", "u.dat", name, "-o", "none")
            self.assertEqual(code, 1, name)
            self.assertFalse(os.path.exists(self.path("none")))

    def test_list_of_a_bare_header(self):
        self.write("h.dat", b"\0" * 11 + b"\x32" + struct.pack("<I", 0))
        code, out, err = self.run_tool("list", "--json", "h.dat")
        self.assertEqual(code, 0, err)
        self.assertEqual((json.loads(out)["entries"], json.loads(out)["rows"]), (0, []))
        self.write("h.dat", b"\0" * 11 + b"\x32" + b"\0\0\0")
        code, _, err = self.run_tool("list", "h.dat")
        self.assertEqual(code, 1)
        self.assertTrue(err.startswith("mkupdate: "), err)

    def test_a_name_filling_its_field_is_never_found(self):
        # "abcdefghijkl.dat" fills a 16-byte field with no NUL; the zero
        # byte right after it (the next field) must not end the name.
        for name_width, fmt in [(16, 0x31), (32, 0x32)]:
            name = b"a" * (name_width - 4) + b".dat"
            self.write("u.dat", archive([(name, 0, 2), (b"", 0, 0)], b"xy", fmt))
            code, _, err = self.run_tool("extract", "u.dat", name.decode(), "-o", "got")
            self.assertEqual(code, 1, (fmt, err))
            self.assertFalse(os.path.exists(self.path("got")))

    def test_bad_input_gets_a_message_and_a_nonzero_exit(self):
        cases = [
            ("not there", None),
            ("empty", b""),
            ("shorter than a header", b"UpdateData"),
            ("count past 32 bits", b"\0" * 11 + b"\x32" + struct.pack("<I", 0x7FFFFFFF)),
            ("index cut short", good_archive()[:40]),
            ("huge count, tiny file", b"\0" * 11 + b"\x31" + struct.pack("<I", 100000000) + b"x" * 64),
        ]
        for label, data in cases:
            if data is not None:
                self.write("bad.dat", data)
            elif os.path.exists(self.path("bad.dat")):
                os.unlink(self.path("bad.dat"))
            for command in (["list", "bad.dat"], ["list", "--json", "bad.dat"], ["check", "bad.dat"],
                            ["extract", "bad.dat", "patch110.dat", "-o", "x"]):
                code, _, err = self.run_tool(*command)
                self.assertEqual(code, 1, "%s: %s" % (label, command))
                self.assertTrue(err.startswith("mkupdate: ") or command[0] == "check", (label, command, err))
                self.assertFalse(os.path.exists(self.path("x")))


if __name__ == "__main__":
    unittest.main(verbosity=2)
