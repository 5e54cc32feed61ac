#!/usr/bin/env python3
"""devsim: simulated NORVA1 devices for the Windows program running under Wine.

Each device is a pseudo-terminal that Wine programs open as a COM port, and it
also plays the RP2040 boot loader: on "sys.bootsel()" the port vanishes, a
removable drive labelled RPI-RP2 appears, a UF2 image written onto it is
flashed, and the device comes back under the same COM name with the version
carried by the image. The boot loader is the boot ROM as it is (Uf2Receiver):
it flashes only flash blocks, erasing by block number, into a model of the
device's flash that holds its old firmware. After a program for RAM it comes
back with its old firmware; when the flash's boot2 page (0x10000000) fails its
CRC afterwards, it starts over in its boot loader (a new RPI-RP2 drive, no
port); when pages of the image were lost, its firmware does not start (no
port comes back, mode=hung). After a successful HID switch the device
re-enumerates as on a Windows PC: its port goes away and comes back as a new
port. Standard library only.

    devsim.py --control PORT [--wineplug wineplug.exe]          daemon for the tests
    devsim.py --plug COM5 [--fw 1.2.0 ...] [--control PORT]     demo: one device from the start

WINEPREFIX comes from the environment (the dosdevices folder lives there);
NORVA_WINE names the Wine loader (default /usr/lib/wine/wine64). Every event is
logged with a time stamp on stderr.

Control protocol (127.0.0.1:PORT, any number of clients, one request line at a
time, one reply line "ok ..." or "err <why>"):

    plug [key=value ...]       -> ok COMn    the port is listed and openable on return
    set COMn key=value ...     -> ok         change the device's behaviour or state now
    send COMn HEX              -> ok         the device writes these bytes now
    received COMn              -> ok HEX     every byte the device received so far
    clear COMn                 -> ok         forget the received bytes
    state COMn                 -> ok k=v ... name fw app hid_cfg hid_live hid_pending
                                             mode (app|bootloader|reenum|hung|off) drive (letter or -)
                                             drive_refusing (1 while that drive refuses new files)
                                             flashed (completed transfers) last_uf2 (name or -,
                                             blanks and % as %20/%25) pts (or -)
    unplug COMn / replug COMn  -> ok         the port vanishes / comes back (the boot loader
                                             and its drive are abandoned)
    bootsel COMn               -> ok         the device is plugged in again with BOOTSEL held:
                                             no port, its RPI-RP2 drive mounted on return
    remove COMn                -> ok         unplug and forget the device (frees its number)
    drive add [label=TEXT] [readonly=1]
                               -> ok R       a removable drive (label RPI-RP2 by default)
                                             that belongs to no device, mounted now
    drive remove R             -> ok
    uf2 [version=V] [size=N] [variant=NAME]
                               -> ok HEX     an image from uf2gen.build_image
    list                       -> ok COMn ...
    ping                       -> ok

Device options (plug and set; demo-mode flags as --name VALUE):

    com=N                 plug only: the COM number (default: a free one from 10 up)
    fw=TEXT               firmware version (default 1.0.0; may be empty)
    app=0|1               macro mode
    hid_cfg=0|1           HID control interface configured; live follows, pending 0
    legacy=1              older firmware: "hid.control(n)" is an unknown command
    hid_ok=0              HID control replies carry ok=0 and change nothing
    tel_hid=0             telemetry records leave out the hid_ctrl_* fields
    reenum_ms=N           from a successful HID switch's reply to the re-enumeration
                          (default 300): hid_pending becomes 0, hid_live takes hid_cfg, and
                          the port goes away as on an unplug (open handles fail, the name is
                          no longer listed; state says mode=reenum). Whatever was half received
                          or not yet read dies with the port. A second switch starts the
                          wait again; unplug, bootsel, remove or "sys.bootsel()" call a
                          pending re-enumeration off (the switch is live from then on), and
                          replug brings a port that went away back at once
    reenum_port=same|new|keep  the port comes back under the same COM name (default), under a
                          new COM number (its old name still reaches it here; state says
                          name=), or never goes away: only the HID state flips
    reenum_back_ms=N      from the port going away to a new port under that name (default
                          1000; list_before_open_ms applies here too)
    reenum_return=auto|never  never: a port that went away stays away until replug
    reenum_mute_ms=N      once the port is back after a re-enumeration, the firmware ignores
                          every command for N ms (default 0), as a device whose new interfaces
                          are still being set up
    mute=1                the device receives but never answers nor acts
    reply_delay_ms=N      every answer N ms after its command
    eol=lf|crlf           line end of answers (default crlf)
    keys=lower|upper|colon  telemetry keys as fw=, FW= or fw:
    split_ms=N            each answer line written in two writes N ms apart
    chatter_ms=N          an unsolicited telemetry record every N ms (0: none)
    garbage=1             a garbage line (control bytes, binary junk) before each answer
    burst=N               N bytes without any line feed before each answer
    burst_eol=1           ... followed by a line end, so the answer stands on a line of its own
    drive=auto|never      the boot loader's drive appears, or never does
    drive_delay_ms=N      from "sys.bootsel()" to the drive (default 1500)
    drive_readonly=1      the boot loader's drive refuses writes
    drive_refuse_ms=N     each new RPI-RP2 drive of the device refuses new files for its
                          first N ms after it is mounted, then takes them (default 0)
    return=auto|never     the device comes back after flashing, or never does
    return_delay_ms=N     from the drive going away to the port coming back (default 500)
    keep_version=1        the flashed image's version is not taken over
    boot_mute_ms=N        once the port is back after flashing, the new firmware ignores every
                          command for N ms (default 0), as firmware whose USB stack brings the
                          port up before its command loop runs
    list_before_open_ms=N on coming back the port is listed N ms before it can be opened
    start=app|bootloader  plug only: the device starts in its boot loader (no port; its
                          drive is mounted when plug returns; the port it gets after
                          flashing is the COMn plug answers)
    return_com=same|new   after flashing the device comes back under a new COM number
                          (its old name still reaches it here; state says name=)

Device commands (lines ended by LF, a CR before it is ignored):
    telemetry.once, box.info, app.mode(0|1), hid.control(0|1), sys.bootsel();
    anything else is answered "ERR unknown command: <command>".
"""

import argparse
import asyncio
import errno
import fcntl
import os
import shutil
import signal
import struct
import sys
import tempfile
import termios
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import uf2gen  # noqa: E402  (lives beside this script)

FIRST_COM = 10
LAST_COM = 255
OUTPUT_CAP = 4 << 20          # bytes queued for a port nobody reads before the oldest are dropped
DRIVE_POLL_S = 0.05
DRIVE_LINGER_S = 1.0          # a complete transfer to the drive going away
WINEPLUG_TIMEOUT_S = 30.0
WINEPLUG_ATTEMPTS = 3
WINEPLUG_RETRY_S = 0.2
OWN_DRIVE_FILES = {"INFO_UF2.TXT", "INDEX.HTM", ".windows-label"}
INFO_UF2 = "UF2 Bootloader v3.0\r\nModel: Raspberry Pi RP2\r\nBoard-ID: RPI-RP2\r\n"
FS_IOC_GETFLAGS = 0x80086601
FS_IOC_SETFLAGS = 0x40086602
FS_IMMUTABLE_FL = 0x00000010


LOG_STREAM = sys.stderr


def log(message):
    now = time.time()
    stamp = time.strftime("%H:%M:%S", time.localtime(now)) + ".%03d" % int((now % 1) * 1000)
    LOG_STREAM.write("%s devsim: %s\n" % (stamp, message))
    LOG_STREAM.flush()


def shorten(data, limit=120):
    text = data if isinstance(data, str) else repr(bytes(data))[2:-1]
    return text if len(text) <= limit else text[:limit] + "...(%d)" % len(text)


# ---------------------------------------------------------------------------
# Options


def _flag(value):
    if value not in ("0", "1"):
        raise ValueError("expected 0 or 1")
    return value == "1"


def _ms(value):
    number = int(value)
    if number < 0 or number > 3600000:
        raise ValueError("expected milliseconds from 0 to 3600000")
    return number


def _count(value):
    number = int(value)
    if number < 0 or number > 1 << 20:
        raise ValueError("expected a byte count from 0 to 1 MiB")
    return number


def _choice(*names):
    def parse(value):
        if value not in names:
            raise ValueError("expected one of " + "|".join(names))
        return value
    return parse


def _version(value):
    # Empty is allowed: the device then reports "fw=" with nothing after it.
    if any(ord(c) <= 0x20 or c in ";" for c in value):
        raise ValueError("expected a version text without blanks or ';'")
    return value


def _com(value):
    number = int(value)
    if number < 1 or number > LAST_COM:
        raise ValueError("expected a COM number from 1 to %d" % LAST_COM)
    return number


# name -> (parser, default). fw, app and hid_cfg set the device's state; the rest is behaviour.
OPTIONS = {
    "com": (_com, None),
    "fw": (_version, "1.0.0"),
    "app": (_flag, False),
    "hid_cfg": (_flag, False),
    "legacy": (_flag, False),
    "hid_ok": (_flag, True),
    "tel_hid": (_flag, True),
    "reenum_ms": (_ms, 300),
    "reenum_port": (_choice("same", "new", "keep"), "same"),
    "reenum_back_ms": (_ms, 1000),
    "reenum_return": (_choice("auto", "never"), "auto"),
    "reenum_mute_ms": (_ms, 0),
    "mute": (_flag, False),
    "reply_delay_ms": (_ms, 0),
    "eol": (_choice("lf", "crlf"), "crlf"),
    "keys": (_choice("lower", "upper", "colon"), "lower"),
    "split_ms": (_ms, 0),
    "chatter_ms": (_ms, 0),
    "garbage": (_flag, False),
    "burst": (_count, 0),
    "burst_eol": (_flag, False),
    "drive": (_choice("auto", "never"), "auto"),
    "drive_delay_ms": (_ms, 1500),
    "drive_readonly": (_flag, False),
    "drive_refuse_ms": (_ms, 0),
    "return": (_choice("auto", "never"), "auto"),
    "return_delay_ms": (_ms, 500),
    "keep_version": (_flag, False),
    "boot_mute_ms": (_ms, 0),
    "list_before_open_ms": (_ms, 0),
    "start": (_choice("app", "bootloader"), "app"),
    "return_com": (_choice("same", "new"), "same"),
}
STATE_OPTIONS = ("fw", "app", "hid_cfg")


def parse_options(words, allow_com):
    """key=value words -> dict of parsed values; ValueError with the reason."""
    result = {}
    for word in words:
        key, sep, value = word.partition("=")
        if not sep:
            raise ValueError("not key=value: " + word)
        if key not in OPTIONS or (key == "com" and not allow_com):
            raise ValueError("unknown option: " + key)
        try:
            result[key] = OPTIONS[key][0](value)
        except ValueError as error:
            raise ValueError("%s=%s: %s" % (key, value, error)) from None
    return result


def encode_field(text):
    return text.replace("%", "%25").replace(" ", "%20") if text else "-"


# ---------------------------------------------------------------------------
# The RP2040 boot ROM's view of what is written to its drive


RAM_WINDOWS = ((0x20000000, 0x20042000), (0x15000000, 0x15004000))   # SRAM, XIP cache as SRAM
FLASH_WINDOW = (uf2gen.FLASH_BASE, 0x20000000)  # what the boot ROM takes for flash
SECTOR_SIZE = 4096
BLOCKS_PER_RUN = SECTOR_SIZE // uf2gen.PAYLOAD_SIZE
ERASED_PAGE = b"\xff" * uf2gen.PAYLOAD_SIZE
OLD_FIRMWARE_SIZE = 64 * 1024   # the UF2 file of the firmware a device holds before it is flashed


def _inside(windows, address):
    last = address + uf2gen.PAYLOAD_SIZE - 1
    return any(start <= address and last < end for start, end in windows)


def flash_holding(version):
    """The flash of a device running firmware `version`: page address -> 256 bytes."""
    receiver = Uf2Receiver({})
    image = uf2gen.build_image(version, OLD_FIRMWARE_SIZE)
    for at in range(0, len(image), uf2gen.BLOCK_SIZE):
        receiver.feed(image[at:at + uf2gen.BLOCK_SIZE])
    return receiver.flash


class Uf2Receiver:
    """Takes UF2 blocks the way the RP2040 boot ROM does, into the device's flash.

    The boot ROM passes over a block without the magic numbers, not for the main
    flash, of another family than the RP2040 or without 256 payload bytes. It
    takes a block as garbage, which ends the transfer in progress, when its 256
    bytes lie neither in flash nor in RAM, its count is 0, its flash address is
    not 256-aligned, its number is not below its count, or it is for RAM in a
    flash transfer or the other way round. A block with another count than the
    transfer's starts a new transfer, for flash or RAM as its address says. A
    number already taken is passed over. A flash transfer erases, for the first
    block it takes of each run of 16 block numbers (16k..16k+15), the 4 KiB
    sector of that block's address, and never for the others; writing a page
    only clears bits (the page then holds what it held AND the block), so a page
    written where no erase came first, or erased again afterwards, loses its
    block. The transfer is complete when blocks 0..count-1 have all arrived.

    `flash` maps page addresses to 256 bytes, and is changed in place: a page
    not in it is erased.
    """

    def __init__(self, flash=None):
        self.flash = {} if flash is None else flash
        self.count = None       # the transfer's block count; None: no transfer
        self.ram = False
        self.taken = {}         # block number -> (address, payload)
        self.erased_runs = set()

    def feed(self, block):
        """One 512-byte block; True when it completes the transfer."""
        if self.complete() or len(block) != uf2gen.BLOCK_SIZE:
            return False
        magic0, magic1, flags, address, size, number, count, family = struct.unpack_from("<8I", block)
        (magic_end,) = struct.unpack_from("<I", block, 508)
        if not (magic0 == uf2gen.UF2_MAGIC_START0 and magic1 == uf2gen.UF2_MAGIC_START1
                and magic_end == uf2gen.UF2_MAGIC_END and flags & uf2gen.UF2_FLAG_FAMILY_ID
                and family == uf2gen.RP2040_FAMILY_ID and not flags & uf2gen.UF2_FLAG_NOT_MAIN_FLASH
                and size == uf2gen.PAYLOAD_SIZE):
            return False
        ram = _inside(RAM_WINDOWS, address)
        flash = _inside((FLASH_WINDOW,), address)
        if count == 0 or not (ram or flash) or (flash and address % uf2gen.PAYLOAD_SIZE):
            self.count = None
            return False
        if count != self.count:
            self.count, self.ram, self.taken, self.erased_runs = count, ram, {}, set()
        if ram != self.ram or number >= count:
            self.count = None
            return False
        if number in self.taken:
            return False
        payload = bytes(block[32:32 + uf2gen.PAYLOAD_SIZE])
        self.taken[number] = (address, payload)
        if not ram:
            if number // BLOCKS_PER_RUN not in self.erased_runs:
                self.erased_runs.add(number // BLOCKS_PER_RUN)
                sector = address - address % SECTOR_SIZE
                for page in range(sector, sector + SECTOR_SIZE, uf2gen.PAYLOAD_SIZE):
                    self.flash.pop(page, None)
            held = self.flash.get(address, ERASED_PAGE)
            self.flash[address] = bytes(a & b for a, b in zip(held, payload))
        return self.complete()

    def complete(self):
        return self.count is not None and len(self.taken) == self.count

    def outcome(self):
        """What the device does after the completed transfer (None before):
        "ram"          the boot ROM ran the program once; the device boots its old firmware
        "boot_loader"  boot2 in flash fails its CRC: the device stays in its boot loader
        "lost_pages"   boot2 runs, but pages of the image are not in flash: the firmware
                       does not start
        "flashed"      the new firmware runs
        """
        if not self.complete():
            return None
        if self.ram:
            return "ram"
        boot2 = self.flash.get(uf2gen.FLASH_BASE, ERASED_PAGE)
        if uf2gen.boot2_crc(boot2[:uf2gen.BOOT2_CRC_AT]) != struct.unpack_from("<I", boot2, uf2gen.BOOT2_CRC_AT)[0]:
            return "boot_loader"
        if any(self.flash.get(address, ERASED_PAGE) != payload for address, payload in self.taken.values()):
            return "lost_pages"
        return "flashed"

    def version(self):
        """The version text the firmware in flash carries, or None."""
        payload = self.flash.get(uf2gen.FLASH_BASE, ERASED_PAGE)
        at = payload.find(uf2gen.VERSION_MARKER)
        if at < 0:
            return None
        text = payload[at + len(uf2gen.VERSION_MARKER):].split(b"\0", 1)[0]
        return text.decode("utf-8", "replace").strip() or None


class DriveWatcher:
    """Reads the files written at a drive's root as they grow, block by block.

    A file rewritten from the start (the copy replaces an older file of the same
    name) is read again from its first block, as the boot ROM would see its
    sectors written again.
    """

    def __init__(self, directory, flash=None):
        self.directory = directory
        self.receiver = Uf2Receiver(flash)
        self.files = {}        # name -> the bytes already fed (whole blocks)
        self.completed_by = None

    def poll(self):
        """True once a whole transfer has arrived."""
        if self.receiver.complete():
            return True
        try:
            names = sorted(os.listdir(self.directory))
        except OSError:
            return False
        for name in names:
            path = os.path.join(self.directory, name)
            if name in OWN_DRIVE_FILES or not os.path.isfile(path):
                continue
            try:
                with open(path, "rb") as source:
                    data = source.read()
            except OSError:
                continue
            fed = self.files.get(name, b"")
            if data[:len(fed)] != fed:
                fed = b""
            whole = len(data) // uf2gen.BLOCK_SIZE * uf2gen.BLOCK_SIZE
            self.files[name] = data[:whole]
            for at in range(len(fed), whole, uf2gen.BLOCK_SIZE):
                if self.receiver.feed(data[at:at + uf2gen.BLOCK_SIZE]):
                    self.completed_by = name
                    return True
        return False


# ---------------------------------------------------------------------------
# Devices and drives


class Port:
    def __init__(self, master, slave, pts):
        self.master = master
        self.slave = slave
        self.pts = pts
        self.pending = bytearray()
        self.writing = False
        self.closed = False


class Drive:
    def __init__(self, letter, directory, owner, label, readonly):
        self.letter = letter        # lower case
        self.directory = directory
        self.owner = owner          # "COMn" or None
        self.label = label
        self.readonly = readonly
        self.mount_task = None
        self.mounted = False
        self.refusing = False       # immutable for a while after mounting
        self.refuse_handle = None


class Device:
    def __init__(self, number, options):
        self.number = number
        self.name = "COM%d" % number
        self.opt = {key: default for key, (_, default) in OPTIONS.items() if key not in STATE_OPTIONS}
        self.fw = "1.0.0"
        self.app = 0
        self.hid_cfg = 0
        self.hid_live = 0
        self.hid_pending = 0
        self.mode = "off"
        self.port = None
        self.defined = False        # the DOS device name exists
        self.linked = False         # the dosdevices symlink exists
        self.received = bytearray()
        self.line = bytearray()
        self.drive = None
        self.flashed = 0
        self.last_uf2 = ""
        self.lock = asyncio.Lock()
        self.boot_task = None
        self.chatter_task = None
        self.reenum_task = None
        self.out_time = 0.0         # when the last queued output goes out (keeps answers in order)
        self.deaf_until = 0.0       # loop time until which commands are ignored (after a re-enumeration or a flash)
        self.born = time.monotonic()
        self.apply(options)

    def apply(self, options):
        for key, value in options.items():
            if key == "fw":
                self.fw = value
            elif key == "app":
                self.app = int(value)
            elif key == "hid_cfg":
                self.hid_cfg = self.hid_live = int(value)
                self.hid_pending = 0
            elif key not in ("com", "start"):
                self.opt[key] = value

    def describe(self):
        return ("name=%s fw=%s app=%d hid_cfg=%d hid_live=%d hid_pending=%d mode=%s drive=%s drive_refusing=%d "
                "flashed=%d last_uf2=%s pts=%s" % (
                    self.name, self.fw, self.app, self.hid_cfg, self.hid_live, self.hid_pending, self.mode,
                    self.drive.letter.upper() if self.drive else "-",
                    bool(self.drive and (self.drive.refusing or self.drive.readonly)), self.flashed,
                    encode_field(self.last_uf2), self.port.pts if self.port else "-"))


class Simulator:
    def __init__(self, wineplug, state_dir):
        self.wineplug_path = wineplug
        self.wine = os.environ.get("NORVA_WINE", "/usr/lib/wine/wine64")
        self.prefix = os.environ.get("WINEPREFIX", "")
        self.dosdevices = os.path.join(self.prefix, "dosdevices") if self.prefix else None
        self.state_dir = state_dir
        self.devices = {}           # number -> Device
        self.aliases = {}           # number a device had before it came back under another -> Device
        self.drives = {}            # letter -> Drive
        self.next_com = FIRST_COM
        self.drive_serial = 0
        self.loop = asyncio.get_running_loop()

    # -- helpers ----------------------------------------------------------

    async def wineplug(self, *args):
        """Runs the Windows helper; raises RuntimeError with its message on failure.

        Shielded: a cancelled caller still waits for the helper to finish, so
        that whatever it did is known and can be undone.
        """
        task = asyncio.ensure_future(self._run_wineplug(args))
        try:
            await asyncio.shield(task)
        except asyncio.CancelledError:
            try:
                await task
            except Exception:
                pass
            raise

    async def _run_wineplug(self, args):
        if not self.wineplug_path:
            raise RuntimeError("no --wineplug helper given")
        # Every request of the helper can be made again. Under load the Wine
        # loader now and then gives up before the helper even starts (exit 1
        # within milliseconds, a "wine:" line as its only output); such a
        # start is tried again, and logged, instead of failing the device.
        for attempt in range(1, WINEPLUG_ATTEMPTS + 1):
            code, message, took = await self._run_wineplug_once(args)
            if code == 0:
                log("wineplug %s (%.0f ms)" % (" ".join(args), took))
                return
            log("wineplug %s failed (%d, %.0f ms, attempt %d of %d): %s"
                % (" ".join(args), code, took, attempt, WINEPLUG_ATTEMPTS, message or "no output"))
            if attempt < WINEPLUG_ATTEMPTS:
                await asyncio.sleep(WINEPLUG_RETRY_S * attempt)
        raise RuntimeError("wineplug %s failed: %s" % (" ".join(args), message or "exit %d" % code))

    async def _run_wineplug_once(self, args):
        started = time.monotonic()
        # Wine's background services inherit the helper's stdio: a file, not a
        # pipe, so that nothing waits for an end of file they would hold back.
        with tempfile.TemporaryFile() as errors:
            process = await asyncio.create_subprocess_exec(
                self.wine, self.wineplug_path, *args,
                stdin=asyncio.subprocess.DEVNULL, stdout=asyncio.subprocess.DEVNULL, stderr=errors,
                start_new_session=True)
            try:
                code = await asyncio.wait_for(process.wait(), WINEPLUG_TIMEOUT_S)
            except asyncio.TimeoutError:
                process.kill()
                await process.wait()
                raise RuntimeError("wineplug %s timed out" % " ".join(args)) from None
            errors.seek(0)
            message = errors.read().decode("utf-8", "replace")
        # On success the loader's own "wine:" notes are noise; on a failure they may be the reason.
        lines = [line.strip() for line in message.splitlines() if line.strip()]
        if code == 0:
            lines = [line for line in lines if not line.startswith("wine:")]
        return code, " ".join(lines), (time.monotonic() - started) * 1000

    def link_path(self, device):
        return os.path.join(self.dosdevices, device.name.lower()) if self.dosdevices else None

    def allocate_number(self):
        span = LAST_COM - FIRST_COM + 1
        for step in range(span):
            number = FIRST_COM + (self.next_com - FIRST_COM + step) % span
            link = os.path.join(self.dosdevices, "com%d" % number) if self.dosdevices else None
            if number in self.devices or (link and os.path.lexists(link)):
                continue
            self.next_com = number + 1
            return number
        raise RuntimeError("no free COM number")

    async def clean_stale(self):
        """Ports and drives an earlier, killed simulator left behind in this prefix."""
        if not self.dosdevices or not os.path.isdir(self.dosdevices):
            return
        for name in sorted(os.listdir(self.dosdevices)):
            path = os.path.join(self.dosdevices, name)
            if not os.path.islink(path):
                continue
            target = os.readlink(path)
            if (name.startswith("com") and name[3:].isdigit() and int(name[3:]) >= FIRST_COM
                    and target.startswith("/dev/pts/")):
                os.unlink(path)
                await asyncio.gather(self.wineplug("remove", name.upper()), return_exceptions=True)
                log("removed stale port %s" % name.upper())
            elif len(name) == 2 and name[1] == ":" and os.path.basename(target).startswith("drive-") \
                    and os.path.basename(os.path.dirname(target)).startswith("devsim"):
                await asyncio.gather(self.wineplug("unmount", name[0]), return_exceptions=True)
                if os.path.lexists(path):
                    os.unlink(path)
                log("removed stale drive %s" % name.upper())

    def find(self, name):
        name = name.upper()
        if name.startswith("COM") and name[3:].isdigit():
            number = int(name[3:])
            if number in self.devices:
                return self.devices[number]
            if number in self.aliases:
                return self.aliases[number]
        raise ValueError("no such device: " + name)

    def renumber(self, device):
        """The device comes back under a new COM number, as Windows gives one
        to a device on another USB port; its old name still finds it here."""
        old = device.number
        number = self.allocate_number()
        del self.devices[old]
        self.aliases[old] = device
        device.number = number
        device.name = "COM%d" % number
        self.devices[number] = device
        log("COM%d: comes back as %s" % (old, device.name))

    # -- the port ---------------------------------------------------------

    def open_pty(self, device):
        master, slave = os.openpty()
        # Raw both ways: bytes pass unchanged, no echo, no CR/LF translation,
        # no signals or flow control characters.
        attrs = termios.tcgetattr(slave)
        attrs[0] &= ~(termios.IGNBRK | termios.BRKINT | termios.PARMRK | termios.ISTRIP | termios.INLCR
                      | termios.IGNCR | termios.ICRNL | termios.IXON | termios.IXOFF | termios.IXANY)
        attrs[1] &= ~termios.OPOST
        attrs[2] &= ~(termios.CSIZE | termios.PARENB)
        attrs[2] |= termios.CS8 | termios.CLOCAL | termios.CREAD
        attrs[3] &= ~(termios.ECHO | termios.ECHONL | termios.ICANON | termios.ISIG | termios.IEXTEN)
        attrs[4] = attrs[5] = termios.B115200
        attrs[6][termios.VMIN] = 1
        attrs[6][termios.VTIME] = 0
        termios.tcsetattr(slave, termios.TCSANOW, attrs)
        os.set_blocking(master, False)
        # Our own descriptor on the device end stays open for the port's life, so
        # the master never sees a hang-up when the Windows side closes and reopens.
        port = Port(master, slave, os.ttyname(slave))
        device.port = port
        return port

    def close_port(self, device):
        """The port vanishes now: link gone, both ends closed (open handles fail)."""
        link = self.link_path(device)
        if device.linked and link:
            try:
                os.unlink(link)
            except FileNotFoundError:
                pass
            device.linked = False
        port = device.port
        if port:
            port.closed = True
            self.loop.remove_reader(port.master)
            if port.writing:
                self.loop.remove_writer(port.master)
            os.close(port.master)
            os.close(port.slave)
            device.port = None
            device.out_time = 0.0
            device.deaf_until = 0.0
            device.line = bytearray()   # a half-received command dies with the port
            log("%s: port closed (%s)" % (device.name, port.pts))

    async def attach_port(self, device, list_before_open_ms=0):
        port = self.open_pty(device)
        target = "Z:" + port.pts.replace("/", "\\")
        link = self.link_path(device)
        if not link:
            raise RuntimeError("WINEPREFIX is not set")

        def make_link():
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(port.pts, link)
            device.linked = True

        if list_before_open_ms:
            await self.define_name(device, target)
            log("%s: listed, openable in %d ms" % (device.name, list_before_open_ms))
            await asyncio.sleep(list_before_open_ms / 1000)
            make_link()
        else:
            make_link()
            await self.define_name(device, target)
        device.mode = "app"
        # The firmware reads its commands once the port is up: bytes written
        # while it is coming up wait in the port, and no command can start
        # anything while the port is half made.
        self.loop.add_reader(port.master, self.on_readable, device, port)
        log("%s: port up on %s (fw=%s)" % (device.name, port.pts, device.fw))

    async def define_name(self, device, target):
        # Counted as defined from the start: a cancelled caller still waits for
        # the helper to finish (see wineplug), and the name is then removed with the port.
        device.defined = True
        try:
            await self.wineplug("define", device.name, target)
        except Exception:
            device.defined = False
            raise

    async def detach_port(self, device):
        self.close_port(device)
        if device.defined:
            device.defined = False
            await self.wineplug("remove", device.name)

    # -- bytes in and out -------------------------------------------------

    def on_readable(self, device, port):
        try:
            data = os.read(port.master, 65536)
        except BlockingIOError:
            return
        except OSError as error:
            if error.errno == errno.EIO:
                return
            raise
        if not data:
            return
        device.received += data
        log("%s: rx %s" % (device.name, shorten(data)))
        device.line += data
        while b"\n" in device.line:
            raw, _, rest = bytes(device.line).partition(b"\n")
            device.line = bytearray(rest)
            self.on_command(device, raw.rstrip(b"\r").strip())

    def queue_output(self, device, data, delay_s=0.0, gap_s=0.0):
        """Writes data after the delay (or gap_s after the output queued last),
        never before anything queued earlier."""
        port = device.port
        if port is None:
            return
        now = self.loop.time()
        when = max(now + delay_s, device.out_time + gap_s)
        device.out_time = when
        if when <= now:
            self.write_now(device, port, data)
        else:
            self.loop.call_at(when, self.write_now, device, port, data)

    def write_now(self, device, port, data):
        if port.closed:
            return
        port.pending += data
        if len(port.pending) > OUTPUT_CAP:
            dropped = len(port.pending) - OUTPUT_CAP
            del port.pending[:dropped]
            log("%s: nobody reads the port, %d bytes dropped" % (device.name, dropped))
        log("%s: tx %s" % (device.name, shorten(data)))
        self.flush(device, port)

    def flush(self, device, port):
        if port.closed:
            return
        try:
            while port.pending:
                written = os.write(port.master, port.pending)
                del port.pending[:written]
        except BlockingIOError:
            pass
        except OSError as error:
            log("%s: write failed: %s" % (device.name, error))
            port.pending.clear()
        wanted = bool(port.pending)
        if wanted and not port.writing:
            self.loop.add_writer(port.master, self.flush, device, port)
        elif not wanted and port.writing:
            self.loop.remove_writer(port.master)
        port.writing = wanted

    def eol(self, device):
        return b"\n" if device.opt["eol"] == "lf" else b"\r\n"

    def answer(self, device, lines):
        """Sends the answer lines with the device's faults applied."""
        eol = self.eol(device)
        delay = device.opt["reply_delay_ms"] / 1000
        if device.opt["garbage"]:
            self.queue_output(device, b"\x00\x07\x1b[0m\xfe\xff\x01junk\x80\x9f\x7f\x02" + eol, delay)
        if device.opt["burst"]:
            pattern = bytes(b for b in range(256) if b != 0x0A)
            count = device.opt["burst"]
            burst = (pattern * (count // len(pattern) + 1))[:count]
            self.queue_output(device, burst + (eol if device.opt["burst_eol"] else b""), delay)
        split = device.opt["split_ms"] / 1000
        for line in lines:
            data = (line if isinstance(line, bytes) else line.encode("utf-8")) + eol
            if split:
                half = max(1, len(data) // 2)
                self.queue_output(device, data[:half], delay)
                self.queue_output(device, data[half:], delay, gap_s=split)
            else:
                self.queue_output(device, data, delay)

    def telemetry(self, device):
        keys = device.opt["keys"]
        fields = [("fw", device.fw), ("app", device.app)]
        if device.opt["tel_hid"]:
            fields += [("hid_ctrl_cfg", device.hid_cfg), ("hid_ctrl_live", device.hid_live),
                       ("hid_ctrl_pending", device.hid_pending)]
        sep = ":" if keys == "colon" else "="
        return "TEL|" + ";".join("%s%s%s" % (k.upper() if keys == "upper" else k, sep, v) for k, v in fields)

    # -- the firmware -----------------------------------------------------

    def on_command(self, device, raw):
        """One command line as the device received it (bytes, line end removed)."""
        if not raw:
            return
        command = raw.decode("latin-1")
        log("%s: command %r" % (device.name, command))
        if device.opt["mute"]:
            return
        if self.loop.time() < device.deaf_until:
            log("%s: not answering yet (interfaces or firmware still starting), command ignored" % device.name)
            return
        if command == "telemetry.once":
            self.answer(device, [self.telemetry(device)])
        elif command == "box.info":
            uptime = int(time.monotonic() - device.born)
            self.answer(device, ["NORVA1 RP2040 box", "serial: E6605838%08X" % device.number,
                                 "uptime: %d s" % uptime])
        elif command in ("app.mode(0)", "app.mode(1)"):
            device.app = int(command[9])
            self.answer(device, ["OK"])
        elif command in ("hid.control(0)", "hid.control(1)"):
            self.hid_control(device, command, int(command[12]))
        elif command == "sys.bootsel()":
            self.start_boot(device)
        else:
            # The firmware echoes the command's bytes as they came.
            self.answer(device, [b"ERR unknown command: " + raw])

    def hid_control(self, device, command, enabled):
        if device.opt["legacy"]:
            self.answer(device, ["ERR unknown command: " + command])
            return
        if not device.opt["hid_ok"]:
            self.answer(device, ["HID|op=control;ok=0;enabled=%d;live=%d;pending_reboot=%d"
                                 % (device.hid_cfg, device.hid_live, device.hid_pending)])
            return
        old_live = device.hid_live
        device.hid_cfg = enabled
        device.hid_pending = 1
        self.answer(device, ["HID|op=control;ok=1;enabled=%d;live=%d;pending_reboot=1" % (enabled, old_live)])
        # Commands are read only while the port is up, so an earlier
        # re-enumeration is still waiting here and nothing of it needs undoing.
        if device.reenum_task:
            device.reenum_task.cancel()
        reply_out_s = max(0.0, device.out_time - self.loop.time())
        device.reenum_task = asyncio.ensure_future(
            self.reenumerate(device, reply_out_s + device.opt["reenum_ms"] / 1000))

    @staticmethod
    def settle_hid(device):
        device.hid_pending = 0
        device.hid_live = device.hid_cfg

    async def reenumerate(self, device, delay_s):
        """After a HID switch the device restarts with its new interfaces: the
        port goes away as on an unplug and a new one comes back."""
        try:
            await asyncio.sleep(delay_s)
            if device.opt["reenum_port"] == "keep":
                self.settle_hid(device)
                log("%s: re-enumerated on the same port, hid live=%d" % (device.name, device.hid_live))
                return
            async with device.lock:
                self.close_port(device)
                device.mode = "reenum"
                self.settle_hid(device)
                log("%s: re-enumerating, hid live=%d" % (device.name, device.hid_live))
                await self.detach_port(device)
            if device.opt["reenum_return"] == "never":
                log("%s: the port does not come back" % device.name)
                return
            await asyncio.sleep(device.opt["reenum_back_ms"] / 1000)
            async with device.lock:
                if device.opt["reenum_port"] == "new":
                    self.renumber(device)
                await self.attach_port(device, device.opt["list_before_open_ms"])
                device.deaf_until = self.loop.time() + device.opt["reenum_mute_ms"] / 1000
        except asyncio.CancelledError:
            raise
        except Exception as error:   # logged: the device just stays without a port
            log("%s: re-enumeration failed: %s" % (device.name, error))
            self.close_port(device)
        finally:
            if device.reenum_task is asyncio.current_task():
                device.reenum_task = None

    def cancel_reenum(self, device):
        """Whatever else happens to the device (unplugged, rebooted) calls off a
        pending re-enumeration: the switch is live from the device's next start.
        Every caller runs while the re-enumeration is waiting (it holds the
        device's lock in each of its steps), so nothing of it needs undoing."""
        task, device.reenum_task = device.reenum_task, None
        if task is None or task.done():
            return None
        task.cancel()
        self.settle_hid(device)
        log("%s: re-enumeration called off" % device.name)
        return task

    async def stop_reenum(self, device):
        task = self.cancel_reenum(device)
        if task:
            await asyncio.gather(task, return_exceptions=True)

    def restart_chatter(self, device):
        if device.chatter_task:
            device.chatter_task.cancel()
            device.chatter_task = None
        if device.opt["chatter_ms"]:
            device.chatter_task = asyncio.ensure_future(self.chatter(device))

    async def chatter(self, device):
        period = device.opt["chatter_ms"] / 1000
        while True:
            await asyncio.sleep(period)
            # Like a USB serial device whose host does not read: when the port's
            # buffer is full, unsolicited output is dropped, not queued up.
            if device.port and not device.port.pending and not device.opt["mute"]:
                self.queue_output(device, self.telemetry(device).encode() + self.eol(device))

    # -- the boot loader --------------------------------------------------

    def start_boot(self, device):
        log("%s: rebooting into the boot loader" % device.name)
        self.cancel_reenum(device)
        device.mode = "bootloader"
        self.close_port(device)
        device.boot_task = asyncio.ensure_future(self.boot_loader(device))

    async def enter_boot_now(self, device):
        """The user holds BOOTSEL and plugs the device in: no port, and the
        boot loader's drive is there on return."""
        await self.stop_reenum(device)
        await self.stop_boot(device)
        await self.detach_port(device)
        log("%s: starts in the boot loader" % device.name)
        device.mode = "bootloader"
        drive = await self.add_boot_drive(device)
        device.boot_task = asyncio.ensure_future(self.boot_loader(device, drive))

    async def add_boot_drive(self, device):
        device.drive = await self.add_drive(device.name, "RPI-RP2", device.opt["drive_readonly"],
                                            device.opt["drive_refuse_ms"])
        return device.drive

    async def boot_loader(self, device, drive=None):
        try:
            if device.defined:
                device.defined = False
                await self.wineplug("remove", device.name)
            if drive is None:
                if device.opt["drive"] == "never":
                    log("%s: the boot loader's drive never appears" % device.name)
                    return
                await asyncio.sleep(device.opt["drive_delay_ms"] / 1000)
                drive = await self.add_boot_drive(device)
            flash = flash_holding(device.fw)
            while True:
                watcher = DriveWatcher(drive.directory, flash)
                while not watcher.poll():
                    await asyncio.sleep(DRIVE_POLL_S)
                outcome = watcher.receiver.outcome()
                version = watcher.receiver.version() if outcome == "flashed" else None
                device.flashed += 1
                device.last_uf2 = watcher.completed_by
                log("%s: took %s (%d blocks): %s, version %s" % (
                    device.name, watcher.completed_by, watcher.receiver.count, outcome, version))
                await asyncio.sleep(DRIVE_LINGER_S)
                device.drive = None
                await self.remove_drive(drive)
                if outcome != "boot_loader":
                    break
                # The boot ROM finds no valid boot2 and starts over in its boot loader.
                await asyncio.sleep(device.opt["return_delay_ms"] / 1000)
                drive = await self.add_boot_drive(device)
            if outcome == "lost_pages":
                device.mode = "hung"
                log("%s: the firmware does not start" % device.name)
                return
            if device.opt["return"] == "never":
                log("%s: the device never comes back" % device.name)
                return
            await asyncio.sleep(device.opt["return_delay_ms"] / 1000)
            if version and not device.opt["keep_version"]:
                device.fw = version
            device.hid_pending = 0
            device.hid_live = device.hid_cfg
            if device.opt["return_com"] == "new":
                self.renumber(device)
            await self.attach_port(device, device.opt["list_before_open_ms"])
            device.deaf_until = self.loop.time() + device.opt["boot_mute_ms"] / 1000
        except asyncio.CancelledError:
            raise
        except Exception as error:   # logged: the device just stays in the boot loader
            log("%s: boot loader failed: %s" % (device.name, error))
            self.close_port(device)

    async def stop_boot(self, device):
        task, device.boot_task = device.boot_task, None
        if task and not task.done():
            task.cancel()
            await asyncio.gather(task, return_exceptions=True)
        if device.drive:
            drive, device.drive = device.drive, None
            await self.remove_drive(drive)

    # -- drives -----------------------------------------------------------

    def free_letter(self):
        for code in range(ord("r"), ord("c"), -1):
            letter = chr(code)
            if letter in self.drives:
                continue
            if self.dosdevices and (os.path.lexists(os.path.join(self.dosdevices, letter + ":"))
                                    or os.path.lexists(os.path.join(self.dosdevices, letter + "::"))):
                continue
            return letter
        raise RuntimeError("no free drive letter")

    async def add_drive(self, owner, label, readonly, refuse_ms=0):
        letter = self.free_letter()
        self.drive_serial += 1
        directory = os.path.join(self.state_dir, "drive-%d-%s" % (self.drive_serial, letter))
        os.makedirs(directory)
        with open(os.path.join(directory, "INFO_UF2.TXT"), "w", newline="") as info:
            info.write(INFO_UF2)
        with open(os.path.join(directory, ".windows-label"), "w") as label_file:
            label_file.write(label + "\n")
        drive = Drive(letter, directory, owner, label, readonly)
        drive.refusing = bool(refuse_ms) and not readonly
        self.drives[letter] = drive
        if readonly or drive.refusing:
            set_immutable(directory, True)
        drive.mount_task = asyncio.ensure_future(self.wineplug("mount", letter, directory))
        try:
            await asyncio.shield(drive.mount_task)
        except asyncio.CancelledError:
            # Nobody will hold this drive: it goes away again.
            await asyncio.gather(drive.mount_task, return_exceptions=True)
            drive.mounted = drive.mount_task.exception() is None
            await asyncio.gather(self.remove_drive(drive), return_exceptions=True)
            raise
        except Exception:
            del self.drives[letter]
            set_immutable(directory, False)
            shutil.rmtree(directory, ignore_errors=True)
            raise
        drive.mounted = True
        if drive.refusing:
            drive.refuse_handle = self.loop.call_later(refuse_ms / 1000, self.accept_files, drive)
        log("drive %s: mounted %s (label %s%s%s%s)" % (
            letter.upper(), directory, label, ", read-only" if readonly else "",
            ", refuses files for %d ms" % refuse_ms if drive.refusing else "",
            ", for " + owner if owner else ""))
        return drive

    def accept_files(self, drive):
        drive.refuse_handle = None
        if drive.refusing and self.drives.get(drive.letter) is drive:
            drive.refusing = False
            set_immutable(drive.directory, False)
            log("drive %s: takes files now" % drive.letter.upper())

    async def remove_drive(self, drive):
        if self.drives.get(drive.letter) is not drive:
            return
        if drive.refuse_handle:
            drive.refuse_handle.cancel()
            drive.refuse_handle = None
        if drive.mount_task:
            await asyncio.gather(drive.mount_task, return_exceptions=True)
        try:
            await self.wineplug("unmount", drive.letter)
        finally:
            if self.drives.get(drive.letter) is drive:
                del self.drives[drive.letter]
            if drive.readonly or drive.refusing:
                set_immutable(drive.directory, False)
            shutil.rmtree(drive.directory, ignore_errors=True)
            log("drive %s: gone" % drive.letter.upper())

    # -- control requests -------------------------------------------------

    async def plug(self, words):
        options = parse_options(words, allow_com=True)
        number = options.get("com") or self.allocate_number()
        if number in self.devices:
            raise ValueError("COM%d is in use" % number)
        link = os.path.join(self.dosdevices, "com%d" % number) if self.dosdevices else None
        if link and os.path.lexists(link) and not (os.path.islink(link)
                                                   and os.readlink(link).startswith("/dev/pts/")):
            raise ValueError("COM%d belongs to the Wine prefix" % number)
        device = Device(number, options)
        self.devices[number] = device
        async with device.lock:
            try:
                if options.get("start") == "bootloader":
                    await self.enter_boot_now(device)
                else:
                    await self.attach_port(device)
            except BaseException:
                self.close_port(device)
                if device.defined:
                    device.defined = False
                    await asyncio.gather(self.wineplug("remove", device.name), return_exceptions=True)
                del self.devices[number]
                raise
            self.restart_chatter(device)
        return device.name

    async def unplug(self, device):
        async with device.lock:
            await self.stop_reenum(device)
            await self.stop_boot(device)
            await self.detach_port(device)
            device.mode = "off"

    async def replug(self, device):
        async with device.lock:
            if device.mode == "app":
                return
            await self.stop_reenum(device)
            await self.stop_boot(device)
            await self.detach_port(device)
            await self.attach_port(device)

    async def remove(self, device):
        await self.unplug(device)
        if device.chatter_task:
            device.chatter_task.cancel()
        self.devices.pop(device.number, None)
        for number in [n for n, d in self.aliases.items() if d is device]:
            del self.aliases[number]
        log("%s: removed" % device.name)

    def set_options(self, device, words):
        options = parse_options(words, allow_com=False)
        device.apply(options)
        if "chatter_ms" in options:
            self.restart_chatter(device)

    async def drive_request(self, words):
        if words and words[0] == "add":
            options = {}
            for word in words[1:]:
                key, sep, value = word.partition("=")
                if key not in ("label", "readonly") or not sep:
                    raise ValueError("drive add takes label=TEXT and readonly=0|1")
                options[key] = value
            label = options.get("label", "RPI-RP2")
            if not label or len(label) > 32 or any(ord(c) < 0x20 for c in label):
                raise ValueError("bad label")
            drive = await self.add_drive(None, label, _flag(options.get("readonly", "0")))
            return drive.letter.upper()
        if len(words) == 2 and words[0] == "remove":
            letter = words[1].rstrip(":").lower()
            drive = self.drives.get(letter)
            if drive is None:
                raise ValueError("no such drive: " + words[1])
            for device in self.devices.values():
                if device.drive is drive:
                    device.drive = None
            await self.remove_drive(drive)
            return ""
        raise ValueError("usage: drive add [label=TEXT] [readonly=1] | drive remove LETTER")

    async def handle(self, line):
        words = line.split()
        if not words:
            raise ValueError("empty request")
        verb, args = words[0], words[1:]
        if verb == "ping":
            return ""
        if verb == "plug":
            return await self.plug(args)
        if verb == "list":
            return " ".join(d.name for d in sorted(self.devices.values(), key=lambda d: d.number))
        if verb == "drive":
            return await self.drive_request(args)
        if verb == "uf2":
            options = dict(word.partition("=")[::2] for word in args)
            unknown = set(options) - {"version", "size", "variant"}
            if unknown:
                raise ValueError("unknown uf2 option: " + ", ".join(sorted(unknown)))
            size = int(options["size"]) if "size" in options else None
            return uf2gen.build_image(options.get("version", "1.0.0"), size,
                                      options.get("variant", "good")).hex()
        if not args:
            raise ValueError("usage: %s COMn ..." % verb)
        device = self.find(args[0])
        rest = args[1:]
        if verb == "set":
            self.set_options(device, rest)
            return ""
        if verb == "send":
            if len(rest) != 1:
                raise ValueError("usage: send COMn HEX")
            data = bytes.fromhex(rest[0])
            if device.port is None:
                raise ValueError("%s has no port now (mode %s)" % (device.name, device.mode))
            self.queue_output(device, data)
            return ""
        if verb == "received":
            return bytes(device.received).hex()
        if verb == "clear":
            device.received.clear()
            return ""
        if verb == "state":
            return device.describe()
        if verb == "unplug":
            await self.unplug(device)
            return ""
        if verb == "replug":
            await self.replug(device)
            return ""
        if verb == "bootsel":
            async with device.lock:
                await self.enter_boot_now(device)
            return ""
        if verb == "remove":
            await self.remove(device)
            return ""
        raise ValueError("unknown request: " + verb)

    async def serve_client(self, reader, writer):
        try:
            while True:
                raw = await reader.readline()
                if not raw:
                    break
                line = raw.decode("utf-8", "replace").strip()
                if not line:
                    continue
                try:
                    result = await self.handle(line)
                    reply = "ok" + (" " + result if result else "")
                except Exception as error:   # every failure goes back to the client
                    reply = "err %s" % (error or type(error).__name__)
                log("control: %s -> %s" % (shorten(line), shorten(reply)))
                writer.write(reply.encode("utf-8") + b"\n")
                await writer.drain()
        except (ConnectionError, asyncio.IncompleteReadError):
            pass
        finally:
            writer.close()

    async def shutdown(self):
        log("shutting down")
        # What the devices were doing ends first, so that no port or drive
        # comes up behind the clean-up.
        running = []
        for device in list(self.devices.values()):
            for task in (device.boot_task, device.reenum_task, device.chatter_task):
                if task and not task.done():
                    task.cancel()
                    running.append(task)
        if running:
            try:
                await asyncio.wait_for(asyncio.gather(*running, return_exceptions=True), 5)
            except asyncio.TimeoutError:
                log("shutdown: the devices' tasks did not finish")
        tasks = []
        for device in list(self.devices.values()):
            self.close_port(device)
            if device.defined:
                device.defined = False
                tasks.append(self.wineplug("remove", device.name))
        for drive in list(self.drives.values()):
            tasks.append(self.remove_drive(drive))
        if tasks:
            try:
                await asyncio.wait_for(asyncio.gather(*tasks, return_exceptions=True), 5)
            except asyncio.TimeoutError:
                log("shutdown: helpers did not finish")


def set_immutable(path, on):
    """The immutable attribute on a directory and its files: even root cannot
    create, replace or change anything there, so Wine's CreateFileW fails."""
    for target in [path] + [os.path.join(path, name) for name in os.listdir(path)]:
        try:
            fd = os.open(target, os.O_RDONLY | os.O_NONBLOCK)
        except OSError as error:
            log("immutable %s: %s" % (target, error))
            continue
        try:
            flags = struct.unpack("I", fcntl.ioctl(fd, FS_IOC_GETFLAGS, struct.pack("I", 0)))[0]
            flags = flags | FS_IMMUTABLE_FL if on else flags & ~FS_IMMUTABLE_FL
            fcntl.ioctl(fd, FS_IOC_SETFLAGS, struct.pack("I", flags))
        except OSError as error:
            log("immutable %s: %s (the drive stays writable)" % (target, error))
        finally:
            os.close(fd)


# ---------------------------------------------------------------------------


def build_parser():
    parser = argparse.ArgumentParser(description="Simulated NORVA1 devices for Wine (see the module text).")
    parser.add_argument("--control", type=int, help="serve the control protocol on 127.0.0.1:PORT")
    parser.add_argument("--wineplug", default=None, help="path of wineplug.exe")
    parser.add_argument("--plug", metavar="COMn", help="plug one device under this name at start")
    parser.add_argument("--state", default=None, help="folder for the drives' directories (default: a temp dir)")
    for key in OPTIONS:
        if key != "com":
            parser.add_argument("--" + key, dest="opt_" + key, metavar="VALUE", default=None)
    return parser


async def run(args):
    if args.control is None and not args.plug:
        raise SystemExit("devsim: give --control PORT and/or --plug COMn")
    wineplug = args.wineplug
    if not wineplug and os.environ.get("NORVA_BUILD_DIR"):
        wineplug = os.path.join(os.environ["NORVA_BUILD_DIR"], "tools", "wineplug.exe")
    own_state = args.state is None
    state_dir = args.state or tempfile.mkdtemp(prefix="devsim-")
    os.makedirs(state_dir, exist_ok=True)
    simulator = Simulator(wineplug, state_dir)
    log("started: control %s, wineplug %s, WINEPREFIX %s, drives in %s" % (
        args.control, wineplug, simulator.prefix or "(unset)", state_dir))
    await simulator.clean_stale()
    stop = asyncio.Event()
    for signum in (signal.SIGTERM, signal.SIGINT):
        simulator.loop.add_signal_handler(signum, stop.set)
    server = None
    try:
        if args.control is not None:
            server = await asyncio.start_server(simulator.serve_client, "127.0.0.1", args.control)
        if args.plug:
            name = args.plug.upper()
            if not (name.startswith("COM") and name[3:].isdigit()):
                raise SystemExit("devsim: --plug takes a name such as COM5")
            words = ["com=" + name[3:]] + ["%s=%s" % (key, getattr(args, "opt_" + key))
                                           for key in OPTIONS if key != "com"
                                           and getattr(args, "opt_" + key) is not None]
            print("devsim: plugged " + await simulator.plug(words), flush=True)
        await stop.wait()
    finally:
        if server:
            server.close()
        await simulator.shutdown()
        if own_state:
            shutil.rmtree(state_dir, ignore_errors=True)


def main(argv=None):
    args = build_parser().parse_args(argv)
    try:
        asyncio.run(run(args))
    except (ValueError, RuntimeError) as error:
        log("error: %s" % error)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
