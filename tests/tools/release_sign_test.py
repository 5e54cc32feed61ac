#!/usr/bin/env python3
"""The vendor's side of signed releases, as a vendor uses it: tools/release-sign.py
run as a program, and the build's check of the keys it prints
(cmake/release-keys.cmake). That the program verifies what the tool signs is
the Windows tests' part (tests/e2e/signed_update_e2e_test.cpp).

Run by ctest; on its own: python3 tests/tools/release_sign_test.py
"""
import base64
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
TOOL = os.path.join(ROOT, "tools", "release-sign.py")
CMAKE = os.environ.get("NORVA_CMAKE") or shutil.which("cmake")
MANIFEST = b"; release\r\nversion=1.4.0\r\nxzdz=https://h/fw/norva1-1.4.0.uf2\r\nsha256=" + b"ab" * 32 + b"\r\n"


class ReleaseSignTool(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data):
        with open(self.path(name), "wb") as out:
            out.write(data)
        return self.path(name)

    def run_tool(self, *args):
        return subprocess.run([sys.executable, TOOL] + list(args), capture_output=True, text=True, timeout=60)

    def ok(self, *args):
        result = self.run_tool(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.strip()

    def keygen(self, name):
        return self.ok("keygen", self.path(name))

    def test_a_key_signs_a_release_that_verifies_until_a_byte_changes(self):
        public = self.keygen("vendor.pem")
        self.assertRegex(public, r"^04[0-9a-f]{128}$")
        self.assertEqual(os.stat(self.path("vendor.pem")).st_mode & 0o777, 0o600)
        self.assertEqual(self.ok("pubkey", self.path("vendor.pem")), public)
        next_key = self.keygen("next.pem")

        manifest = self.write("com.ini", MANIFEST)
        self.ok("sign", self.path("vendor.pem"), manifest)
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
        unhashed = self.write("unhashed.ini", b"version=1.4.0\nxzdz=https://h/a.uf2\n")
        not_a_key = self.write("notes.txt", b"not a key\n")
        bad_signature = self.write("bad.sig", base64.b64encode(b"\x01" * 63) + b"\n")
        mistakes = {
            "a key over an existing one": (("keygen", self.path("vendor.pem")), "exists already"),
            "a key file that is not there": (("sign", self.path("missing.pem"), manifest), "cannot read"),
            "a file that is no key": (("pubkey", not_a_key), "not a PEM private key"),
            "a manifest that is not there": (("sign", self.path("vendor.pem"), self.path("gone.ini")), "cannot read"),
            "a manifest without sha256": (("sign", self.path("vendor.pem"), unhashed), "sha256"),
            "a public key of another form": (("verify", public[:-2], manifest, manifest + ".sig"), "not a public key"),
            "three public keys": (("verify", ";".join([public] * 3), manifest, manifest + ".sig"), "at most two"),
            "a point off the curve": (("verify", public[:-1] + ("0" if public[-1] != "0" else "1"), manifest,
                                       manifest + ".sig"), "no point"),
            "a signature of 63 bytes": (("verify", public, manifest, bad_signature), "64 bytes"),
        }
        for name, (args, words) in mistakes.items():
            with self.subTest(name):
                result = self.run_tool(*args)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertNotIn("Traceback", result.stderr)
                self.assertTrue(result.stderr.startswith("release-sign: error: "), result.stderr)
                self.assertIn(words, result.stderr)
        # The refused key was not overwritten.
        self.assertEqual(self.ok("pubkey", self.path("vendor.pem")), public)


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
