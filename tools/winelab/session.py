"""A private Wine session for the real update.exe: its own Xvfb display, its
own 32-bit prefix with a Japanese locale (ANSI code page 932), and a
wineserver, all ended when the session closes, passing or failing.

Wine commands write to files, never pipes: a Wine command may be the one
that starts wineserver, which inherits its handles and would keep a pipe
open for minutes."""
import os
import shutil
import signal
import subprocess
import tempfile
import time

from .program import KEY, TITLE

# So that the dialog's font and the message box font draw Japanese glyphs.
FONT_REPLACEMENTS = ["ＭＳ Ｐゴシック", "MS PGothic", "ＭＳ ゴシック", "MS Gothic", "MS UI Gothic",
                     "MS Shell Dlg", "MS Shell Dlg 2", "Tahoma", "Segoe UI"]


def hexbytes(text):
    return text.encode("cp932").hex()


# Wine runs as a player's process would: without root's override of file
# permissions, which would let wineserver write a read-only file.  The
# capabilities leave the bounding and inheritable sets, so no process that
# Wine starts (wineserver included) can have them back.
CONFINE = ["setpriv", "--inh-caps=-dac_override,-dac_read_search",
           "--bounding-set=-dac_override,-dac_read_search"]


def confined(args):
    return CONFINE + list(args) if os.geteuid() == 0 else list(args)


class WineSession:
    def __init__(self, uidriver, artifacts=None, display=None):
        self.uidriver = uidriver
        self.root = tempfile.mkdtemp(prefix="updater-wine-")
        self.artifacts = artifacts or os.path.join(self.root, "artifacts")
        os.makedirs(self.artifacts, exist_ok=True)
        self.xvfb = None
        self.log_count = 0
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": os.path.join(self.root, "prefix"),
            "WINEARCH": "win32",
            "LC_ALL": "ja_JP.UTF-8",
            "LANG": "ja_JP.UTF-8",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })
        if display:
            self.env["DISPLAY"] = display
        else:
            self.start_xvfb()
        self.drive_c = os.path.join(self.env["WINEPREFIX"], "drive_c")

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "800x600x24",
                                      "-nolisten", "tcp"], pass_fds=(write_end,),
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write_end)
        number = b""
        with os.fdopen(read_end, "rb") as source:
            while not number.endswith(b"\n"):
                chunk = source.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.env["DISPLAY"] = ":" + number.decode().strip()

    def boot(self):
        self.run(["wineboot", "-i"], timeout=600)
        lines = ["Windows Registry Editor Version 5.00", "",
                 r"[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]"]
        lines += ['"%s"="IPAPGothic"' % name for name in FONT_REPLACEMENTS]
        # A virtual desktop: Wine then draws the captions that a bare X
        # server, with no window manager, would leave off.
        lines += ["", r"[HKEY_CURRENT_USER\Software\Wine\Explorer]", '"Desktop"="Default"',
                  "", r"[HKEY_CURRENT_USER\Software\Wine\Explorer\Desktops]", '"Default"="800x600"']
        # The caption buttons' glyphs are characters of the Marlett font
        # ("r" is the close button).  Wine 8 keeps the Marlett of its own
        # data folder in a font cache whose family name, in a prefix made
        # with the Japanese locale, reads back garbled, so a request for
        # Marlett falls back to an ordinary font and the close button shows
        # a plain "r".  Installed in the prefix's own Fonts folder, Marlett
        # is read from its file at every start and found by name.  The
        # program's own texts do not use it.
        marlett = self.wine_font("marlett.ttf")
        if marlett:
            shutil.copy(marlett, os.path.join(self.drive_c, "windows", "Fonts", "marlett.ttf"))
            lines += ["", r"[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\Fonts]",
                      '"Marlett (TrueType)"="marlett.ttf"']
        self.import_reg(lines)
        # The desktop and the fonts take effect for the programs of the next
        # wineserver: end the one that booted the prefix.
        self.run(["wineserver", "-k"], check=False)

    @staticmethod
    def wine_font(name):
        """A font file that comes with Wine (Debian's fonts-wine), or None."""
        for folder in ("/usr/share/wine/fonts", "/usr/lib/wine/fonts", "/opt/wine/share/wine/fonts"):
            path = os.path.join(folder, name)
            if os.path.exists(path):
                return path
        return None

    def close(self):
        try:
            self.run(["wineserver", "-k"], timeout=60, check=False)
        finally:
            if self.xvfb:
                self.xvfb.kill()
                self.xvfb.wait()
            shutil.rmtree(self.root, ignore_errors=True)

    def _logs(self):
        self.log_count += 1
        out = os.path.join(self.root, "cmd%04d.out" % self.log_count)
        return out

    def run(self, args, cwd=None, timeout=120, check=True):
        """Runs a command in the session; returns (exit code, output)."""
        out = self._logs()
        with open(out, "wb") as sink:
            done = subprocess.run(confined(args), cwd=cwd or self.root, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=sink, stderr=subprocess.STDOUT, timeout=timeout)
        with open(out, "rb") as f:
            output = f.read().decode("utf-8", "replace")
        if check and done.returncode != 0:
            raise RuntimeError("%s failed (%d):\n%s" % (args, done.returncode, output))
        return done.returncode, output

    def start(self, args, cwd, debug=None, dll_overrides=None):
        """Starts a command in the background; returns (process, output file).
        debug: the WINEDEBUG channels for this command alone; dll_overrides:
        WINEDLLOVERRIDES entries added for it alone (such as "uxtheme=n,b")."""
        out = self._logs()
        sink = open(out, "wb")
        env = dict(self.env)
        if debug:
            env["WINEDEBUG"] = debug
        if dll_overrides:
            env["WINEDLLOVERRIDES"] += ";" + dll_overrides
        process = subprocess.Popen(confined(args), cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=sink,
                                   stderr=subprocess.STDOUT)
        sink.close()
        return process, out

    def drive(self, *steps, timeout=120):
        """Runs the UI driver's steps; returns (exit code, output); parse() reads it."""
        code, output = self.run(["wine", self.uidriver, *steps], timeout=timeout, check=False)
        return code, output

    def import_reg(self, lines):
        path = os.path.join(self.root, "import%04d.reg" % self.log_count)
        with open(path, "wb") as f:
            f.write(("\r\n".join(lines) + "\r\n").encode("utf-16"))
        self.run(["wine", "regedit", "/S", path])

    def reset_record(self, values):
        """Replaces the installation record: values maps a name to a .reg data
        text (such as '"C:\\\\game"' or 'hex:4c,04'); None removes the key."""
        lines = ["Windows Registry Editor Version 5.00", "", "[-HKEY_CURRENT_USER\\%s]" % KEY]
        if values is not None:
            lines += ["", "[HKEY_CURRENT_USER\\%s]" % KEY]
            lines += ['"%s"=%s' % (name, data) for name, data in values.items()]
        self.import_reg(lines)

    def query_version(self):
        """(type, hex bytes) of Version, or None when there is no such value or key."""
        code, output = self.run(["wine", "reg", "query", "HKCU\\" + KEY, "/v", "Version"], check=False)
        if code != 0:
            return None
        for line in output.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0] == "Version":
                return parts[1], (parts[2].lower() if len(parts) > 2 else "")
        return None

    def key_exists(self):
        code, _ = self.run(["wine", "reg", "query", "HKCU\\" + KEY], check=False)
        return code == 0

    def xdotool(self, *args):
        return self.run(["xdotool", *args], check=False)

    def focus(self):
        """Gives the X focus to the Wine window, as a click on it would."""
        for name in (TITLE, "Wine"):
            code, output = self.xdotool("search", "--name", name)
            windows = output.split()
            if code == 0 and windows:
                self.xdotool("windowfocus", "--sync", windows[-1])
                return

    def press_key(self, key):
        """A key pressed by hand, at the window that Wine gave the focus."""
        self.focus()
        self.xdotool("key", key)

    def screenshot(self, name, title=TITLE):
        """The screen once the updater's windows have painted and the picture
        has stopped changing."""
        self.focus()
        if self.uidriver:
            self.drive("wait:" + hexbytes(title) + ":5000", "paint")
        path = os.path.join(self.artifacts, name + ".png")
        shots = []
        for _ in range(80):
            self.run(["import", "-window", "root", path], check=False)
            with open(path, "rb") as f:
                shots.append(f.read())
            if len(shots) >= 8 and len(set(shots[-8:])) == 1:
                break
            time.sleep(0.25)
        return path


def parse(output):
    """The UI driver's lines as dicts: windows, controls, exit codes."""
    records = []
    for line in output.splitlines():
        words = line.split(" ")
        kind = words[0]
        if kind not in ("window", "control", "exitcode", "error", "holding", "deleted"):
            continue
        record = {"kind": kind}
        for word in words[1:]:
            if "=" in word:
                name, value = word.split("=", 1)
                record[name] = value
            else:
                record["value"] = word
        if "text" in record:
            record["text"] = bytes.fromhex(record["text"]) if record["text"] else b""
        records.append(record)
    return records
