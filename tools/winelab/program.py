"""What the harnesses know of update.exe from the outside, said once: its
title, its installation record, its update file set, its texts, and the
controls its dialog template makes."""

TITLE = "ルミナリオ！ アップデート Ver1.10"
KEY = r"Software\Lanternfly\luminario"
NAMES = ["patch110.dat", "InstData.pak", "Archive.ini"]

NOT_INSTALLED = "ルミナリオ！がインストールされていません。インストールが終了してから再度アップデートを行って下さいませ。"
QUESTION = "既にこのバージョンのアップデートは終了しています。\n上書きアップデートしますか？"
REGISTRY_ERROR = "レジストリエラー"
DONE = "更新は完了しました。"
FAILED = "更新ファイル書き込みに失敗しました。ゲームが起動されている場合は、終了してから再度実行して下さい。"
ERROR_CAPTION = "エラー"


def write_error(name):
    """The applier's error box for one file."""
    return "ファイルが書き込めません。[%s]" % name


IDC_VERSION, IDC_FOLDER = 1000, 1001

# The dialog's controls as update.rc makes them, in template order: class,
# id, style as stored, rectangle in dialog units (x, y, cx, cy), initial
# text.  The dialog procedure replaces the texts of IDC_VERSION and
# IDC_FOLDER.
CONTROLS = [
    ("Button", 1, 0x50010001, 75, 124, 50, 14, "更新"),
    ("Button", 2, 0x50010000, 138, 124, 50, 14, "終了"),
    ("Static", -1, 0x50020000, 12, 14, 71, 9, "現在のバージョン"),
    ("Static", IDC_VERSION, 0x50020002, 123, 13, 60, 9, "-----"),
    ("Static", -1, 0x50020000, 10, 71, 170, 9, "この更新では、セーブデータの引継ぎが可能です。"),
    ("Static", -1, 0x50020000, 9, 85, 175, 24, "※この更新はシステムの不具合修正をメインとしております。"),
    ("Button", -1, 0x50000007, 7, 62, 181, 53, ""),
    ("Button", -1, 0x50000007, 7, 5, 181, 22, ""),
    ("Static", -1, 0x50020000, 11, 34, 71, 9, "インストール先"),
    ("Static", IDC_FOLDER, 0x50020082, 18, 49, 164, 9, "Static"),  # SS_NOPREFIX: '&' shows as itself
    ("Button", -1, 0x50000007, 6, 25, 181, 39, ""),
]
# The predefined classes as a template names them, by atom.
CLASS_ATOMS = {"Button": 0x80, "Static": 0x82}
