"""What a simulated device sends back, read on the device end of its
pseudo-terminal as a Windows program would. The Windows helper is replaced by
/bin/true, so no Wine is needed."""

import asyncio
import io
import os
import shutil
import sys
import tempfile
import time
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "world"))
import devsim  # noqa: E402
import uf2gen  # noqa: E402

TEL0 = b"TEL|fw=1.0.0;app=0;hid_ctrl_cfg=0;hid_ctrl_live=0;hid_ctrl_pending=0"


class SimulatedDeviceCase(unittest.IsolatedAsyncioTestCase):
    async def asyncSetUp(self):
        self.root = tempfile.mkdtemp(prefix="devsim-test-")
        os.makedirs(os.path.join(self.root, "prefix", "dosdevices"))
        self.saved = {k: os.environ.get(k) for k in ("WINEPREFIX", "NORVA_WINE")}
        os.environ["WINEPREFIX"] = os.path.join(self.root, "prefix")
        os.environ["NORVA_WINE"] = "/bin/true"
        devsim.LOG_STREAM = self.log = io.StringIO()
        self.sim = devsim.Simulator("wineplug.exe", self.root)
        self.fds = []

    async def asyncTearDown(self):
        for fd in self.fds:
            os.close(fd)
        await self.sim.shutdown()
        # Nothing is left behind, whatever the device was doing: no port, and
        # no drive directory (one still refusing files could not be deleted).
        self.assertEqual(os.listdir(os.path.join(self.root, "prefix", "dosdevices")), [])
        self.assertEqual([name for name in os.listdir(self.root) if name.startswith("drive-")], [])
        self.assertNotIn("failed", self.log.getvalue())
        for key, value in self.saved.items():
            if value is None:
                os.environ.pop(key, None)
            else:
                os.environ[key] = value
        shutil.rmtree(self.root)
        devsim.LOG_STREAM = sys.stderr

    async def plug(self, options=""):
        name = await self.sim.plug(options.split())
        device = self.sim.find(name)
        return device, self.open(device)

    def link(self, device):
        return os.path.join(self.root, "prefix", "dosdevices", device.name.lower())

    def open(self, device):
        fd = os.open(self.link(device), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        self.fds.append(fd)
        return fd

    async def read(self, fd, until, timeout=2.0):
        """Bytes read until until(data) holds or the time-out passes."""
        data = b""
        deadline = time.monotonic() + timeout
        while not until(data) and time.monotonic() < deadline:
            try:
                data += os.read(fd, 65536)
            except BlockingIOError:
                await asyncio.sleep(0.005)
        return data

    async def ask(self, fd, command, lines=1):
        os.write(fd, command)
        return await self.read(fd, lambda d: d.count(b"\n") >= lines)

    async def wait(self, condition, timeout=5.0):
        deadline = time.monotonic() + timeout
        while not condition() and time.monotonic() < deadline:
            await asyncio.sleep(0.01)
        return condition()


class Answers(SimulatedDeviceCase):
    async def test_answer_forms(self):
        cases = [
            ("", b"telemetry.once\n", TEL0 + b"\r\n"),
            ("", b"telemetry.once\r\n", TEL0 + b"\r\n"),
            ("fw=2.0.1 app=1 hid_cfg=1", b"telemetry.once\n",
             b"TEL|fw=2.0.1;app=1;hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=0\r\n"),
            ("keys=upper", b"telemetry.once\n",
             b"TEL|FW=1.0.0;APP=0;HID_CTRL_CFG=0;HID_CTRL_LIVE=0;HID_CTRL_PENDING=0\r\n"),
            ("keys=colon eol=lf", b"telemetry.once\n",
             b"TEL|fw:1.0.0;app:0;hid_ctrl_cfg:0;hid_ctrl_live:0;hid_ctrl_pending:0\n"),
            ("tel_hid=0", b"telemetry.once\n", b"TEL|fw=1.0.0;app=0\r\n"),
            ("", b"app.mode(1)\n", b"OK\r\n"),
            ("", b"app.mode(2)\n", b"ERR unknown command: app.mode(2)\r\n"),
            ("legacy=1", b"hid.control(1)\n", b"ERR unknown command: hid.control(1)\r\n"),
            ("hid_ok=0 hid_cfg=1", b"hid.control(0)\n",
             b"HID|op=control;ok=0;enabled=1;live=1;pending_reboot=0\r\n"),
            ("hid_cfg=1", b"hid.control(0)\n", b"HID|op=control;ok=1;enabled=0;live=1;pending_reboot=1\r\n"),
        ]
        for options, command, expected in cases:
            with self.subTest(options=options, command=command):
                device, fd = await self.plug(options)
                self.assertEqual(await self.ask(fd, command), expected)

    async def test_box_info_is_three_lines_that_are_not_records(self):
        _, fd = await self.plug()
        lines = (await self.ask(fd, b"box.info\n", lines=3)).split(b"\r\n")
        self.assertEqual(len(lines), 4)
        self.assertEqual(lines[3], b"")
        for line in lines[:3]:
            self.assertFalse(line.startswith((b"TEL|", b"HID|")), line)
            self.assertNotIn(b"fw=", line)

    async def test_garbage_and_burst_come_before_the_answer(self):
        _, fd = await self.plug("garbage=1")
        data = await self.ask(fd, b"telemetry.once\n", lines=2)
        garbage, answer = data.split(b"\r\n")[:2]
        self.assertEqual(answer, TEL0)
        self.assertTrue(any(b < 0x20 for b in garbage) and any(b >= 0x80 for b in garbage))

        _, fd = await self.plug("burst=3000")
        data = await self.ask(fd, b"telemetry.once\n")
        self.assertEqual(len(data), 3000 + len(TEL0) + 2)
        self.assertNotIn(b"\n", data[:3000])
        self.assertTrue(data.endswith(TEL0 + b"\r\n"))

        _, fd = await self.plug("burst=10 burst_eol=1 eol=lf")
        self.assertEqual((await self.ask(fd, b"telemetry.once\n", lines=2)).split(b"\n")[1], TEL0)

    async def test_mute_device_neither_answers_nor_acts(self):
        device, fd = await self.plug("mute=1")
        os.write(fd, b"app.mode(1)\n")
        self.assertEqual(await self.read(fd, bool, timeout=0.3), b"")
        self.assertEqual(device.app, 0)
        self.assertEqual(bytes(device.received), b"app.mode(1)\n")


class Timing(SimulatedDeviceCase):
    async def test_reply_delay_and_split_lines(self):
        _, fd = await self.plug("reply_delay_ms=300")
        started = time.monotonic()
        self.assertEqual(await self.ask(fd, b"telemetry.once\n"), TEL0 + b"\r\n")
        self.assertGreaterEqual(time.monotonic() - started, 0.28)

        _, fd = await self.plug("split_ms=250")
        os.write(fd, b"telemetry.once\n")
        first = await self.read(fd, bool)
        started = time.monotonic()
        rest = await self.read(fd, lambda d: d.endswith(b"\n"))
        self.assertGreaterEqual(time.monotonic() - started, 0.2)
        self.assertTrue(0 < len(first) < len(TEL0))
        self.assertEqual(first + rest, TEL0 + b"\r\n")

    async def test_chatter_sends_records_unasked(self):
        _, fd = await self.plug("chatter_ms=40 eol=lf")
        data = await self.read(fd, lambda d: d.count(b"\n") >= 3)
        self.assertEqual(data.split(b"\n")[:3], [TEL0] * 3)

    async def test_hid_switch_is_pending_until_the_device_reenumerates_on_its_port(self):
        device, fd = await self.plug("reenum_ms=200 reenum_port=keep")
        self.assertEqual(await self.ask(fd, b"hid.control(1)\n"),
                         b"HID|op=control;ok=1;enabled=1;live=0;pending_reboot=1\r\n")
        self.assertIn(b"hid_ctrl_cfg=1;hid_ctrl_live=0;hid_ctrl_pending=1", await self.ask(fd, b"telemetry.once\n"))
        await self.read(fd, lambda d: device.hid_pending == 0)
        self.assertIn(b"hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=0", await self.ask(fd, b"telemetry.once\n"))


class ReEnumeration(SimulatedDeviceCase):
    HID_ON = b"HID|op=control;ok=1;enabled=1;live=0;pending_reboot=1\r\n"
    LIVE = b"hid_ctrl_cfg=1;hid_ctrl_live=1;hid_ctrl_pending=0"

    async def switch_until_away(self, options):
        device, fd = await self.plug(options)
        old_name, old_link = device.name, self.link(device)
        os.write(fd, b"hid.control(1)\ntelemetry")    # half a command, which dies with the port
        self.assertEqual(await self.read(fd, lambda d: d.endswith(b"\n")), self.HID_ON)
        self.assertTrue(await self.wait(lambda: device.mode == "reenum"))
        self.assertIn("mode=reenum", await self.sim.handle("state " + old_name))
        self.assertFalse(os.path.lexists(old_link))
        with self.assertRaises(OSError):        # the old handle is dead for good
            os.write(fd, b"telemetry.once\n")
        return device, old_name, old_link

    async def test_the_port_goes_away_and_a_new_one_comes_back(self):
        for port in ("same", "new"):
            with self.subTest(reenum_port=port):
                device, old_name, old_link = await self.switch_until_away(
                    "reenum_ms=50 reenum_back_ms=300 reenum_port=" + port)
                self.assertTrue(await self.wait(lambda: device.mode == "app"))
                self.assertEqual(device.name == old_name, port == "same")
                self.assertEqual(os.path.lexists(old_link), port == "same")
                self.assertIs(self.sim.find(old_name), device)
                fd = self.open(device)
                self.assertEqual(await self.ask(fd, b".once\n"), b"ERR unknown command: .once\r\n")
                self.assertIn(self.LIVE, await self.ask(fd, b"telemetry.once\n"))

    async def test_a_device_back_from_its_reenumeration_may_ignore_commands_for_a_while(self):
        device, _, _ = await self.switch_until_away("reenum_ms=50 reenum_back_ms=100 reenum_mute_ms=600")
        self.assertTrue(await self.wait(lambda: device.mode == "app"))
        back = time.monotonic()
        fd = self.open(device)
        os.write(fd, b"telemetry.once\n")
        self.assertEqual(await self.read(fd, lambda d: b"\n" in d, timeout=0.3), b"")
        # Once it has set itself up, it answers again; what it ignored stays unanswered.
        await asyncio.sleep(max(0.0, 0.7 - (time.monotonic() - back)))
        self.assertEqual(await self.ask(fd, b"telemetry.once\n"), b"TEL|fw=1.0.0;app=0;" + self.LIVE + b"\r\n")

    async def test_a_port_away_comes_back_only_when_replugged(self):
        device, _, link = await self.switch_until_away("reenum_ms=50 reenum_back_ms=0 reenum_return=never")
        self.assertTrue(await self.wait(lambda: device.reenum_task is None))
        self.assertEqual((device.mode, os.path.lexists(link)), ("reenum", False))
        await self.sim.replug(device)
        self.assertIn(self.LIVE, await self.ask(self.open(device), b"telemetry.once\n"))

        # Unplugged while away, it stays away.
        device, _, link = await self.switch_until_away("reenum_ms=50 reenum_back_ms=200")
        await self.sim.unplug(device)
        await asyncio.sleep(0.3)
        self.assertEqual((device.mode, os.path.lexists(link)), ("off", False))


class BootLoader(SimulatedDeviceCase):
    async def test_flashes_and_returns_listed_before_it_can_be_opened(self):
        device, fd = await self.plug("fw=1.0.0 drive_delay_ms=0 return_delay_ms=0 list_before_open_ms=400")
        link = os.path.join(self.root, "prefix", "dosdevices", device.name.lower())
        os.write(fd, b"sys.bootsel()\n")
        self.assertTrue(await self.wait(lambda: device.drive is not None))
        self.assertFalse(os.path.lexists(link))
        with open(os.path.join(device.drive.directory, ".windows-label")) as label:
            self.assertEqual(label.read().strip(), "RPI-RP2")
        with open(os.path.join(device.drive.directory, "fw.uf2"), "wb") as out:
            out.write(uf2gen.build_image("7.7.7", 2048))
        self.assertTrue(await self.wait(lambda: device.defined))
        listed = time.monotonic()
        self.assertFalse(os.path.lexists(link))
        self.assertTrue(await self.wait(lambda: os.path.lexists(link)))
        self.assertGreaterEqual(time.monotonic() - listed, 0.3)
        self.assertEqual(await self.ask(self.open(device), b"telemetry.once\n"),
                         TEL0.replace(b"1.0.0", b"7.7.7") + b"\r\n")
        self.assertEqual((device.flashed, device.last_uf2, device.mode), (1, "fw.uf2", "app"))

    async def test_an_image_whose_boot2_fails_leaves_it_in_its_boot_loader(self):
        device, fd = await self.plug("fw=1.0.0 drive_delay_ms=0 return_delay_ms=0")
        os.write(fd, b"sys.bootsel()\n")
        self.assertTrue(await self.wait(lambda: device.drive is not None))
        first = device.drive
        with open(os.path.join(first.directory, "fw.uf2"), "wb") as out:
            out.write(uf2gen.build_image("7.7.7", 2048, "bad_boot2"))
        self.assertTrue(await self.wait(lambda: device.drive not in (None, first)))
        self.assertEqual((device.mode, device.port, device.flashed), ("bootloader", None, 1))
        with open(os.path.join(device.drive.directory, "fw.uf2"), "wb") as out:
            out.write(uf2gen.build_image("7.7.8", 2048))
        self.assertTrue(await self.wait(lambda: device.mode == "app" and device.port is not None))
        self.assertEqual((device.fw, device.flashed), ("7.7.8", 2))

    async def test_keep_version_and_a_drive_that_refuses_writes(self):
        device, fd = await self.plug("fw=1.0.0 drive_delay_ms=0 return_delay_ms=0 keep_version=1 drive_readonly=1")
        os.write(fd, b"sys.bootsel()\n")
        self.assertTrue(await self.wait(lambda: device.drive is not None))
        with self.assertRaises(PermissionError):
            open(os.path.join(device.drive.directory, "fw.uf2"), "wb")
        devsim.set_immutable(device.drive.directory, False)
        with open(os.path.join(device.drive.directory, "fw.uf2"), "wb") as out:
            out.write(uf2gen.build_image("7.7.7", 2048))
        self.assertTrue(await self.wait(lambda: device.mode == "app" and device.port is not None))
        self.assertEqual((device.fw, device.flashed), ("1.0.0", 1))

    async def test_a_new_drive_refuses_files_for_a_while(self):
        device, fd = await self.plug("drive_delay_ms=0 drive_refuse_ms=400")
        os.write(fd, b"sys.bootsel()\n")
        self.assertTrue(await self.wait(lambda: device.drive is not None))
        mounted = time.monotonic()
        path = os.path.join(device.drive.directory, "fw.uf2")
        with self.assertRaises(PermissionError):
            open(path, "wb")
        self.assertIn(" drive_refusing=1 ", device.describe())

        def can_create():
            try:
                open(path, "wb").close()
                return True
            except PermissionError:
                return False
        self.assertTrue(await self.wait(can_create))
        self.assertGreaterEqual(time.monotonic() - mounted, 0.35)
        self.assertIn(" drive_refusing=0 ", device.describe())

        # The drive of the bootsel request refuses too, and goes away cleanly before it takes files.
        await self.sim.handle("set %s drive_refuse_ms=60000" % device.name)
        await self.sim.handle("bootsel " + device.name)
        directory = device.drive.directory
        with self.assertRaises(PermissionError):
            open(os.path.join(directory, "fw.uf2"), "wb")
        await self.sim.unplug(device)
        self.assertFalse(os.path.exists(directory))


if __name__ == "__main__":
    unittest.main()
