#!/usr/bin/python3
"""scripts/dist as whoever ships the update runs it: the player's folder and
zip, unsigned and signed.  The certificate is a throwaway self-signed one
made here with openssl; the signed update.exe must verify, keep exactly its
two resources and its imports, and hold the unsigned image's bytes up to
the certificate table (but for the two header fields that signing sets).

  dist_test.py SOURCE_DIR UPDATE_EXE"""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zipfile

import pefile

SOURCE, UPDATE_EXE = sys.argv[1:3]
del sys.argv[1:3]
DIST = os.path.join(SOURCE, "scripts", "dist")


def header_fields(image):
    """Offsets of the PE CheckSum and of the certificate table's directory
    entry, the two places signing may change before the table itself."""
    pe_offset = struct.unpack_from("<I", image, 0x3C)[0]
    optional = pe_offset + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    return optional + 64, directories + 4 * 8


class Dist(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        self.files = []
        for name, data in [("p.dat", b"patch" * 100), ("i.pak", b"pak" * 50), ("a.ini", b"[a]\r\n")]:
            path = os.path.join(self.dir, name)
            with open(path, "wb") as f:
                f.write(data)
            self.files.append(path)

    def tearDown(self):
        self.tmp.cleanup()

    def dist(self, out, *extra):
        return subprocess.run([DIST, out, *self.files, *extra], capture_output=True, text=True, timeout=300)

    def make_certificate(self):
        key, cert = os.path.join(self.dir, "key.pem"), os.path.join(self.dir, "cert.pem")
        p12, password = os.path.join(self.dir, "cert.p12"), os.path.join(self.dir, "password")
        with open(password, "w") as f:
            f.write("throwaway secret\n")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "2", "-subj", "/CN=Update Test Signer",
                        "-addext", "extendedKeyUsage=codeSigning"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", p12,
                        "-passout", "file:" + password], check=True, capture_output=True)
        return p12, password, cert

    def expect_release(self, out):
        self.assertEqual(os.listdir(os.path.join(out, "tools")), ["mkupdate.exe"], "the tool for the next update")
        player = os.path.join(out, "player")
        self.assertEqual(sorted(os.listdir(player)), ["UpdateData.dat", "update.exe"])
        with zipfile.ZipFile(os.path.join(out, "luminario-update-1.10.zip")) as z:
            self.assertEqual(sorted(z.namelist()), ["UpdateData.dat", "update.exe"], "the zip holds nothing else")
            for name in z.namelist():
                with open(os.path.join(player, name), "rb") as f:
                    self.assertEqual(z.read(name), f.read(), name)
        return os.path.join(player, "update.exe")

    def test_unsigned_release_says_so(self):
        out = os.path.join(self.dir, "release")
        done = self.dist(out)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("UNSIGNED", done.stdout)
        exe = self.expect_release(out)
        with open(exe, "rb") as a, open(UPDATE_EXE, "rb") as b:
            self.assertEqual(a.read(), b.read(), "the unsigned build is shipped as built")

    def test_signed_release_verifies_and_keeps_the_image(self):
        p12, password, cert = self.make_certificate()
        out = os.path.join(self.dir, "release")
        done = self.dist(out, "--sign", p12, "--password-file", password)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)
        self.assertIn("signature verifies", done.stdout)
        exe = self.expect_release(out)
        verified = subprocess.run(["osslsigncode", "verify", "-in", exe, "-CAfile", cert],
                                  capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stdout + verified.stderr)
        self.assertIn("sha256", verified.stdout.lower())

        with open(UPDATE_EXE, "rb") as f:
            unsigned = f.read()
        with open(exe, "rb") as f:
            signed = f.read()
        pe = pefile.PE(data=signed)
        table = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
        self.assertGreater(table.Size, 0, "a certificate table")
        self.assertGreaterEqual(table.VirtualAddress, len(unsigned))
        checksum, directory = header_fields(unsigned)
        masked = [(checksum, 4), (directory, 8)]

        def mask(image):
            image = bytearray(image[:len(unsigned)])
            for at, size in masked:
                image[at:at + size] = b"\0" * size
            return bytes(image)

        self.assertEqual(mask(signed), mask(unsigned), "the image before the certificate table")
        original = pefile.PE(data=unsigned)
        self.assertEqual(self.resources(pe), self.resources(original))
        self.assertEqual(len(self.resources(pe)), 2)
        self.assertEqual(self.imports(pe), self.imports(original))

    def test_a_wrong_password_fails_and_ships_nothing_signed(self):
        p12, _, _ = self.make_certificate()
        wrong = os.path.join(self.dir, "wrong")
        with open(wrong, "w") as f:
            f.write("not it\n")
        out = os.path.join(self.dir, "release")
        done = self.dist(out, "--sign", p12, "--password-file", wrong)
        self.assertNotEqual(done.returncode, 0)
        self.assertFalse(os.path.exists(os.path.join(out, "player", "update.exe")))
        self.assertFalse(os.path.exists(os.path.join(out, "luminario-update-1.10.zip")))

    @staticmethod
    def resources(pe):
        found = []
        for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for name in kind.directory.entries:
                for lang in name.directory.entries:
                    entry = lang.data.struct
                    found.append((kind.id, name.id, lang.id, pe.get_data(entry.OffsetToData, entry.Size)))
        return found

    @staticmethod
    def imports(pe):
        return [(d.dll, [i.name for i in d.imports]) for d in pe.DIRECTORY_ENTRY_IMPORT]


if __name__ == "__main__":
    unittest.main(verbosity=2)
