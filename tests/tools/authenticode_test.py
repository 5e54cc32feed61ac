#!/usr/bin/env python3
"""tools/release/release-sign.py sign-exe and verify-exe on the program as built, with a CA,
a code-signing certificate and time-stamp authorities made here, answering on the
loopback (openssl ts -reply behind http.server). Run by ctest (Windows configuration);
on its own: NORVA_PROGRAM_EXE=.../norva1-update.exe python3 tests/tools/authenticode_test.py
"""
import http.server
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import unittest
from datetime import datetime, timezone

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "release", "release-sign.py")
PROGRAM = os.environ.get("NORVA_PROGRAM_EXE", "")
PASSWORD = "pfx pass; 'quoted' $HOME"
# Certificates as `req -x509 -extensions KIND` makes them, and two time-stamp
# authorities: ours under the CA, a stranger's under a CA of its own.
OPENSSL_CONFIG = """[req]
distinguished_name = name
[name]
[ca]
basicConstraints = critical, CA:true
[code]
extendedKeyUsage = codeSigning
[tsa]
extendedKeyUsage = critical, timeStamping
""" + "".join("[{0}]\nserial = {0}.serial\nsigner_cert = {0}-tsa.pem\nsigner_key = {0}-tsa.key\n"
              "signer_digest = sha256\ndefault_policy = 1.2.3.4.1\ndigests = sha256\n".format(name)
              for name in ("ours", "stranger"))


def pe_fields(data):
    """Offsets of the PE checksum and of the certificate-table entry, and the .text section's (offset, size)."""
    header = struct.unpack_from("<I", data, 0x3C)[0]
    sections, optional_size = struct.unpack_from("<H12xH", data, header + 6)
    optional = header + 24
    first = optional + optional_size
    text = next(struct.unpack_from("<II", data, at + 16)[::-1] for at in range(first, first + 40 * sections, 40)
                if data[at:at + 8].rstrip(b"\0") == b".text")
    return optional + 64, optional + (128 if data[optional + 1] == 1 else 144), text


class TimeStampAuthority(http.server.BaseHTTPRequestHandler):
    """POST /ours or /stranger: that authority's RFC 3161 reply."""

    def do_POST(self):
        query = self.rfile.read(int(self.headers["Content-Length"]))
        reply = b""
        if self.headers["Content-Type"] == "application/timestamp-query":
            reply = subprocess.run(["openssl", "ts", "-reply", "-config", "openssl.cnf", "-section", self.path[1:],
                                    "-queryfile", "/dev/stdin", "-out", "/dev/stdout"], cwd=self.server.folder,
                                   input=query, capture_output=True).stdout
        self.send_response(200 if reply else 400)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


class ProgramSignature(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        assert os.path.isfile(PROGRAM), "NORVA_PROGRAM_EXE names no program: %r" % PROGRAM
        real = shutil.which("osslsigncode")
        assert real, "needs osslsigncode (tools/install-deps.sh)"
        cls.dir = tempfile.mkdtemp()
        with open(cls.path("openssl.cnf"), "w") as out:
            out.write(OPENSSL_CONFIG)
        for name, issuer, kind in (("ca", None, "ca"), ("other", None, "ca"), ("code", "ca", "code"),
                                   ("ours-tsa", "ca", "tsa"), ("stranger-tsa", "other", "tsa")):
            cls.openssl("req", "-x509", "-config", "openssl.cnf", "-extensions", kind, "-subj", "/CN=Test " + name,
                        "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-days", "2",
                        "-keyout", name + ".key", "-out", name + ".pem",
                        *(("-CA", issuer + ".pem", "-CAkey", issuer + ".key") if issuer else ()))
        for name, password in (("code.pfx", PASSWORD), ("open.pfx", "")):
            cls.openssl("pkcs12", "-export", "-inkey", "code.key", "-in", "code.pem", "-certfile", "ca.pem",
                        "-passout", "env:PFX_PASSWORD", "-out", name, PFX_PASSWORD=password)
        # A stand-in osslsigncode first on PATH writes down its command lines and
        # the password variable it was given.
        os.mkdir(cls.path("bin"))
        with open(cls.path("bin", "osslsigncode"), "w") as out:
            out.write('#!/bin/sh\nprintf "%%s\\n" "$*" "${NORVA_SIGN_PASSWORD-}" >>"$0.log"\nexec "%s" "$@"\n' % real)
        os.chmod(cls.path("bin", "osslsigncode"), 0o755)
        cls.authority = http.server.HTTPServer(("127.0.0.1", 0), TimeStampAuthority)
        cls.authority.folder = cls.dir
        threading.Thread(target=cls.authority.serve_forever, daemon=True).start()
        cls.url = "http://127.0.0.1:%d/" % cls.authority.server_port

    @classmethod
    def tearDownClass(cls):
        cls.authority.shutdown()
        cls.authority.server_close()
        shutil.rmtree(cls.dir)

    @classmethod
    def path(cls, *names):
        return os.path.join(cls.dir, *names)

    @classmethod
    def openssl(cls, *args, **environment):
        subprocess.run(["openssl"] + list(args), cwd=cls.dir, env=dict(os.environ, **environment),
                       check=True, capture_output=True, timeout=60)

    def program(self, name):
        return shutil.copyfile(PROGRAM, self.path(name))

    def run_tool(self, *args, password=PASSWORD, path=None):
        environment = dict(os.environ, NORVA_SIGN_PASSWORD=password,
                           PATH=path or self.path("bin") + os.pathsep + os.environ["PATH"])
        return subprocess.run([sys.executable, TOOL] + list(args), env=environment, capture_output=True, text=True,
                              timeout=120)

    def ok(self, *args, **options):
        result = self.run_tool(*args, **options)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def refused(self, words, *args, **options):
        result = self.run_tool(*args, **options)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertRegex(result.stderr, r"^release-sign: error: [^\n]*%s[^\n]*\n\Z" % re.escape(words))

    def tearDown(self):
        with open(self.path("bin", "osslsigncode.log")) as log:
            calls = log.read()
        self.assertRegex(calls, r"(?m)^sign ")
        for password in (PASSWORD, "not it"):
            self.assertFalse(password in calls, "osslsigncode saw the password %r" % password)

    def test_a_signed_program_verifies_under_its_ca_until_a_byte_changes(self):
        program = self.program("signed.exe")
        self.ok("sign-exe", self.path("code.pfx"), program, "--timestamp", self.url + "ours")
        with open(PROGRAM, "rb") as unsigned, open(program, "rb") as signed:
            unsigned, signed = unsigned.read(), signed.read()
        # Signing adds the signature only: apart from the checksum, the certificate-table
        # entry and the table itself (after up to 7 bytes of padding), nothing changed.
        checksum, entry, text = pe_fields(signed)
        table, size = struct.unpack_from("<II", signed, entry)
        self.assertEqual((unsigned[entry:entry + 8], table + size), (bytes(8), len(signed)))
        self.assertIn(table - len(unsigned), range(8))
        self.assertEqual(signed[len(unsigned):table], bytes(table - len(unsigned)))
        restored = bytearray(signed[:len(unsigned)])
        restored[checksum:checksum + 4] = unsigned[checksum:checksum + 4]
        restored[entry:entry + 8] = bytes(8)
        self.assertTrue(restored == unsigned, "signing changed more than the signature")

        report = self.ok("verify-exe", program, "--ca", self.path("ca.pem"))
        self.assertIn("signer: /CN=Test code (chains to", report)
        stamped = re.search(r"^time-stamp: (\S+ \S+) UTC", report, re.M)
        age = datetime.now(timezone.utc) - datetime.strptime(stamped.group(1) + "Z", "%Y-%m-%d %H:%M:%S%z")
        self.assertLess(abs(age.total_seconds()), 600)
        # Without a CA only the file's coverage is known: no "ok", no signer's name.
        unvouched = self.ok("verify-exe", program)
        self.assertIn("covers %s as it is" % program, unvouched)
        self.assertIn("its signer was not checked", unvouched)
        self.assertNotRegex(unvouched, r"(?m)^ok|Test code")
        self.refused("does not chain to a certificate in", "verify-exe", program, "--ca", self.path("other.pem"))
        # The time-stamp's signer counts too; and a certificate without a password signs.
        stranger = self.program("stranger.exe")
        self.ok("sign-exe", self.path("code.pfx"), stranger, "--timestamp", self.url + "stranger")
        self.refused("the time-stamp of", "verify-exe", stranger, "--ca", self.path("ca.pem"))
        self.ok("sign-exe", self.path("open.pfx"), self.program("open.exe"), password="")
        self.ok("verify-exe", self.path("open.exe"), "--ca", self.path("ca.pem"))

        # A byte of code changed; then also the digest in the signed content, to match.
        changed = bytearray(signed)
        changed[text[0] + text[1] // 2] ^= 0xFF
        with open(program, "wb") as out:
            out.write(changed)
        self.refused("changed after it was signed", "verify-exe", program, "--ca", self.path("ca.pem"))
        digests = re.findall(r"(?m)^(?:Current|Calculated) message digest\s*:\s*(\w+)", subprocess.run(
            ["osslsigncode", "verify", "-in", program], capture_output=True, text=True).stdout)
        with open(program, "wb") as out:
            out.write(changed.replace(bytes.fromhex(digests[0]), bytes.fromhex(digests[1])))
        self.refused("does not verify", "verify-exe", program)

    def with_table_grown(self, name, source, extra, entry_too=False):
        """A copy of a signed program whose certificate table ends in `extra`, outside the signature's
        digest, as in the first entry (`entry_too`) or as a second one."""
        with open(source, "rb") as original:
            data = bytearray(original.read())
        entry = pe_fields(data)[1]
        table, size = struct.unpack_from("<II", data, entry)
        self.assertEqual(table + size, len(data))
        struct.pack_into("<I", data, entry + 4, size + len(extra))
        if entry_too:
            struct.pack_into("<I", data, table, struct.unpack_from("<I", data, table)[0] + len(extra))
        with open(self.path(name), "wb") as out:
            out.write(data + extra)
        return self.path(name)

    def test_a_refusal_leaves_the_file_as_it_was(self):
        program, signed = self.program("unsigned.exe"), self.program("signed-before.exe")
        self.ok("sign-exe", self.path("code.pfx"), signed)
        hidden = self.with_table_grown("hidden.exe", signed, b"payload!", entry_too=True)
        second = self.with_table_grown("second.exe", signed, struct.pack("<IHH", 16, 0x200, 2) + b"payload!")
        pfx, text = self.path("code.pfx"), self.path("openssl.cnf")
        for name, target, words, args, options in (
                ("a wrong password", program, "wrong password", ("sign-exe", pfx, program), {"password": "not it"}),
                ("no osslsigncode", program, "apt-get install osslsigncode", ("sign-exe", pfx, program),
                 {"path": os.devnull}),
                ("no program", text, "not a Windows program", ("sign-exe", pfx, text), {}),
                ("signed already", signed, "signed already", ("sign-exe", pfx, signed), {}),
                ("unsigned", program, "is not signed", ("verify-exe", program), {}),
                ("bytes hidden after the signature", hidden, "more than the one signature and its padding",
                 ("verify-exe", hidden, "--ca", self.path("ca.pem")), {}),
                ("a second entry", second, "more than the one signature and its padding", ("verify-exe", second),
                 {})):
            with self.subTest(name), open(target, "rb") as before:
                before = before.read()
                self.refused(words, *args, **options)
                with open(target, "rb") as after:
                    self.assertTrue(after.read() == before, "%s changed" % target)
        self.assertEqual([name for name in os.listdir(self.dir) if name.startswith(".sign-")], [])


if __name__ == "__main__":
    unittest.main()
