#!/usr/bin/env python3
"""Signs firmware releases for the update centre.

    release-sign.py keygen PRIVATE.pem [--no-passphrase]
                                                    a new signing key; prints its public key
    release-sign.py pubkey PRIVATE.pem              prints the public key again
    release-sign.py release PRIVATE.pem IMAGE.uf2 --version V --url URL [--out DIR] [--valid-days N]
                                                    writes com.ini and com.ini.sig for an image
    release-sign.py renew PRIVATE.pem com.ini [--valid-days N]
                                                    moves a signed release's date, signs it again
    release-sign.py sign PRIVATE.pem com.ini        writes com.ini.sig beside com.ini
    release-sign.py verify PUBLIC com.ini com.ini.sig
                                                    checks a pair before it is published

A key is an ECDSA P-256 key. Its public half is printed as the program's build
setting NORVA_RELEASE_KEYS takes it: the uncompressed point, 130 hexadecimal
digits starting with 04. PUBLIC is such a key, two of them separated by ';' (as
a program built with the current and the next key trusts them), or a file that
holds that text. Keep PRIVATE.pem offline: whoever has it can sign firmware
every such program takes. keygen writes it encrypted (PKCS#8) with a
passphrase taken from NORVA_KEY_PASSWORD, else asked for twice at the
terminal; release, renew, sign and pubkey take it the same way, never from the
command line. --no-passphrase writes a key in the clear, for a throw-away key
such as a test's or the demo's.

com.ini.sig is the base64 of the signature r||s (two 32-byte big-endian
numbers) over the SHA-256 of com.ini's exact bytes: after signing, com.ini must
not change by a single byte. A signed com.ini must name `version`, `xzdz`, the
image's `sha256`, `product=NORVA1` and `expires`, the UTC time
(YYYY-MM-DDTHH:MM:SSZ) after which the program no longer takes it; it may hold
no section header and no key twice. `sign` and `verify` refuse one that the
program would refuse, also one whose date has passed. `release` writes such a
com.ini for an image, after checking the image and the version as the program
will, valid for --valid-days days (30 unless said, 1 to 366). `renew` gives a
release this key signed a new date, --valid-days from now, and signs it again:
the image, its URL and its hash stay as they are. Each prints the values the
program reads.

What the program takes is decided by the program's own code, built as the
native command norva1-release-check; `release`, `renew`, `sign` and `verify`
run it (`verify` reads the signature with it too). It is looked for in
build-release-tools/tools and build-test-native/tools of this repository,
then on PATH (NORVA_RELEASE_CHECK names another); build it with
  cmake -S . -B build-release-tools -DNORVA_BUILD_TESTS=OFF -DNORVA_SANITIZE=OFF
  cmake --build build-release-tools --target norva1-release-check

Needs Python 3 and the `cryptography` package (Debian: python3-cryptography).

The program itself carries an Authenticode signature, made with the vendor's
code-signing certificate (a PKCS#12 file) and checked before it is published:

    release-sign.py sign-exe CERT.pfx norva1-update.exe [--timestamp URL]
                                                    signs the program in place
    release-sign.py verify-exe norva1-update.exe [--ca CA.pem]
                                                    checks its signature

sign-exe signs with SHA-256 and, given --timestamp, has the signature
time-stamped by that RFC 3161 server, so that Windows still trusts it after
the certificate expires. It refuses a program that is signed already. The
certificate's password is taken from NORVA_SIGN_PASSWORD, else asked for; it
is never put on a command line. verify-exe says whether the signature covers
the file as it is, and with --ca whether the signer and the time-stamp's
signer chain to a certificate in CA.pem (which may hold several, such as the
code-signing CA and the time-stamp authority's); without --ca it says that the
signer was not checked. It refuses a file whose certificate table holds
anything but one signature and its padding. Both need osslsigncode and openssl
(Debian: apt-get install osslsigncode openssl).
"""

import argparse
import base64
import getpass
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
from datetime import datetime, timedelta, timezone

try:
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature
except ImportError:  # pragma: no cover - depends on the machine
    sys.exit("release-sign: error: needs the Python package `cryptography` "
             "(Debian/Ubuntu: apt-get install python3-cryptography)")

KEY_TEXT = re.compile(r"04[0-9A-Fa-f]{128}")


class Refusal(Exception):
    """A user's mistake: printed as one line, never as a traceback."""


def read_bytes(path, what):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as problem:
        raise Refusal("cannot read %s %s: %s" % (what, path, problem.strerror or problem))


KEY_PASSWORD_VARIABLE = "NORVA_KEY_PASSWORD"


def key_passphrase(path, new=False):
    """The passphrase of a private key: NORVA_KEY_PASSWORD, else asked at the
    terminal (twice for a new key); never a command-line argument."""
    passphrase = os.environ.get(KEY_PASSWORD_VARIABLE)
    if passphrase is None:
        if not sys.stdin.isatty():
            raise Refusal("the passphrase of %s: set %s or run at a terminal" % (path, KEY_PASSWORD_VARIABLE))
        try:
            passphrase = getpass.getpass("passphrase of %s: " % path)
            if new and getpass.getpass("the same passphrase again: ") != passphrase:
                raise Refusal("the two passphrases differ; %s was not written" % path)
        except EOFError:
            raise Refusal("no passphrase for %s" % path)
    if not passphrase:
        raise Refusal("an empty passphrase for %s; a key without one is made with keygen --no-passphrase" % path)
    return passphrase.encode("utf-8", "surrogateescape")


def load_private_key(path):
    data = read_bytes(path, "private key")
    try:
        key = serialization.load_pem_private_key(data, password=None)
    except TypeError:  # encrypted: its passphrase opens it
        try:
            key = serialization.load_pem_private_key(data, password=key_passphrase(path))
        except (ValueError, TypeError):
            raise Refusal("wrong passphrase for %s" % path)
    except ValueError as problem:
        reason = str(problem).split(". ")[0].rstrip(".")
        raise Refusal("%s is not a PEM private key this tool can read (%s)" % (path, reason))
    if not isinstance(key, ec.EllipticCurvePrivateKey) or key.curve.name != "secp256r1":
        raise Refusal("%s is not an ECDSA P-256 key (make one with: release-sign.py keygen FILE)" % path)
    return key


def public_key_text(key):
    point = key.public_key().public_bytes(serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint)
    return point.hex()


def parse_public_keys(text):
    """One or two keys as NORVA_RELEASE_KEYS takes them, or a file holding them."""
    candidate = text.strip()
    if not candidate.startswith("04") and os.path.isfile(candidate):
        candidate = read_bytes(candidate, "public key").decode("ascii", "replace").strip()
    keys = []
    parts = [part.strip() for part in candidate.split(";")]
    if len(parts) > 2:
        raise Refusal("at most two public keys (the current and the next), not %d" % len(parts))
    for part in parts:
        if not KEY_TEXT.fullmatch(part):
            raise Refusal("not a public key: %r; a key is 130 hexadecimal digits starting with 04, "
                          "as `release-sign.py pubkey` prints it" % part[:140])
        try:
            keys.append(ec.EllipticCurvePublicKey.from_encoded_point(ec.SECP256R1(), bytes.fromhex(part)))
        except ValueError:
            raise Refusal("%s... is no point of the P-256 curve" % part[:16])
    return keys


CHECKER = "norva1-release-check"
CHECKER_BUILD = ("cmake -S . -B build-release-tools -DNORVA_BUILD_TESTS=OFF -DNORVA_SANITIZE=OFF && "
                 "cmake --build build-release-tools --target " + CHECKER)
PRODUCT = "NORVA1"


def find_checker():
    named = os.environ.get("NORVA_RELEASE_CHECK")
    if named:
        if not os.access(named, os.X_OK):
            raise Refusal("NORVA_RELEASE_CHECK names %s, which is no program" % named)
        return named
    repository = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    for build in ("build-release-tools", "build-test-native"):
        candidate = os.path.join(repository, build, "tools", CHECKER)
        if os.access(candidate, os.X_OK):
            return candidate
    found = shutil.which(CHECKER)
    if found:
        return found
    raise Refusal("needs %s, the program's own release rules; build it in %s with: %s"
                  % (CHECKER, repository, CHECKER_BUILD))


def run_checker(*args):
    """The program's verdict: (True, what it printed) or (False, its reason)."""
    try:
        result = subprocess.run([find_checker()] + list(args), capture_output=True, timeout=120)
    except OSError as problem:
        raise Refusal("cannot run %s: %s" % (CHECKER, problem.strerror or problem))
    if result.returncode not in (0, 1):
        raise Refusal("%s failed (exit %d): %s" % (CHECKER, result.returncode,
                                                     result.stderr.decode("utf-8", "replace").strip()))
    if result.returncode == 1:
        return False, result.stderr.decode("utf-8", "replace").strip()
    return True, result.stdout


def check_manifest(name, data, signed=True):
    """The values the program reads from `data`, as a signed com.ini checked by
    this machine's clock (or, not `signed`, as a program without keys reads it),
    or a refusal."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "com.ini")
        with open(copy, "wb") as out:
            out.write(data)
        ok, said = run_checker("manifest", copy, *(("--signed",) if signed else ()))
    if not ok:
        raise Refusal("%s: %s; the program refuses such a %smanifest" % (name, said, "signed " if signed else ""))
    values = {}
    for line in said.split(b"\n"):
        key, _, value = line.partition(b"=")
        if key:
            values[key.decode("ascii")] = value
    return values


def values_read(values):
    """The values the program reads, as lines to print; the date with the time left."""
    lines = ["the program reads:"]
    for key in ("product", "version", "xzdz", "sha256", "expires"):
        text = values.get(key, b"").decode("utf-8", "backslashreplace")
        if key == "expires":
            left = datetime.strptime(text, DATE_FORMAT).replace(tzinfo=timezone.utc) - datetime.now(timezone.utc)
            text += " (in %d days %d hours)" % (left.days, left.seconds // 3600)
        lines.append("  %s=%s" % (key, text))
    return "\n".join(lines)


def sign_bytes(key, data):
    """The text of com.ini.sig for `data`: base64 of r||s, and a line end."""
    r, s = decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
    signature = r.to_bytes(32, "big") + s.to_bytes(32, "big")
    return base64.b64encode(signature).decode("ascii") + "\n"


def signed_by(keys, data, signature_path):
    """The key among `keys` whose signature com.ini.sig at `signature_path` is over
    `data`, the signature read as the program reads it; None for none."""
    ok, said = run_checker("signature", signature_path)
    if not ok:
        raise Refusal("%s: %s" % (signature_path, said))
    signature = bytes.fromhex(said.decode("ascii").strip())
    der = encode_dss_signature(int.from_bytes(signature[:32], "big"), int.from_bytes(signature[32:], "big"))
    for key in keys:
        try:
            key.verify(der, data, ec.ECDSA(hashes.SHA256()))
            return key
        except InvalidSignature:
            continue
    return None


def keygen(args):
    if os.path.lexists(args.private):
        raise Refusal("%s exists already; a new key goes into a new file" % args.private)
    protection = (serialization.NoEncryption() if args.no_passphrase
                  else serialization.BestAvailableEncryption(key_passphrase(args.private, new=True)))
    key = ec.generate_private_key(ec.SECP256R1())
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8, protection)
    try:
        # Readable by its owner only, and never over an existing key.
        descriptor = os.open(args.private, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o600)
    except FileExistsError:
        raise Refusal("%s exists already; a new key goes into a new file" % args.private)
    except OSError as problem:
        raise Refusal("cannot create %s: %s" % (args.private, problem.strerror or problem))
    with os.fdopen(descriptor, "wb") as out:
        out.write(pem)
    print(public_key_text(key))


def pubkey(args):
    print(public_key_text(load_private_key(args.private)))


def write_file(path, data):
    """Whole or not at all: a reader never sees half a file."""
    directory = os.path.dirname(os.path.abspath(path))
    try:
        descriptor, temporary = tempfile.mkstemp(dir=directory, prefix=".release-sign-")
        with os.fdopen(descriptor, "wb") as out:
            out.write(data)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except OSError as problem:
        raise Refusal("cannot write %s: %s" % (path, problem.strerror or problem))


def publish(key, target, manifest, values):
    """Signs `manifest` and writes it to `target`, and then its signature beside it."""
    signature = sign_bytes(key, manifest).encode("ascii")
    write_file(target, manifest)
    write_file(target + ".sig", signature)
    print("wrote %s and %s, signed with public key %s" % (target, target + ".sig", public_key_text(key)))
    print(values_read(values))


def sign(args):
    data = read_bytes(args.manifest, "manifest")
    values = check_manifest(args.manifest, data)
    key = load_private_key(args.private)
    target = args.manifest + ".sig"
    write_file(target, sign_bytes(key, data).encode("ascii"))
    print("wrote %s (public key %s)" % (target, public_key_text(key)))
    print(values_read(values))


def check_url(url):
    # The program downloads over http or https; the manifest holds one line.
    if not re.fullmatch(r"https?://[^/\s?#]+(/\S*)?", url, re.ASCII) or not url.isascii() or not url.isprintable():
        raise Refusal("--url must be an http:// or https:// URL of printable ASCII without blanks, not %r" % url)


DATE_FORMAT = "%Y-%m-%dT%H:%M:%SZ"
VALID_DAYS = range(1, 367)


def expiry_date(days):
    """`expires` for a release offered `days` days from now."""
    if days not in VALID_DAYS:
        raise Refusal("--valid-days must be %d to %d, not %d: a release is signed again before its date"
                      % (VALID_DAYS[0], VALID_DAYS[-1], days))
    return (datetime.now(timezone.utc) + timedelta(days=days)).strftime(DATE_FORMAT)


def release(args):
    expires = expiry_date(args.valid_days)
    ok, said = run_checker("version", args.version)
    if not ok:
        raise Refusal("version %r: %s" % (args.version, said))
    check_url(args.url)
    ok, said = run_checker("image", args.image)
    if not ok:
        raise Refusal("%s: %s; the program refuses such an image" % (args.image, said))
    digest = hashlib.sha256(read_bytes(args.image, "image")).hexdigest()
    manifest = ("product=%s\nversion=%s\nxzdz=%s\nsha256=%s\nexpires=%s\n"
                % (PRODUCT, args.version, args.url, digest, expires)).encode()

    target = os.path.join(args.out, "com.ini")
    # The program must read back exactly what was meant.
    values = check_manifest(target, manifest)
    meant = {"version": args.version.encode(), "xzdz": args.url.encode(), "sha256": digest.encode(),
             "product": PRODUCT.encode(), "expires": expires.encode()}
    if values != meant:
        raise Refusal("the program would read this com.ini differently from what was meant: %r" % values)
    key = load_private_key(args.private)
    # Written only once everything is checked and signed; the signature last.
    try:
        os.makedirs(args.out, exist_ok=True)
    except OSError as problem:
        raise Refusal("cannot make %s: %s" % (args.out, problem.strerror or problem))
    publish(key, target, manifest, values)


BLANKS = bytes(range(33))  # what the program trims off each line, key and value


def manifest_key(line):
    """The key of a com.ini line as the program cuts it; None for a comment, a
    section header or a line without a separator."""
    text = line.strip(BLANKS)
    if text.startswith((b"#", b";", b"[")):
        return None
    key, separator, _ = text.partition(b"=" if b"=" in text else b":")
    return key.strip(BLANKS).lower() if separator else None


def redated(data, expires):
    """com.ini's bytes with its `expires` line saying `expires`, or such a line
    added at its end; every other byte as it was. The program's reading of the
    result is what counts (renew compares it)."""
    lines = data.split(b"\n")
    found = False
    for number, line in enumerate(lines):
        if manifest_key(line) == b"expires":
            lines[number] = b"expires=" + expires + (b"\r" if line.endswith(b"\r") else b"")
            found = True
    if not found:
        if lines[-1]:
            lines.append(b"")
        lines.insert(len(lines) - 1, b"expires=" + expires)
    return b"\n".join(lines)


def renew(args):
    """The release at args.manifest, as this key signed it, with a new date."""
    expires = expiry_date(args.valid_days)
    key = load_private_key(args.private)
    data = read_bytes(args.manifest, "manifest")
    if signed_by([key.public_key()], data, args.manifest + ".sig") is None:
        raise Refusal("%s.sig does not verify under this key: renew only a release it signed, unchanged"
                      % args.manifest)
    before = check_manifest(args.manifest, data, signed=False)
    renewed = redated(data, expires.encode())
    values = check_manifest(args.manifest, renewed)
    if dict(values, expires=None) != dict(before, expires=None) or values["expires"] != expires.encode():
        raise Refusal("the program would read the renewed %s otherwise than the release: %r" % (args.manifest, values))
    publish(key, args.manifest, renewed, values)


def verify(args):
    keys = parse_public_keys(args.public)
    data = read_bytes(args.manifest, "manifest")
    key = signed_by(keys, data, args.signature)
    if key is None:
        raise Refusal("the signature does not verify: %s changed after signing, or it was signed with another key"
                      % args.manifest)
    values = check_manifest(args.manifest, data)
    print("ok: %s is signed by %s" % (args.manifest, key.public_bytes(
        serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint).hex()))
    print(values_read(values))


# The program's Authenticode signature (sign-exe, verify-exe) is made and read by
# osslsigncode. Debian 12 has version 2.5 and its backports 2.9, which word their
# output differently: only lines that both print are read.

SIGN_PASSWORD_VARIABLE = "NORVA_SIGN_PASSWORD"
# osslsigncode reads a -readpass file with one read into a 4 KiB buffer, drops
# the line ends at its end and takes no empty password from it.
PASSWORD_LIMIT = 4095
TOOL_SECONDS = 300
DIGEST_LINE = re.compile(r"^(Current|Calculated) message digest\s*:\s*([0-9A-Fa-f]+)", re.M)
STAMP_TIME_LINE = re.compile(r"^\s*(?:Timestamp time|The signature is timestamped)\s*:\s*(.+?)\s*$", re.M)
STAMP_CHECK_LINE = re.compile(r"^Timestamp Server Signature verification:\s*(\w+)", re.M)
OPENSSL_ERROR_LINE = re.compile(r"^[0-9A-F]+:error:")


def signing_tool():
    program = shutil.which("osslsigncode")
    if not program:
        raise Refusal("needs osslsigncode (Debian/Ubuntu: apt-get install osslsigncode)")
    return program


def run_tool(command, descriptors=()):
    """Runs a command, without the signing password in its environment; its exit
    status and everything it printed."""
    environment = {name: value for name, value in os.environ.items() if name != SIGN_PASSWORD_VARIABLE}
    try:
        result = subprocess.run(command, env=environment, pass_fds=descriptors, stdin=subprocess.DEVNULL,
                                capture_output=True, text=True, errors="replace", timeout=TOOL_SECONDS)
    except subprocess.TimeoutExpired:
        raise Refusal("%s %s gave no answer in %d s" % (os.path.basename(command[0]), command[1], TOOL_SECONDS))
    except OSError as problem:
        raise Refusal("cannot run %s: %s" % (command[0], problem.strerror or problem))
    return result.returncode, result.stdout + result.stderr


def first_reason(output):
    """The first line of a tool's output that says what went wrong."""
    for line in output.splitlines():
        line = line.strip()
        if line and line not in ("Failed", "Succeeded") and not line.startswith("Connecting to") \
                and not OPENSSL_ERROR_LINE.match(line):
            return line
    return "it gave no reason"


def certificate_table(path, data):
    """The file offset and size of a PE file's certificate table: (0, 0) when it is unsigned."""
    try:
        if data[:2] != b"MZ":
            raise ValueError
        header = struct.unpack_from("<I", data, 0x3C)[0]
        if data[header:header + 4] != b"PE\0\0":
            raise ValueError
        optional = header + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):  # PE32, PE32+
            raise ValueError
        directories = optional + (96 if magic == 0x10B else 112)
        if struct.unpack_from("<I", data, directories - 4)[0] <= 4:  # no certificate entry among them
            raise ValueError
        return struct.unpack_from("<II", data, directories + 4 * 8)
    except (ValueError, struct.error):
        raise Refusal("%s is not a Windows program (no PE header)" % path)


def signing_password(pfx):
    password = os.environ.get(SIGN_PASSWORD_VARIABLE)
    if password is None:
        try:
            password = getpass.getpass("password of %s: " % pfx)
        except EOFError:
            raise Refusal("no password for %s: set %s or run at a terminal" % (pfx, SIGN_PASSWORD_VARIABLE))
    secret = password.encode("utf-8", "surrogateescape")
    if len(secret) > PASSWORD_LIMIT or secret.endswith((b"\n", b"\r")):
        raise Refusal("osslsigncode cannot take a password longer than %d bytes or ending in a line break"
                      % PASSWORD_LIMIT)
    return secret


def run_with_password(command, secret):
    """Runs `osslsigncode COMMAND ...` with the password in a pipe that it reads as
    -readpass /dev/fd/N: never on a command line, in its environment or on disk."""
    if not secret:
        # osslsigncode refuses an empty -readpass; without one it opens the PKCS#12 with no password.
        return run_tool(command)
    reader, writer = os.pipe()
    try:
        os.write(writer, secret)  # less than PIPE_BUF: written whole at once, never blocks
        os.close(writer)
        writer = None
        return run_tool(command[:2] + ["-readpass", "/dev/fd/%d" % reader] + command[2:], (reader,))
    finally:
        os.close(reader)
        if writer is not None:
            os.close(writer)


def signing_failure(args, output):
    if "mac verify failure" in output:
        return "wrong password for %s" % args.pfx
    if "PKCS#12" in output:
        return "cannot open %s as a PKCS#12 file: %s" % (args.pfx, first_reason(output))
    if args.timestamp and re.search(r"time-?stamp", output, re.I):
        return "no time-stamp from %s: %s" % (args.timestamp, first_reason(output))
    return "osslsigncode did not sign %s: %s" % (args.exe, first_reason(output))


def sign_exe(args):
    program = signing_tool()
    if certificate_table(args.exe, read_bytes(args.exe, "program"))[1]:
        raise Refusal("%s is signed already; sign the program as it was built "
                      "(`osslsigncode remove-signature` takes a signature off)" % args.exe)
    read_bytes(args.pfx, "certificate")
    secret = signing_password(args.pfx)
    # osslsigncode writes only a new file: it goes into a folder of its own beside
    # the program, which it replaces once it is whole.
    try:
        folder = tempfile.mkdtemp(prefix=".sign-", dir=os.path.dirname(os.path.abspath(args.exe)))
    except OSError as problem:
        raise Refusal("cannot write beside %s: %s" % (args.exe, problem.strerror or problem))
    try:
        signed = os.path.join(folder, "signed.exe")
        command = [program, "sign", "-pkcs12", args.pfx, "-h", "sha256", "-in", args.exe, "-out", signed]
        if args.timestamp:
            command[6:6] = ["-ts", args.timestamp]
        status, output = run_with_password(command, secret)
        if status != 0 or not os.path.isfile(signed):
            raise Refusal(signing_failure(args, output))
        if not certificate_table(signed, read_bytes(signed, "signed program"))[1]:
            raise Refusal("osslsigncode put no signature into %s" % args.exe)
        shutil.copymode(args.exe, signed)
        os.replace(signed, args.exe)
    except OSError as problem:
        raise Refusal("cannot replace %s: %s" % (args.exe, problem.strerror or problem))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    print("signed %s (SHA-256, %s)" % (args.exe, "time-stamped by " + args.timestamp if args.timestamp
                                        else "no time-stamp"))
    if not args.timestamp:
        print("release-sign: note: without a time-stamp Windows stops trusting the signature when the "
              "certificate expires", file=sys.stderr)


def der_items(data, start, end):
    """(tag, first byte, end) of each DER item in data[start:end]."""
    while start < end:
        tag, length = data[start], data[start + 1]
        start += 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[start:start + count], "big")
            start += count
        if start + length > end:
            raise ValueError("an item runs past its end")
        yield tag, start, start + length
        start += length


def signed_content(path, table):
    """The PKCS#7 signature a certificate table holds, and the content it signs
    as Authenticode signs it: the value of the SpcIndirectDataContent, without
    its own DER header. The table lies outside the file's Authenticode digest,
    so it must hold that one signature and its padding (zero bytes up to the
    next multiple of 8) and nothing else: no second entry, no bytes hidden
    after the signature."""
    try:
        length, _, kind = struct.unpack_from("<IHH", table)
        if kind != 2:  # WIN_CERT_TYPE_PKCS_SIGNED_DATA
            raise ValueError
        blob = table[8:length]
        item = next(der_items(blob, 0, len(blob)))
        signature = blob[:item[2]]
        # ContentInfo.content, the SignedData, its contentInfo, .content, the SpcIndirectDataContent
        for position in (1, 0, 2, 1, 0):
            item = list(der_items(blob, item[1], item[2]))[position]
        content = blob[item[1]:item[2]]
    except (ValueError, IndexError, StopIteration, struct.error):
        raise Refusal("%s has no Authenticode signature that this tool can read" % path)
    signed = 8 + len(signature)
    if len(table) != (signed + 7) // 8 * 8 or not signed <= length <= len(table) or table[signed:].strip(b"\0"):
        raise Refusal("the certificate table of %s holds more than the one signature and its padding (%d bytes, "
                      "the signature %d): bytes there lie outside what the signature covers"
                      % (path, len(table), signed))
    return signature, content


def check_signed_content(path, folder, signature, content):
    openssl = shutil.which("openssl")
    if not openssl:
        raise Refusal("needs openssl (Debian/Ubuntu: apt-get install openssl)")
    names = []
    for name, data in (("signature.der", signature), ("content.der", content)):
        names.append(os.path.join(folder, name))
        with open(names[-1], "wb") as out:
            out.write(data)
    status, _ = run_tool([openssl, "smime", "-verify", "-noverify", "-binary", "-inform", "DER",
                          "-in", names[0], "-content", names[1], "-out", os.devnull])
    if status != 0:
        raise Refusal("the signature of %s does not verify: what it signs was changed" % path)


def signed_digest(path, output):
    """The file's digest, once osslsigncode found it equal to the signed one."""
    current = [digest.upper() for kind, digest in DIGEST_LINE.findall(output) if kind == "Current"]
    calculated = [digest.upper() for kind, digest in DIGEST_LINE.findall(output) if kind == "Calculated"]
    if not current or len(current) != len(calculated):
        raise Refusal("osslsigncode did not check %s: %s" % (path, first_reason(output)))
    if current != calculated:
        raise Refusal("%s changed after it was signed: its digest is not the signed one" % path)
    return calculated[0]


def stamp_time(text):
    try:
        return datetime.strptime(text, "%b %d %H:%M:%S %Y GMT").strftime("%Y-%m-%d %H:%M:%S UTC")
    except ValueError:
        return text


def verify_exe(args):
    program = signing_tool()
    data = read_bytes(args.exe, "program")
    offset, size = certificate_table(args.exe, data)
    if not size:
        raise Refusal("%s is not signed" % args.exe)
    signature, content = signed_content(args.exe, data[offset:offset + size])
    if args.ca and b"-----BEGIN CERTIFICATE-----" not in read_bytes(args.ca, "CA certificate"):
        raise Refusal("%s holds no PEM certificate" % args.ca)
    with tempfile.TemporaryDirectory() as folder:
        # That the signature covers the file takes two facts, and neither needs the
        # signer to be trusted: osslsigncode's "Current message digest" (the one the
        # signed content holds) equals its "Calculated message digest" (the file's),
        # and the signer's key signed that content. osslsigncode prints both digests
        # whatever it makes of the signer, given a CA file it can open (without --ca
        # an empty one, so that the machine's trust store plays no part); but it
        # checks the signature only once the signer's chain is trusted, so openssl
        # checks it here on its own, without the chain (smime -noverify).
        ca = args.ca or os.path.join(folder, "no-ca.pem")
        if not args.ca:
            open(ca, "wb").close()
        status, output = run_tool([program, "verify", "-CAfile", ca, "-TSA-CAfile", ca, "-in", args.exe])
        digest = signed_digest(args.exe, output)
        check_signed_content(args.exe, folder, signature, content)
    if not args.ca:
        # Anyone can make a certificate with any name: without a CA nothing is known of the signer.
        print("the signature covers %s as it is (digest %s); its signer was not checked: give --ca CA.pem"
              % (args.exe, digest))
        return
    signer = re.search(r"Signer's certificate:.*?Subject\s*:\s*([^\n]+)", output, re.S)
    signer = signer.group(1).strip() if signer else "(not named)"
    stamp = STAMP_TIME_LINE.search(output)
    stamp_check = STAMP_CHECK_LINE.search(output)
    # osslsigncode succeeds when the signer is trusted even if the time-stamp's signer is not.
    reason = re.search(r"Verify error:\s*([^\n]+)", output)
    reason = ": " + reason.group(1).strip() if reason else ""
    if status != 0 or not re.search(r"^Signature verification: ok", output, re.M):
        raise Refusal("the signer of %s (%s) does not chain to a certificate in %s%s"
                      % (args.exe, signer, args.ca, reason))
    if (stamp or stamp_check) and not (stamp_check and stamp_check.group(1) == "ok"):
        raise Refusal("the time-stamp of %s does not verify: its signer does not chain to a certificate in %s"
                      % (args.exe, args.ca))
    print("ok: the signature covers %s as it is (digest %s)" % (args.exe, digest))
    print("signer: %s (chains to %s)" % (signer, args.ca))
    if stamp:
        print("time-stamp: %s (its signer chains to %s)" % (stamp_time(stamp.group(1)), args.ca))
    else:
        print("time-stamp: none")


def main(argv=None):
    parser = argparse.ArgumentParser(prog="release-sign.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 1)[1])
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    command = commands.add_parser("keygen", help="write a new private key, print its public key")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.add_argument("--no-passphrase", action="store_true",
                         help="write the key in the clear: only for a throw-away key (a test's, a demo's)")
    command.set_defaults(run=keygen)
    command = commands.add_parser("pubkey", help="print the public key of a private key")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.set_defaults(run=pubkey)
    command = commands.add_parser("release", help="write com.ini and com.ini.sig for a firmware image")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.add_argument("image", metavar="IMAGE.uf2")
    command.add_argument("--version", required=True, help="the firmware version the image reports")
    command.add_argument("--url", required=True, help="where the image is served (http:// or https://)")
    command.add_argument("--out", default=".", metavar="DIR", help="where to write the two files (default: here)")
    command.add_argument("--valid-days", type=int, default=30, metavar="N",
                         help="how many days the program takes the release (1 to 366, default 30)")
    command.set_defaults(run=release)
    command = commands.add_parser("renew", help="give a signed release a new date and sign it again")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.add_argument("manifest", metavar="com.ini")
    command.add_argument("--valid-days", type=int, default=30, metavar="N",
                         help="how many days from now the program takes the release (1 to 366, default 30)")
    command.set_defaults(run=renew)
    command = commands.add_parser("sign", help="write com.ini.sig beside com.ini")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.add_argument("manifest", metavar="com.ini")
    command.set_defaults(run=sign)
    command = commands.add_parser("verify", help="check com.ini and com.ini.sig against public keys")
    command.add_argument("public", metavar="PUBLIC")
    command.add_argument("manifest", metavar="com.ini")
    command.add_argument("signature", metavar="com.ini.sig")
    command.set_defaults(run=verify)
    command = commands.add_parser("sign-exe", help="sign the program (Authenticode) in place")
    command.add_argument("pfx", metavar="CERT.pfx")
    command.add_argument("exe", metavar="norva1-update.exe")
    command.add_argument("--timestamp", metavar="URL", help="the RFC 3161 time-stamp server to ask")
    command.set_defaults(run=sign_exe)
    command = commands.add_parser("verify-exe", help="check the program's signature")
    command.add_argument("exe", metavar="norva1-update.exe")
    command.add_argument("--ca", metavar="CA.pem", help="the certificates the signers must chain to")
    command.set_defaults(run=verify_exe)
    args = parser.parse_args(argv)
    try:
        args.run(args)
    except Refusal as problem:
        print("release-sign: error: %s" % problem, file=sys.stderr)
        return 1
    except KeyboardInterrupt:
        return 130
    return 0


if __name__ == "__main__":
    sys.exit(main())
