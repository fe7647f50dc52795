#!/usr/bin/python3
"""Checks the built update.exe: its resources field by field, its imports,
its kind and its size.  The PE file and its resource directory are read by
pefile; the dialog template, which pefile leaves as raw bytes, is decoded
here from its documented DLGTEMPLATEEX layout."""
import struct
import sys
import unittest

import pefile
from winelab import CLASS_ATOMS, CONTROLS, TITLE

EXE = sys.argv.pop(1)

RT_DIALOG, RT_VERSION = 5, 16
JAPANESE = 0x0411
class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        first = struct.unpack_from("<H", self.data, self.at)[0]
        if first == 0:
            self.at += 2
            return None
        if first == 0xFFFF:
            self.at += 2
            return ("ordinal", self.take("H"))
        return self.text()

    def align(self):
        self.at = (self.at + 3) & ~3


def resources(pe):
    found = {}
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for name in kind.directory.entries:
            for lang in name.directory.entries:
                entry = lang.data.struct
                found[(kind.id, name.id, lang.id)] = pe.get_data(entry.OffsetToData, entry.Size)
    return found


class UpdateExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)
        cls.res = resources(cls.pe)

    def test_kind_size_and_imports(self):
        pe = self.pe
        self.assertEqual(pe.FILE_HEADER.Machine, 0x14C, "an i386 image")
        self.assertEqual(pe.OPTIONAL_HEADER.Magic, 0x10B, "PE32, not PE32+")
        self.assertEqual(pe.OPTIONAL_HEADER.Subsystem, 2, "the Windows GUI subsystem")
        self.assertEqual(pe.FILE_HEADER.TimeDateStamp, 0, "no link timestamp")
        dlls = sorted(entry.dll.decode().upper() for entry in pe.DIRECTORY_ENTRY_IMPORT)
        self.assertTrue(set(dlls) <= {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "MSVCRT.DLL"}, dlls)
        self.assertTrue({"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL"} <= set(dlls), dlls)
        with open(EXE, "rb") as f:
            self.assertLess(len(f.read()), 64 * 1024)

    def test_exactly_two_resources_in_japanese(self):
        self.assertEqual(sorted(self.res), [(RT_DIALOG, 101, JAPANESE), (RT_VERSION, 1, JAPANESE)])

    def test_dialog_template(self):
        r = Reader(self.res[(RT_DIALOG, 101, JAPANESE)])
        self.assertEqual(r.take("HH"), (1, 0xFFFF), "an extended template")
        help_id, ex_style, style, count = r.take("IIIH")
        self.assertEqual((help_id, ex_style, style, count), (0, 0, 0x80C808C0, 11))
        self.assertEqual(r.take("hhhh"), (0, 0, 195, 145))
        self.assertIsNone(r.name_or_ordinal(), "no menu")
        self.assertIsNone(r.name_or_ordinal(), "the platform's dialog class")
        self.assertEqual(r.text(), TITLE)
        self.assertEqual(r.take("HHBB"), (9, 0, 0, 0), "9 points, weight 0, upright, charset 0")
        self.assertEqual(r.text(), "ＭＳ Ｐゴシック")
        for index, (cls_name, cid, cstyle, x, y, cx, cy, ctext) in enumerate(CONTROLS, 1):
            expected = (CLASS_ATOMS[cls_name], cid, cstyle, x, y, cx, cy, ctext)
            r.align()
            help_id, ex_style, style = r.take("III")
            rect = r.take("hhhh")
            control_id = r.take("i")
            cls, text = r.name_or_ordinal(), r.name_or_ordinal()
            extra = r.take("H")
            got = (cls[1] if cls and cls[0] == "ordinal" else cls, control_id, style) + rect + (text or "",)
            self.assertEqual(got, expected, "control %d" % index)
            self.assertEqual((help_id, ex_style, extra), (0, 0, 0), "control %d" % index)
            self.assertTrue(style & 0x50000000 == 0x50000000, "WS_CHILD | WS_VISIBLE")
        self.assertEqual(r.at, len(r.data), "nothing after the 11th control")

    def test_texts_are_stored_in_code_page_932(self):
        with open(EXE, "rb") as f:
            image = f.read()
        for text in [
            TITLE,
            "RZUPDATE Ver0.10",
            "ルミナリオ！がインストールされていません。インストールが終了してから再度アップデートを行って下さいませ。",
            "既にこのバージョンのアップデートは終了しています。\n上書きアップデートしますか？",
            "レジストリエラー",
            "更新は完了しました。",
            "更新ファイル書き込みに失敗しました。ゲームが起動されている場合は、終了してから再度実行して下さい。",
            "ファイルが書き込めません。[%s]",
            "エラー",
        ]:
            self.assertIn(text.encode("cp932") + b"\0", image, text)

    def test_version_block(self):
        fixed = self.pe.VS_FIXEDFILEINFO[0]
        self.assertEqual((fixed.FileVersionMS, fixed.FileVersionLS), (0x00000001, 0))
        self.assertEqual((fixed.ProductVersionMS, fixed.ProductVersionLS), (0x00010002, 0))
        self.assertEqual((fixed.FileFlagsMask, fixed.FileFlags), (0x17, 0))
        self.assertEqual((fixed.FileOS, fixed.FileType, fixed.FileSubtype), (4, 1, 0))
        self.assertEqual((fixed.FileDateMS, fixed.FileDateLS), (0, 0))
        infos = {info.Key: info for info in self.pe.FileInfo[0]}
        self.assertEqual(sorted(infos), [b"StringFileInfo", b"VarFileInfo"])
        tables = infos[b"StringFileInfo"].StringTable
        self.assertEqual([t.LangID for t in tables], [b"041104b0"])
        self.assertEqual([(k.decode(), v.decode()) for k, v in tables[0].entries.items()], [
            ("Comments", TITLE),
            ("FileDescription", "Update アプリケーション"),
            ("FileVersion", "0, 1, 0, 0"),
            ("ProductVersion", "1, 2, 0, 0"),
        ])
        self.assertEqual([v.entry for v in infos[b"VarFileInfo"].Var], [{b"Translation": "0x0411 0x04b0"}])


if __name__ == "__main__":
    unittest.main(verbosity=2)
