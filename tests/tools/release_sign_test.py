#!/usr/bin/env python3
"""The vendor's side of signed releases, as a vendor uses it: tools/release/release-sign.py
run as a program, and the build's check of the keys it prints
(cmake/release-keys.cmake). That the program verifies what the tool signs is
the Windows tests' part (tests/e2e/signed_update_e2e_test.cpp).

Run by ctest; on its own: python3 tests/tools/release_sign_test.py
"""
import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
from datetime import datetime, timedelta, timezone

from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "release", "release-sign.py")
CMAKE = os.environ.get("NORVA_CMAKE") or shutil.which("cmake")
DATE = "%Y-%m-%dT%H:%M:%SZ"
UNDATED = (b"; release\r\nversion=1.4.0\r\nxzdz=https://h/fw/norva1-1.4.0.uf2\r\nsha256=" + b"ab" * 32 +
           b"\r\nproduct=NORVA1\r\n")
MANIFEST = UNDATED + b"expires=" + (datetime.now(timezone.utc) + timedelta(days=10)).strftime(DATE).encode() + b"\r\n"
UF2GEN = os.path.join(ROOT, "tools", "world", "uf2gen.py")
PASSPHRASE = "vendor's passphrase"


def days_ahead(manifest):
    """How far ahead the `expires` of a com.ini lies, in days."""
    expires = re.search(rb"^expires=(\S+)$", manifest, re.M).group(1).decode()
    return (datetime.strptime(expires, DATE).replace(tzinfo=timezone.utc) - datetime.now(timezone.utc)) / \
        timedelta(days=1)


class ToolCase(unittest.TestCase):
    """The tool run as a program, in a directory of its own."""

    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as out:
            out.write(data)
        return self.path(name)

    def run_tool(self, *args, passphrase=PASSPHRASE):
        """The tool without a terminal, given the key's passphrase in the environment (None: not given)."""
        environment = {name: value for name, value in os.environ.items() if name != "NORVA_KEY_PASSWORD"}
        if passphrase is not None:
            environment["NORVA_KEY_PASSWORD"] = passphrase
        return subprocess.run([sys.executable, TOOL] + list(args), env=environment, stdin=subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60)

    def ok(self, *args, **options):
        result = self.run_tool(*args, **options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def keygen(self, name):
        return self.ok("keygen", self.path(name)).splitlines()[0]

    def sign_as_vendor(self, key_name, data, name):
        """com.ini.sig for `data` made without the tool (for what the tool would refuse to sign)."""
        with open(self.path(key_name), "rb") as pem:
            key = serialization.load_pem_private_key(pem.read(), PASSPHRASE.encode())
        r, s = decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
        return self.write(name, base64.b64encode(r.to_bytes(32, "big") + s.to_bytes(32, "big")) + b"\n")


class ReleaseSignTool(ToolCase):
    def test_a_key_signs_a_release_that_verifies_until_a_byte_changes(self):
        public = self.keygen("vendor.pem")
        self.assertRegex(public, r"^04[0-9a-f]{128}$")
        self.assertEqual(os.stat(self.path("vendor.pem")).st_mode & 0o777, 0o600)
        # Written encrypted: it cannot be read without its passphrase.
        with open(self.path("vendor.pem"), "rb") as pem, self.assertRaises(TypeError):
            serialization.load_pem_private_key(pem.read(), None)
        self.assertEqual(self.ok("pubkey", self.path("vendor.pem")), public)
        # A throw-away key, in the clear: read without a passphrase.
        next_key = self.ok("keygen", self.path("next.pem"), "--no-passphrase", passphrase=None)
        self.assertEqual(self.ok("pubkey", self.path("next.pem"), passphrase=None), next_key)

        manifest = self.write("com.ini", MANIFEST)
        said = self.ok("sign", self.path("vendor.pem"), manifest)
        # What the program reads, to be seen before publishing.
        for value in (b"product=NORVA1", b"version=1.4.0", b"sha256=" + b"ab" * 32, re.search(
                rb"expires=\S+", MANIFEST).group(0) + b" (in 9 days 23 hours)"):
            self.assertIn("  " + value.decode(), said.splitlines())
        with open(manifest + ".sig", "rb") as sig:
            text = sig.read()
        self.assertEqual(len(base64.b64decode(text.strip(), validate=True)), 64)
        # Under the key, under either of two keys, from a file, and wrapped as tools wrap base64.
        self.write("public.txt", public.encode() + b"\n")
        wrapped = self.write("wrapped.sig", text[:40] + b"\r\n  " + text[40:])
        for keys, signature in ((public, manifest + ".sig"), (next_key + ";" + public, manifest + ".sig"),
                                (self.path("public.txt"), wrapped)):
            with self.subTest(keys=keys[:20], signature=signature):
                self.ok("verify", keys, manifest, signature)

        for keys, data in ((next_key, MANIFEST), (public, MANIFEST.replace(b"1.4.0", b"1.5.0", 1))):
            with self.subTest(keys=keys[:20], data=data[:30]):
                self.write("com.ini", data)
                result = self.run_tool("verify", keys, manifest, manifest + ".sig")
                self.assertEqual(result.returncode, 1)
                self.assertIn("does not verify", result.stderr)

    def test_a_users_mistake_is_one_line_never_a_traceback(self):
        self.keygen("vendor.pem")
        public = self.ok("pubkey", self.path("vendor.pem"))
        manifest = self.write("com.ini", MANIFEST)
        self.ok("sign", self.path("vendor.pem"), manifest)
        unhashed = self.write("unhashed.ini", b"version=1.4.0\nxzdz=https://h/a.uf2\nproduct=NORVA1\n")
        foreign = self.write("foreign.ini", MANIFEST.replace(b"NORVA1", b"NORVA2"))
        undated = self.write("undated.ini", UNDATED)
        expired = self.write("expired.ini", UNDATED + b"expires=2020-01-01T00:00:00Z\n")
        sections = self.write("sections.ini", b"[norva2]\nxzdz=https://h/b.uf2\n[norva1]\n" + MANIFEST)
        not_a_key = self.write("notes.txt", b"not a key\n")
        bad_signature = self.write("bad.sig", base64.b64encode(b"\x01" * 63) + b"\n")
        with open(manifest + ".sig", "rb") as sig:
            text = sig.read()
        # The digit before "==" carries 4 bits no byte uses: Python's decoder ignores them, the program does not.
        loose = self.write("loose.sig", text[:85] + bytes([text[85] + 1]) + text[86:])
        mistakes = {
            "a key over an existing one": (("keygen", self.path("vendor.pem")), "exists already"),
            "a key file that is not there": (("sign", self.path("missing.pem"), manifest), "cannot read"),
            "a file that is no key": (("pubkey", not_a_key), "not a PEM private key"),
            "a wrong passphrase": (("pubkey", self.path("vendor.pem")), "wrong passphrase", "not it"),
            "no passphrase and no terminal": (("sign", self.path("vendor.pem"), manifest), "NORVA_KEY_PASSWORD", None),
            "an empty passphrase for a new key": (("keygen", self.path("new.pem")), "--no-passphrase", ""),
            "a manifest that is not there": (("sign", self.path("vendor.pem"), self.path("gone.ini")), "cannot read"),
            "a manifest without sha256": (("sign", self.path("vendor.pem"), unhashed), "sha256"),
            "a manifest of another product": (("sign", self.path("vendor.pem"), foreign), "product=NORVA1"),
            "a manifest without a date": (("sign", self.path("vendor.pem"), undated), "expires="),
            "a manifest past its date": (("sign", self.path("vendor.pem"), expired), "in the past"),
            "a manifest with sections": (("sign", self.path("vendor.pem"), sections), "no section header"),
            "a public key of another form": (("verify", public[:-2], manifest, manifest + ".sig"), "not a public key"),
            "three public keys": (("verify", ";".join([public] * 3), manifest, manifest + ".sig"), "at most two"),
            "a point off the curve": (("verify", public[:-1] + ("0" if public[-1] != "0" else "1"), manifest,
                                       manifest + ".sig"), "no point"),
            "a signature of 63 bytes": (("verify", public, manifest, bad_signature), "64 bytes"),
            "a signature the program reads otherwise": (("verify", public, manifest, loose), "as the program reads it"),
            "a signed release past its date": (("verify", public, expired, self.sign_as_vendor(
                "vendor.pem", UNDATED + b"expires=2020-01-01T00:00:00Z\n", "expired.sig")), "in the past"),
        }
        for name, (args, words, *passphrase) in mistakes.items():
            with self.subTest(name):
                result = self.run_tool(*args, passphrase=(passphrase or [PASSPHRASE])[0])
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                self.assertTrue(result.stderr.startswith("release-sign: error: "), result.stderr)
                self.assertIn(words, result.stderr)
        # The refused key was not overwritten, and no key was written without its passphrase.
        self.assertEqual(self.ok("pubkey", self.path("vendor.pem")), public)
        self.assertFalse(os.path.exists(self.path("new.pem")))


class ReleaseCommand(ToolCase):
    """`release`: an image, its version and URL in; a checked com.ini and its signature out."""

    def image(self, name, variant="good", size=70000):
        subprocess.run([sys.executable, UF2GEN, "--version", "1.6.0", "--size", str(size), "--variant", variant,
                        "-o", self.path(name)], check=True, capture_output=True, timeout=60)
        return self.path(name)

    def release(self, image, version="1.6.0", url="https://h.example/fw/norva1-1.6.0.uf2", out="pub", days=None):
        return self.run_tool("release", self.path("vendor.pem"), image, "--version", version, "--url", url,
                             "--out", self.path(out), *(("--valid-days", days) if days else ()))

    def read(self, name):
        with open(self.path(name), "rb") as source:
            return source.read()

    def test_a_release_is_written_as_the_program_reads_it_verifies_and_is_renewed_as_it_was(self):
        public = self.keygen("vendor.pem")
        image = self.image("fw.uf2")
        result = self.release(image)
        self.assertEqual(result.returncode, 0, result.stderr)
        digest = hashlib.sha256(self.read("fw.uf2")).hexdigest()
        written = self.read("pub/com.ini")
        self.assertRegex(written, rb"\Aproduct=NORVA1\nversion=1\.6\.0\n"
                         rb"xzdz=https://h\.example/fw/norva1-1\.6\.0\.uf2\n"
                         rb"sha256=" + digest.encode() + rb"\nexpires=[-0-9T:]{19}Z\n\Z")
        self.assertAlmostEqual(days_ahead(written), 30, delta=0.01)
        self.assertIn("  sha256=" + digest, result.stdout.splitlines())
        self.ok("verify", public, self.path("pub/com.ini"), self.path("pub/com.ini.sig"))

        # Renewed: the same release to the byte, but for its date.
        said = self.ok("renew", self.path("vendor.pem"), self.path("pub/com.ini"), "--valid-days", "366")
        renewed = self.read("pub/com.ini")
        self.assertEqual(re.sub(rb"expires=\S+", b"", renewed), re.sub(rb"expires=\S+", b"", written))
        self.assertAlmostEqual(days_ahead(renewed), 366, delta=0.01)
        self.assertIn("  xzdz=https://h.example/fw/norva1-1.6.0.uf2", said.splitlines())
        self.ok("verify", public, self.path("pub/com.ini"), self.path("pub/com.ini.sig"))
        # A release signed before releases were dated gains a date.
        os.mkdir(self.path("old"))
        self.write("old/com.ini", UNDATED)
        self.sign_as_vendor("vendor.pem", UNDATED, "old/com.ini.sig")
        self.ok("renew", self.path("vendor.pem"), self.path("old/com.ini"))
        self.assertRegex(self.read("old/com.ini"), re.escape(UNDATED) + rb"expires=\S+\n\Z")
        self.assertAlmostEqual(days_ahead(self.read("old/com.ini")), 30, delta=0.01)
        self.ok("verify", public, self.path("old/com.ini"), self.path("old/com.ini.sig"))
        # Only what this key signed, unchanged, is renewed.
        self.write("pub/com.ini", renewed.replace(b"1.6.0.uf2", b"1.6.1.uf2"))
        result = self.run_tool("renew", self.path("vendor.pem"), self.path("pub/com.ini"))
        self.assertEqual(result.returncode, 1)
        self.assertIn("renew only a release it signed", result.stderr)

    def test_what_the_program_would_refuse_is_never_published(self):
        self.keygen("vendor.pem")
        good = self.image("fw.uf2")
        # A release already published (for a day, the shortest) stays as it was.
        self.assertEqual(self.release(good, days="1").returncode, 0)
        with open(self.path("pub/com.ini"), "rb") as before:
            published = before.read()
        oversized = self.write("huge.uf2", b"")
        with open(oversized, "r+b") as out:
            out.truncate(32 * 1024 * 1024 + 512)
        refusals = {
            "a block missing": ((self.image("cut.uf2", "missing_block"),), "missing"),
            "another chip's image": ((self.image("other.uf2", "wrong_family"),), "RP2040"),
            "an error page": ((self.image("page.uf2", "html"),), "512-byte"),
            "a program for RAM": ((self.image("ram.uf2", "ram"),), "for RAM"),
            "past the download limit": ((oversized,), "larger than the program downloads"),
            "a v16 version": ((good, "v16.2"), "v16"),
            "a version without a number": ((good, "stable"), "no number"),
            "a version the device cannot report": ((good, "1." * 40), "64 bytes"),
            "a version that would add a line": ((good, "1.7\nversion=9"), "printable ASCII"),
            "a URL of another scheme": ((good, "1.6.0", "ftp://h/fw.uf2"), "--url"),
            "a URL that would add a line": ((good, "1.6.0", "https://h/a.uf2\nsha256=00"), "--url"),
            "a URL past 256 bytes": ((good, "1.6.0", "https://h/" + "a" * 250), "longer than 256"),
            "valid for no day": ((good,), "--valid-days must be 1 to 366", {"days": "0"}),
            "valid for longer than a year": ((good,), "--valid-days must be 1 to 366", {"days": "367"}),
        }
        for name, (args, words, *options) in refusals.items():
            with self.subTest(name):
                result = self.release(*args, **(options or [{}])[0])
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertTrue(result.stderr.startswith("release-sign: error: "), result.stderr)
                self.assertIn(words, result.stderr)
                with open(self.path("pub/com.ini"), "rb") as after:
                    self.assertEqual(after.read(), published)
        self.assertEqual(sorted(os.listdir(self.path("pub"))), ["com.ini", "com.ini.sig"])

    def test_without_the_programs_rules_nothing_is_signed(self):
        self.keygen("vendor.pem")
        os.environ["NORVA_RELEASE_CHECK"], saved = self.path("absent"), os.environ.get("NORVA_RELEASE_CHECK")
        try:
            result = self.release(self.image("fw.uf2"))
        finally:
            if saved is None:
                del os.environ["NORVA_RELEASE_CHECK"]
            else:
                os.environ["NORVA_RELEASE_CHECK"] = saved
        self.assertEqual(result.returncode, 1)
        self.assertIn("no program", result.stderr)
        self.assertFalse(os.path.exists(self.path("pub")))


@unittest.skipUnless(CMAKE, "needs cmake")
class BuildSettingOfTheKeys(unittest.TestCase):
    """NORVA_RELEASE_KEYS as the configure step checks it."""

    def configure(self, keys):
        return subprocess.run([CMAKE, "-DNORVA_RELEASE_KEYS=" + keys, "-P",
                               os.path.join(ROOT, "cmake", "release-keys.cmake")],
                              capture_output=True, text=True, timeout=60)

    def test_one_or_two_keys_of_the_printed_form_and_nothing_else(self):
        key = "04" + "1f" * 64
        accepted = {"no key": "", "one key": key, "two keys": key + ";" + key.upper()}
        refused = {
            "a digit short": key[:-1],
            "a compressed point": "02" + "1f" * 32,
            "not hexadecimal": key[:-1] + "g",
            "without the leading 04": "1f" * 65,
            "three keys": ";".join([key] * 3),
        }
        for name, keys in accepted.items():
            with self.subTest(name):
                result = self.configure(keys)
                self.assertEqual(result.returncode, 0, result.stderr)
        for name, keys in refused.items():
            with self.subTest(name):
                result = self.configure(keys)
                self.assertNotEqual(result.returncode, 0)
                self.assertIn("NORVA_RELEASE_KEYS", result.stderr)


if __name__ == "__main__":
    unittest.main()
