#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/calls_override.h"
#include "tests/support/device_helpers.h"
#include "tests/support/sim_client.h"
#include "update/image/bootloader_drive.h"
#include "update/image/volume_calls.h"

// Finding the boot loader's drive among the drives Wine lists, and copying an
// image onto it, against removable drives the simulator mounts at run time.

namespace {

// A drive of the simulator's, removed when the test ends.
struct SimDrive {
    explicit SimDrive(const std::string& options = "") : letter(SimAddDrive(options)) {}
    ~SimDrive() {
        if (letter != 0) SimRemoveDrive(letter);
    }
    std::wstring root() const { return std::wstring(1, letter) + L":\\"; }
    wchar_t letter;
};

std::vector<uint8_t> ReadWholeFile(const std::wstring& path) {
    std::vector<uint8_t> bytes;
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return bytes;
    uint8_t chunk[65536];
    DWORD got = 0;
    while (ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    return bytes;
}

std::vector<uint8_t> Pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + i / 251) & 0xFF);
    return bytes;
}

void NoProgress(int32_t) {}

class BootloaderDrive : public ::testing::Test {
protected:
    CallsOverride<VolumeCalls> volumes;
};

}  // namespace

TEST_F(BootloaderDrive, ListsTheDrivesThatArePresent) {
    const DriveRootSet roots = ListDriveRoots();
    EXPECT_EQ(roots.count(L"C:\\"), 1u);
    SimDrive drive;
    ASSERT_NE(drive.letter, 0);
    EXPECT_EQ(ListDriveRoots().count(drive.root()), 1u);
}

TEST_F(BootloaderDrive, ANewRemovableDriveLabelledRpiRp2IsFoundInAnyLetterCase) {
    const DriveRootSet before = ListDriveRoots();
    std::wstring root;
    EXPECT_FALSE(FindBootloaderDrive(before, root));
    SimDrive drive("label=rpi-RP2");
    ASSERT_NE(drive.letter, 0);
    ASSERT_TRUE(FindBootloaderDrive(before, root));
    EXPECT_EQ(root, drive.root());
}

TEST_F(BootloaderDrive, ADriveThatWasAlreadyThereIsNeverChosen) {
    SimDrive old;
    ASSERT_NE(old.letter, 0);
    const DriveRootSet before = ListDriveRoots();
    std::wstring root;
    EXPECT_FALSE(FindBootloaderDrive(before, root));
}

TEST_F(BootloaderDrive, OnlyARemovableDriveWithTheBootloaderLabelCounts) {
    const DriveRootSet before = ListDriveRoots();
    SimDrive other("label=USBSTICK");
    ASSERT_NE(other.letter, 0);
    std::wstring root;
    EXPECT_FALSE(FindBootloaderDrive(before, root));

    SimDrive bootloader;
    ASSERT_NE(bootloader.letter, 0);
    // The same drive, seen as a fixed disk: not the boot loader.
    volumes->getDriveType = [](LPCWSTR) -> UINT { return DRIVE_FIXED; };
    EXPECT_FALSE(FindBootloaderDrive(before, root));
    // A label that cannot be read: skipped.
    volumes.Restore();
    volumes->getVolumeInformation = [](LPCWSTR, LPWSTR, DWORD, LPDWORD, LPDWORD, LPDWORD, LPWSTR, DWORD) -> BOOL {
        return FALSE;
    };
    EXPECT_FALSE(FindBootloaderDrive(before, root));
    volumes.Restore();
    ASSERT_TRUE(FindBootloaderDrive(before, root));
    EXPECT_EQ(root, bootloader.root());
}

TEST_F(BootloaderDrive, OfTwoNewBootloaderDrivesTheFirstListedIsChosen) {
    const DriveRootSet before = ListDriveRoots();
    SimDrive first;
    SimDrive second;
    ASSERT_NE(first.letter, 0);
    ASSERT_NE(second.letter, 0);
    std::wstring root;
    ASSERT_TRUE(FindBootloaderDrive(before, root));
    EXPECT_EQ(root[0], std::min(first.letter, second.letter));
}

TEST_F(BootloaderDrive, AListingThatFailsOrDoesNotFitGivesNothing) {
    volumes->getLogicalDriveStrings = [](DWORD, LPWSTR) -> DWORD { return 0; };
    EXPECT_TRUE(ListDriveRoots().empty());
    std::wstring root;
    EXPECT_FALSE(FindBootloaderDrive(DriveRootSet(), root));
    volumes->getLogicalDriveStrings = [](DWORD, LPWSTR) -> DWORD { return 1025; };
    EXPECT_TRUE(ListDriveRoots().empty());
    EXPECT_FALSE(FindBootloaderDrive(DriveRootSet(), root));
}

TEST_F(BootloaderDrive, CopiesTheImageByteForByteReplacingAnOlderFile) {
    SimDrive drive;
    ASSERT_NE(drive.letter, 0);
    const std::vector<uint8_t> older = Pattern(300000);
    const std::vector<uint8_t> image = Pattern(70000);
    std::wstring error;
    ASSERT_TRUE(WriteUf2ToDrive(drive.root(), L"firmware.uf2", older, error, NoProgress));
    ASSERT_TRUE(WriteUf2ToDrive(drive.root(), L"firmware.uf2", image, error, NoProgress));
    EXPECT_EQ(ReadWholeFile(drive.root() + L"firmware.uf2"), image);
}

TEST_F(BootloaderDrive, WritesInPiecesOf64KiBWithProgressAfterEach) {
    SimDrive drive;
    ASSERT_NE(drive.letter, 0);
    static std::vector<DWORD> pieces;
    volumes->writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
        pieces.push_back(size);
        return WriteFile(file, data, size, written, nullptr);
    };
    std::wstring error;
    std::vector<int32_t> progress;
    const auto note = [&progress](int32_t percent) { progress.push_back(percent); };
    pieces.clear();
    ASSERT_TRUE(WriteUf2ToDrive(drive.root(), L"a.uf2", Pattern(65536), error, note));
    EXPECT_EQ(pieces, std::vector<DWORD>{65536});
    EXPECT_EQ(progress, std::vector<int32_t>{100});
    pieces.clear();
    progress.clear();
    ASSERT_TRUE(WriteUf2ToDrive(drive.root(), L"b.uf2", Pattern(65537), error, note));
    EXPECT_EQ(pieces, (std::vector<DWORD>{65536, 1}));
    EXPECT_EQ(progress, (std::vector<int32_t>{99, 100}));
}

TEST_F(BootloaderDrive, ADriveThatRefusesTheFileSaysSo) {
    SimDrive drive("readonly=1");
    ASSERT_NE(drive.letter, 0);
    std::wstring error;
    EXPECT_FALSE(WriteUf2ToDrive(drive.root(), L"firmware.uf2", Pattern(1024), error, NoProgress));
    EXPECT_EQ(error, L"创建 UF2 文件失败");
    EXPECT_FALSE(WriteUf2ToDrive(L"B:\\", L"firmware.uf2", Pattern(1024), error, NoProgress));  // no such drive
    EXPECT_EQ(error, L"创建 UF2 文件失败");
}

TEST_F(BootloaderDrive, AFailedWriteOrAWriteThatTakesNothingEndsTheCopy) {
    SimDrive drive;
    ASSERT_NE(drive.letter, 0);
    static int closes;
    closes = 0;
    volumes->closeHandle = [](HANDLE handle) -> BOOL {
        ++closes;
        return CloseHandle(handle);
    };
    std::wstring error;
    volumes->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return FALSE;
    };
    EXPECT_FALSE(WriteUf2ToDrive(drive.root(), L"x.uf2", Pattern(4096), error, NoProgress));
    EXPECT_EQ(error, L"写入 UF2 失败");
    EXPECT_EQ(closes, 1);

    // Success with nothing written would otherwise repeat for ever.
    volumes->writeFile = [](HANDLE, LPCVOID, DWORD, LPDWORD written, LPOVERLAPPED) -> BOOL {
        *written = 0;
        return TRUE;
    };
    error.clear();
    EXPECT_FALSE(WriteUf2ToDrive(drive.root(), L"y.uf2", Pattern(4096), error, NoProgress));
    EXPECT_EQ(error, L"写入 UF2 失败");
    EXPECT_EQ(closes, 2);
}

TEST_F(BootloaderDrive, AShortWriteIsContinuedFromWhereItStopped) {
    SimDrive drive;
    ASSERT_NE(drive.letter, 0);
    volumes->writeFile = [](HANDLE file, LPCVOID data, DWORD size, LPDWORD written, LPOVERLAPPED) -> BOOL {
        return WriteFile(file, data, size > 1000 ? 1000 : size, written, nullptr);
    };
    const std::vector<uint8_t> image = Pattern(5500);
    std::wstring error;
    ASSERT_TRUE(WriteUf2ToDrive(drive.root(), L"z.uf2", image, error, NoProgress));
    EXPECT_EQ(ReadWholeFile(drive.root() + L"z.uf2"), image);
}
