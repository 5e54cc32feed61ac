#!/usr/bin/env python3
"""Signs firmware releases for the update centre.

    release-sign.py keygen PRIVATE.pem              a new signing key; prints its public key
    release-sign.py pubkey PRIVATE.pem              prints the public key again
    release-sign.py release PRIVATE.pem IMAGE.uf2 --version V --url URL [--out DIR]
                                                    writes com.ini and com.ini.sig for an image
    release-sign.py sign PRIVATE.pem com.ini        writes com.ini.sig beside com.ini
    release-sign.py verify PUBLIC com.ini com.ini.sig
                                                    checks a pair before it is published

A key is an ECDSA P-256 key. Its public half is printed as the program's build
setting NORVA_RELEASE_KEYS takes it: the uncompressed point, 130 hexadecimal
digits starting with 04. PUBLIC is such a key, two of them separated by ';' (as
a program built with the current and the next key trusts them), or a file that
holds that text. Keep PRIVATE.pem offline: whoever has it can sign firmware
every such program takes.

com.ini.sig is the base64 of the signature r||s (two 32-byte big-endian
numbers) over the SHA-256 of com.ini's exact bytes: after signing, com.ini must
not change by a single byte. A signed com.ini must name `version`, `xzdz`, the
image's `sha256` and `product=NORVA1`; `sign` and `verify` refuse one that does
not. `release` writes such a com.ini for an image, after checking the image and
the version as the program will.

What the program takes is decided by the program's own code, built as the
native command norva1-release-check; `release`, `sign` and `verify` run it. It
is looked for in build-release-tools/tools and build-test-native/tools of this
repository, then on PATH (NORVA_RELEASE_CHECK names another); build it with
  cmake -S . -B build-release-tools -DNORVA_BUILD_TESTS=OFF -DNORVA_SANITIZE=OFF
  cmake --build build-release-tools --target norva1-release-check

Needs Python 3 and the `cryptography` package (Debian: python3-cryptography).
"""

import argparse
import base64
import binascii
import getpass
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

try:
    from cryptography.exceptions import InvalidSignature
    from cryptography.hazmat.primitives import hashes, serialization
    from cryptography.hazmat.primitives.asymmetric import ec
    from cryptography.hazmat.primitives.asymmetric.utils import decode_dss_signature, encode_dss_signature
except ImportError:  # pragma: no cover - depends on the machine
    sys.exit("release-sign: error: needs the Python package `cryptography` "
             "(Debian/Ubuntu: apt-get install python3-cryptography)")

KEY_TEXT = re.compile(r"04[0-9A-Fa-f]{128}")
SIGNATURE_BYTES = 64


class Refusal(Exception):
    """A user's mistake: printed as one line, never as a traceback."""


def read_bytes(path, what):
    try:
        with open(path, "rb") as source:
            return source.read()
    except OSError as problem:
        raise Refusal("cannot read %s %s: %s" % (what, path, problem.strerror or problem))


def load_private_key(path):
    data = read_bytes(path, "private key")
    try:
        try:
            key = serialization.load_pem_private_key(data, password=None)
        except TypeError:  # the file is protected with a passphrase
            passphrase = getpass.getpass("passphrase for %s: " % path).encode()
            key = serialization.load_pem_private_key(data, password=passphrase)
    except (ValueError, TypeError) as problem:
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
    repository = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
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


def check_manifest(name, data):
    """The values the program reads from `data` as a signed com.ini, or a refusal."""
    with tempfile.TemporaryDirectory() as scratch:
        copy = os.path.join(scratch, "com.ini")
        with open(copy, "wb") as out:
            out.write(data)
        ok, said = run_checker("manifest", copy, "--signed")
    if not ok:
        raise Refusal("%s: %s; the program refuses such a signed manifest" % (name, said))
    values = {}
    for line in said.split(b"\n"):
        key, _, value = line.partition(b"=")
        if key:
            values[key.decode("ascii")] = value
    return values


def sign_bytes(key, data):
    """The text of com.ini.sig for `data`: base64 of r||s, and a line end."""
    r, s = decode_dss_signature(key.sign(data, ec.ECDSA(hashes.SHA256())))
    signature = r.to_bytes(32, "big") + s.to_bytes(32, "big")
    return base64.b64encode(signature).decode("ascii") + "\n"


def decode_signature(text):
    compact = re.sub(rb"\s+", b"", text)
    try:
        signature = base64.b64decode(compact, validate=True)
    except (binascii.Error, ValueError):
        signature = b""
    if len(signature) != SIGNATURE_BYTES:
        raise Refusal("the signature file is not the base64 of %d bytes" % SIGNATURE_BYTES)
    return encode_dss_signature(int.from_bytes(signature[:32], "big"), int.from_bytes(signature[32:], "big"))


def keygen(args):
    key = ec.generate_private_key(ec.SECP256R1())
    pem = key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                            serialization.NoEncryption())
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


def sign(args):
    data = read_bytes(args.manifest, "manifest")
    check_manifest(args.manifest, data)
    key = load_private_key(args.private)
    target = args.manifest + ".sig"
    write_file(target, sign_bytes(key, data).encode("ascii"))
    print("wrote %s (public key %s)" % (target, public_key_text(key)))


def check_url(url):
    # The program downloads over http or https; the manifest holds one line.
    if not re.fullmatch(r"https?://[^/\s?#]+(/\S*)?", url, re.ASCII) or not url.isascii() or not url.isprintable():
        raise Refusal("--url must be an http:// or https:// URL of printable ASCII without blanks, not %r" % url)


def release(args):
    ok, said = run_checker("version", args.version)
    if not ok:
        raise Refusal("version %r: %s" % (args.version, said))
    check_url(args.url)
    ok, said = run_checker("image", args.image)
    if not ok:
        raise Refusal("%s: %s; the program refuses such an image" % (args.image, said))
    digest = hashlib.sha256(read_bytes(args.image, "image")).hexdigest()
    manifest = ("product=%s\nversion=%s\nxzdz=%s\nsha256=%s\n" % (PRODUCT, args.version, args.url, digest)).encode()

    target = os.path.join(args.out, "com.ini")
    # The program must read back exactly what was meant.
    values = check_manifest(target, manifest)
    meant = {"version": args.version.encode(), "xzdz": args.url.encode(), "sha256": digest.encode(),
             "product": PRODUCT.encode()}
    if values != meant:
        raise Refusal("the program would read this com.ini differently from what was meant: %r" % values)
    key = load_private_key(args.private)
    signature = sign_bytes(key, manifest).encode("ascii")
    # Written only once everything is checked and signed; the signature last.
    try:
        os.makedirs(args.out, exist_ok=True)
    except OSError as problem:
        raise Refusal("cannot make %s: %s" % (args.out, problem.strerror or problem))
    write_file(target, manifest)
    write_file(target + ".sig", signature)
    print("wrote %s and %s: version %s, %s (sha256 %s), public key %s"
          % (target, target + ".sig", args.version, args.url, digest, public_key_text(key)))


def verify(args):
    keys = parse_public_keys(args.public)
    data = read_bytes(args.manifest, "manifest")
    signature = decode_signature(read_bytes(args.signature, "signature"))
    for key in keys:
        try:
            key.verify(signature, data, ec.ECDSA(hashes.SHA256()))
        except InvalidSignature:
            continue
        check_manifest(args.manifest, data)
        print("ok: %s is signed by %s" % (args.manifest, key.public_bytes(
            serialization.Encoding.X962, serialization.PublicFormat.UncompressedPoint).hex()))
        return
    raise Refusal("the signature does not verify: %s changed after signing, or it was signed with another key"
                  % args.manifest)


def main(argv=None):
    parser = argparse.ArgumentParser(prog="release-sign.py", description=__doc__.split("\n\n")[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog=__doc__.split("\n\n", 1)[1])
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    command = commands.add_parser("keygen", help="write a new private key, print its public key")
    command.add_argument("private", metavar="PRIVATE.pem")
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
    command.set_defaults(run=release)
    command = commands.add_parser("sign", help="write com.ini.sig beside com.ini")
    command.add_argument("private", metavar="PRIVATE.pem")
    command.add_argument("manifest", metavar="com.ini")
    command.set_defaults(run=sign)
    command = commands.add_parser("verify", help="check com.ini and com.ini.sig against public keys")
    command.add_argument("public", metavar="PUBLIC")
    command.add_argument("manifest", metavar="com.ini")
    command.add_argument("signature", metavar="com.ini.sig")
    command.set_defaults(run=verify)
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
