#!/usr/bin/env python3
"""Builds RP2040 UF2 firmware images for the simulated device and the update server.

Importable (standard library only):

    from uf2gen import build_image
    build_image(version="1.0.0", size=None, variant="good") -> bytes

      version  the firmware version the image carries. Block 0's payload (for
               0x10000000, where the boot ROM finds boot2) starts with the
               marker  NORVA-FW-VERSION:<version>\\0  (UTF-8) and ends with the
               CRC-32 of its first 252 bytes that the boot ROM checks boot2
               with; the simulated device reports the text after it has
               been flashed.
      size     the size of the UF2 file in bytes, rounded up to whole 512-byte
               blocks (each carries 256 bytes of flash); None means 8 blocks.
               "missing_block" and "repeated_block" get at least 3 blocks.
      variant  one of VARIANTS:
        good            a valid image for the RP2040 main flash
        truncated       the good image without its last 100 bytes (not a multiple of 512)
        wrong_family    every block names another family than the RP2040's
        payload476      every block claims 476 payload bytes (the RP2040 takes only 256)
        missing_block   one block in the middle is left out
        repeated_block  one block in the middle appears twice, in place of the next one
        misaligned      every target address is off by one byte (not 256-aligned)
        not_main_flash  every block carries the "not main flash" flag
        html            an HTML error page instead of an image
        empty           no bytes at all
        combined        an image for two chips: the first half of the blocks a good
                        RP2040 image, the second half blocks of another family
                        (as one file carrying firmware for several boards)
        ram             a program that runs from RAM: every block for SRAM from 0x20000000
        offset256       the good image placed 256 bytes into flash (0x10000100 on)
        bad_boot2       the good image with a wrong CRC in its boot2 page
      Only "good" and "combined" are flashed by the RP2040 boot ROM and boot (it
      passes over the other family's blocks). It runs "ram" once and installs
      nothing; it flashes "offset256" and "bad_boot2" but finds no valid boot2
      after them and stays in its boot loader; the others leave it waiting.

    read_version(image) -> str or None   the version a "good" image carries

Command line:

    uf2gen.py --version 2.0.0 [--size BYTES] [--variant NAME] -o FILE   (- for stdout)
"""

import argparse
import struct
import sys

UF2_MAGIC_START0 = 0x0A324655
UF2_MAGIC_START1 = 0x9E5D5157
UF2_MAGIC_END = 0x0AB16F30
UF2_FLAG_NOT_MAIN_FLASH = 0x00000001
UF2_FLAG_FAMILY_ID = 0x00002000
RP2040_FAMILY_ID = 0xE48BFF56
OTHER_FAMILY_ID = 0x68ED2B88  # a SAMD21 part: a valid family, just not this chip
FLASH_BASE = 0x10000000
SRAM_BASE = 0x20000000
BLOCK_SIZE = 512
PAYLOAD_SIZE = 256
BOOT2_CRC_AT = 252
DATA_AREA = 476
VERSION_MARKER = b"NORVA-FW-VERSION:"

VARIANTS = ("good", "truncated", "wrong_family", "payload476", "missing_block",
            "repeated_block", "misaligned", "not_main_flash", "html", "empty", "combined",
            "ram", "offset256", "bad_boot2")

HTML_PAGE = (b"<!DOCTYPE html>\r\n<html><head><title>404 Not Found</title></head>\r\n"
             b"<body><h1>Not Found</h1><p>The requested firmware was not found on this server.</p>"
             b"</body></html>\r\n")


def boot2_crc(data):
    """The boot ROM's CRC-32 of boot2: polynomial 0x04C11DB7, most significant
    bit first, initial value 0xFFFFFFFF, no final xor."""
    crc = 0xFFFFFFFF
    for byte in data:
        crc ^= byte << 24
        for _ in range(8):
            crc = ((crc << 1) ^ 0x04C11DB7 if crc & 0x80000000 else crc << 1) & 0xFFFFFFFF
    return crc


def _payload(index, version, variant):
    # Filler that differs per block, so that mixed-up blocks are noticed.
    filler = bytes(((index * 31 + i * 7) & 0xFF) for i in range(PAYLOAD_SIZE))
    if index != 0:
        return filler
    head = VERSION_MARKER + version.encode("utf-8") + b"\0"
    if len(head) > BOOT2_CRC_AT:
        raise ValueError("version text too long for the boot2 page")
    boot2 = head + filler[len(head):BOOT2_CRC_AT]
    return boot2 + struct.pack("<I", (boot2_crc(boot2) + (variant == "bad_boot2")) & 0xFFFFFFFF)


def _block(index, count, version, variant):
    flags = UF2_FLAG_FAMILY_ID
    family = RP2040_FAMILY_ID
    address = FLASH_BASE + index * PAYLOAD_SIZE
    payload_size = PAYLOAD_SIZE
    if variant == "wrong_family":
        family = OTHER_FAMILY_ID
    elif variant == "payload476":
        payload_size = DATA_AREA
    elif variant == "misaligned":
        address += 1
    elif variant == "not_main_flash":
        flags |= UF2_FLAG_NOT_MAIN_FLASH
    elif variant == "ram":
        address += SRAM_BASE - FLASH_BASE
    elif variant == "offset256":
        address += PAYLOAD_SIZE
    data = _payload(index, version, variant).ljust(DATA_AREA, b"\0")
    header = struct.pack("<8I", UF2_MAGIC_START0, UF2_MAGIC_START1, flags, address,
                         payload_size, index, count, family)
    return header + data + struct.pack("<I", UF2_MAGIC_END)


def build_image(version="1.0.0", size=None, variant="good"):
    """The bytes of a UF2 file; see the module's description."""
    if variant not in VARIANTS:
        raise ValueError("unknown variant %r (known: %s)" % (variant, ", ".join(VARIANTS)))
    if variant == "empty":
        return b""
    if variant == "html":
        return HTML_PAGE
    count = 8 if size is None else max(1, -(-int(size) // BLOCK_SIZE))
    if variant in ("missing_block", "repeated_block"):
        count = max(count, 3)
    if variant == "combined":
        # Each half numbers its own blocks, as a file joined from two images does.
        own = max(1, count // 2)
        return b"".join([_block(i, own, version, "good") for i in range(own)]
                        + [_block(i, count - own, version, "wrong_family") for i in range(count - own)])
    blocks = [_block(i, count, version, variant) for i in range(count)]
    middle = count // 2
    if variant == "missing_block":
        del blocks[middle]
    elif variant == "repeated_block":
        blocks[middle] = blocks[middle - 1]
    image = b"".join(blocks)
    if variant == "truncated":
        image = image[:-100]
    return image


def read_version(image):
    """The version text in block 0's payload of a UF2 image, or None."""
    if len(image) < BLOCK_SIZE:
        return None
    payload = image[32:32 + PAYLOAD_SIZE]
    at = payload.find(VERSION_MARKER)
    if at < 0:
        return None
    text = payload[at + len(VERSION_MARKER):].split(b"\0", 1)[0]
    return text.decode("utf-8", "replace") or None


def main(argv=None):
    parser = argparse.ArgumentParser(description="Build an RP2040 UF2 image carrying a version text.")
    parser.add_argument("--version", default="1.0.0", help="version carried in block 0 (default 1.0.0)")
    parser.add_argument("--size", type=int, default=None, help="file size in bytes (rounded up to 512)")
    parser.add_argument("--variant", default="good", choices=VARIANTS)
    parser.add_argument("-o", "--output", default="-", help="output file, - for stdout")
    args = parser.parse_args(argv)
    image = build_image(args.version, args.size, args.variant)
    if args.output == "-":
        sys.stdout.buffer.write(image)
    else:
        with open(args.output, "wb") as out:
            out.write(image)
    return 0


if __name__ == "__main__":
    sys.exit(main())
