#include "update/image/bootloader_drive.h"

#include <windows.h>

#include <algorithm>

#include "base/trace.h"
#include "update/image/volume_calls.h"

namespace {

constexpr DWORD kDriveListChars = 1024;
constexpr DWORD kLabelChars = 260;
constexpr size_t kWritePiece = 65536;
// The volume label of the RP2040 boot ROM's mass-storage drive.
constexpr wchar_t kBootloaderLabel[] = L"RPI-RP2";

// The roots of the current listing ("C:\", "E:\", ...); false when the listing
// fails or does not fit the buffer.
bool ListRoots(std::vector<std::wstring>& roots) {
    wchar_t buffer[kDriveListChars + 1] = {};
    const DWORD length = Volumes().getLogicalDriveStrings(kDriveListChars, buffer);
    if (length == 0) {
        TraceSystemError(L"GetLogicalDriveStringsW", std::wstring(), GetLastError());
        return false;
    }
    if (length > kDriveListChars) {
        TraceSystemError(L"GetLogicalDriveStringsW", L"(needs " + std::to_wstring(length) + L" characters)",
                         ERROR_INSUFFICIENT_BUFFER);
        return false;
    }
    for (const wchar_t* root = buffer; *root != L'\0'; root += wcslen(root) + 1) {
        roots.emplace_back(root);
    }
    return true;
}

}  // namespace

bool IsBootloaderDrive(const std::wstring& root) {
    if (Volumes().getDriveType(root.c_str()) != DRIVE_REMOVABLE) return false;
    wchar_t label[kLabelChars] = {};
    if (!Volumes().getVolumeInformation(root.c_str(), label, kLabelChars, nullptr, nullptr, nullptr, nullptr, 0)) {
        // A card reader without a card, a drive still mounting: not ours, this time.
        TraceSystemError(L"GetVolumeInformationW", root, GetLastError());
        return false;
    }
    return _wcsicmp(label, kBootloaderLabel) == 0;
}

std::vector<std::wstring> ListBootloaderDrives() {
    std::vector<std::wstring> roots;
    std::vector<std::wstring> found;
    if (!ListRoots(roots)) return found;
    for (const std::wstring& root : roots) {
        if (IsBootloaderDrive(root)) found.push_back(root);
    }
    return found;
}

DriveRootSet ListDriveRoots() {
    std::vector<std::wstring> roots;
    if (!ListRoots(roots)) return DriveRootSet();
    return DriveRootSet(roots.begin(), roots.end());
}

bool FindBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root) {
    std::vector<std::wstring> roots;
    if (!ListRoots(roots)) return false;
    for (const std::wstring& candidate : roots) {
        // Only a drive that appeared after the device was told to reboot counts:
        // another board already sitting in its boot loader is not ours.
        if (drivesBefore.count(candidate) != 0) continue;
        if (!IsBootloaderDrive(candidate)) continue;
        root = candidate;
        return true;
    }
    return false;
}

bool WriteUf2ToDrive(const std::wstring& root, const std::wstring& fileName, const std::vector<uint8_t>& image,
                     std::wstring& error, const ProgressCallback& progress, size_t* handedOver) {
    if (handedOver != nullptr) *handedOver = 0;
    const std::wstring path = root + fileName;
    const HANDLE file = Volumes().createFile(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        TraceSystemError(L"CreateFileW", path, GetLastError());
        error = L"创建 UF2 文件失败";
        return false;
    }
    const size_t size = image.size();
    size_t offset = 0;
    while (offset < size) {
        const DWORD piece = static_cast<DWORD>(std::min(size - offset, kWritePiece));
        DWORD written = 0;
        // A write that claims success but took nothing would never finish the
        // copy; the drive is not taking the image, so it counts as a failure.
        if (!Volumes().writeFile(file, image.data() + offset, piece, &written, nullptr) || written == 0 ||
            written > piece) {
            const DWORD code = GetLastError();
            TraceSystemError(L"WriteFile", path + L" (" + std::to_wstring(written) + L" of " + std::to_wstring(piece) +
                                               L" bytes at " + std::to_wstring(offset) + L")",
                             code);
            Volumes().closeHandle(file);
            error = L"写入 UF2 失败";
            return false;
        }
        offset += written;
        if (handedOver != nullptr) *handedOver = offset;
        progress(static_cast<int32_t>(static_cast<uint64_t>(offset) * 100 / size));
    }
    // The boot ROM starts flashing as the blocks arrive; closing the file is all
    // the drive needs, no flush.
    Volumes().closeHandle(file);
    return true;
}
