"""How the simulated boot loader takes UF2 images: the RP2040 boot ROM's rules
applied to the images tools/world/uf2gen.py builds, and files read as they grow."""

import os
import shutil
import struct
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "world"))
import devsim  # noqa: E402
import uf2gen  # noqa: E402


def feed_all(receiver, image):
    for at in range(0, len(image) - len(image) % 512, 512):
        receiver.feed(image[at:at + 512])
    return receiver


def relocate(image, address_of):
    """The image with each block's target address replaced by address_of(number, address)."""
    blocks = bytearray(image)
    for at in range(0, len(blocks), 512):
        address, _, number = struct.unpack_from("<3I", blocks, at + 12)
        struct.pack_into("<I", blocks, at + 12, address_of(number, address))
    return bytes(blocks)


def flash_device(image, old_version="1.0.0"):
    """A receiver that took the image into the flash of a device running old_version."""
    return feed_all(devsim.Uf2Receiver(devsim.flash_holding(old_version)), image)


class BootRomRules(unittest.TestCase):
    def test_what_a_device_does_after_each_generated_image(self):
        # The version it then runs: the image's, or its old one after a program for RAM.
        fates = {"good": ("flashed", "3.2.1"), "combined": ("flashed", "3.2.1"), "ram": ("ram", "1.0.0"),
                 "offset256": ("boot_loader", None), "bad_boot2": ("boot_loader", None)}
        for variant in uf2gen.VARIANTS:
            with self.subTest(variant=variant):
                receiver = flash_device(uf2gen.build_image("3.2.1", 4096, variant))
                outcome, version = fates.get(variant, (None, None))
                self.assertEqual(receiver.outcome(), outcome)
                if version:
                    self.assertEqual(receiver.version(), version)

    def test_the_erases_by_block_number_lose_pages_of_a_run_that_leaves_its_sector(self):
        image = uf2gen.build_image("4.0.0", 48 * 512)
        layouts = {
            "a gap between runs": (lambda n, a: a + 0x4000 * (n >= 16), "flashed", "4.0.0"),
            "a gap inside a run": (lambda n, a: a + 0x800 * (n >= 24), "lost_pages", None),
            "a run starting in another run's sector": (lambda n, a: a - 0x1000 * (n == 32), "lost_pages", None),
            "sector 0 left as it was": (lambda n, a: a + 0x10000, "flashed", "1.0.0"),
        }
        for name, (address_of, outcome, version) in layouts.items():
            with self.subTest(name):
                receiver = flash_device(relocate(image, address_of))
                self.assertEqual((receiver.outcome(), receiver.version() if version else None), (outcome, version))

    def test_blocks_complete_in_any_order_and_a_repeat_does_no_harm(self):
        image = uf2gen.build_image("1.5.0", 5 * 512)
        blocks = [image[i:i + 512] for i in range(0, len(image), 512)]
        receiver = devsim.Uf2Receiver()
        for block in [blocks[3], blocks[0], blocks[3], blocks[4], blocks[1]]:
            self.assertFalse(receiver.feed(block))
        self.assertTrue(receiver.feed(blocks[2]))
        self.assertEqual(receiver.version(), "1.5.0")

    def test_a_block_of_another_count_starts_a_new_transfer(self):
        first = uf2gen.build_image("1.0.0", 6 * 512)
        second = uf2gen.build_image("2.0.0", 3 * 512)
        receiver = feed_all(devsim.Uf2Receiver(), first[:5 * 512])
        receiver.feed(second[:512])
        receiver.feed(second[512:1024])
        self.assertFalse(receiver.complete())
        self.assertTrue(receiver.feed(second[1024:]))
        self.assertEqual(receiver.version(), "2.0.0")

    def test_generator_sizes_and_version_marker(self):
        self.assertEqual(len(uf2gen.build_image("1", 1)), 512)
        self.assertEqual(len(uf2gen.build_image("1", 513)), 1024)
        self.assertEqual(len(uf2gen.build_image("1", 4096, "missing_block")), 3584)
        self.assertEqual(len(uf2gen.build_image("1", 4096, "truncated")) % 512, 412)
        self.assertEqual(uf2gen.read_version(uf2gen.build_image("9.8.7-rc1")), "9.8.7-rc1")
        self.assertEqual(uf2gen.boot2_crc(b"123456789"), 0x0376E6E7)  # the boot ROM's CRC-32 (MPEG-2)
        with self.assertRaises(ValueError):
            uf2gen.build_image("1", 512, "no-such-variant")


class DriveFiles(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.mkdtemp(prefix="devsim-test-")
        with open(os.path.join(self.directory, "INFO_UF2.TXT"), "w") as info:
            info.write(devsim.INFO_UF2)

    def tearDown(self):
        shutil.rmtree(self.directory)

    def test_a_file_is_read_as_it_grows_and_completes_with_its_last_block(self):
        image = uf2gen.build_image("4.0.0", 8 * 512)
        watcher = devsim.DriveWatcher(self.directory)
        path = os.path.join(self.directory, "fw.uf2")
        with open(path, "wb") as out:
            for end in (700, 3000, len(image) - 1):
                out.write(image[out.tell():end])
                out.flush()
                self.assertFalse(watcher.poll(), "complete after %d bytes" % end)
            out.write(image[-1:])
        self.assertTrue(watcher.poll())
        self.assertEqual(watcher.completed_by, "fw.uf2")
        self.assertEqual(watcher.receiver.version(), "4.0.0")

    def test_a_file_replaced_from_the_start_is_read_again(self):
        watcher = devsim.DriveWatcher(self.directory)
        path = os.path.join(self.directory, "fw.uf2")
        with open(path, "wb") as out:
            out.write(uf2gen.build_image("5.0.0", 4 * 512, "truncated"))
        self.assertFalse(watcher.poll())
        with open(path, "wb") as out:
            out.write(uf2gen.build_image("5.0.1", 5 * 512))  # another count: the boot ROM starts over
        self.assertTrue(watcher.poll())
        self.assertEqual(watcher.receiver.version(), "5.0.1")

    def test_the_drives_own_files_are_not_images(self):
        with open(os.path.join(self.directory, "INFO_UF2.TXT"), "wb") as info:
            info.write(uf2gen.build_image("6.0.0", 512))
        self.assertFalse(devsim.DriveWatcher(self.directory).poll())


if __name__ == "__main__":
    unittest.main()
