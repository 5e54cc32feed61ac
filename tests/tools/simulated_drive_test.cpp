// The simulated boot loader's RPI-RP2 drive and drives of no device, seen
// through raw Win32 calls. Drives are shared by every test that runs at the same
// time, so these hold the rpi_rp2_drive lock.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "tests/support/sim_client.h"
#include "tests/tools/raw_win32.h"

namespace {

TEST(SimulatedBootLoader, FlashesTheImageWrittenToItsDriveAndComesBackWithItsVersion) {
    SimDevice device("fw=1.0.0 drive_delay_ms=200 return_delay_ms=100");
    ASSERT_TRUE(device.plugged());
    std::string image = SimUf2Image("2.4.0", 150000);
    ASSERT_EQ(image.size(), 150016u);
    HANDLE port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(WriteAll(port, "sys.bootsel()\n"));
    CloseHandle(port);

    EXPECT_TRUE(WaitUntil([&] { return !IsPortListed(device.port()); }, 5000));
    EXPECT_EQ(device.State()["mode"], "bootloader");
    std::string letter;
    ASSERT_TRUE(WaitUntil([&] { return (letter = device.State()["drive"]) != "-"; }, 5000));
    const std::wstring root = RootOf(static_cast<wchar_t>(letter[0]));
    EXPECT_EQ(DriveRoots().count(root), 1u);
    EXPECT_EQ(GetDriveTypeW(root.c_str()), static_cast<UINT>(DRIVE_REMOVABLE));
    EXPECT_EQ(VolumeLabel(root), L"RPI-RP2");

    ASSERT_TRUE(WriteFileAt(root + L"norva fw.uf2", image));
    EXPECT_TRUE(WaitUntil([&] { return DriveRoots().count(root) == 0; }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return IsPortListed(device.port()); }, 5000));
    port = OpenRawPort(device.port());
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Ask(port, "telemetry.once").compare(0, 14, "TEL|fw=2.4.0;a"), 0);
    CloseHandle(port);
    auto state = device.State();
    EXPECT_EQ(state["mode"], "app");
    EXPECT_EQ(state["flashed"], "1");
    EXPECT_EQ(state["last_uf2"], "norva%20fw.uf2");
}

TEST(SimulatedDrive, DriveOfNoDeviceIsRemovableLabelledAndCanRefuseWrites) {
    wchar_t writable = SimAddDrive();
    wchar_t readOnly = SimAddDrive("readonly=1");
    wchar_t other = SimAddDrive("label=USBSTICK");
    ASSERT_NE(writable, 0);
    ASSERT_NE(readOnly, 0);
    ASSERT_NE(other, 0);
    std::set<std::wstring> roots = DriveRoots();

    for (wchar_t letter : {writable, readOnly, other}) {
        ASSERT_EQ(roots.count(RootOf(letter)), 1u) << static_cast<char>(letter);
        EXPECT_EQ(GetDriveTypeW(RootOf(letter).c_str()), static_cast<UINT>(DRIVE_REMOVABLE));
    }
    EXPECT_EQ(VolumeLabel(RootOf(writable)), L"RPI-RP2");
    EXPECT_EQ(VolumeLabel(RootOf(readOnly)), L"RPI-RP2");
    EXPECT_EQ(VolumeLabel(RootOf(other)), L"USBSTICK");
    EXPECT_TRUE(WriteFileAt(RootOf(writable) + L"a.uf2", "data"));
    EXPECT_FALSE(WriteFileAt(RootOf(readOnly) + L"a.uf2", "data"));
    EXPECT_FALSE(WriteFileAt(RootOf(readOnly) + L"INFO_UF2.TXT", "data"));

    for (wchar_t letter : {writable, readOnly, other}) SimRemoveDrive(letter);
    roots = DriveRoots();
    for (wchar_t letter : {writable, readOnly, other}) EXPECT_EQ(roots.count(RootOf(letter)), 0u);
}

}  // namespace
