#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

// Drive roots as the system lists them ("E:\"), compared exactly.
using DriveRootSet = std::set<std::wstring>;

// Every drive root present now; empty when the listing fails or is too long.
DriveRootSet ListDriveRoots();

// The first removable drive labelled "RPI-RP2" (any case) that is not in `drivesBefore`.
bool FindBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root);

// Writes the image as root + fileName, in pieces of at most 64 KiB, posting
// progress. Errors: "创建 UF2 文件失败", "写入 UF2 失败".
bool WriteUf2ToDrive(const std::wstring& root, const std::wstring& fileName,
                     const std::vector<uint8_t>& image, std::wstring& error);
