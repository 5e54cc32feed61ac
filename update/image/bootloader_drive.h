#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "update/download/progress.h"

// Drive roots as the system lists them ("E:\"), compared exactly.
using DriveRootSet = std::set<std::wstring>;

// Every drive root present now; empty when the listing fails or is too long.
DriveRootSet ListDriveRoots();

// A removable drive labelled "RPI-RP2" (any case): the RP2040 boot ROM's drive.
bool IsBootloaderDrive(const std::wstring& root);

// Every such drive present now, in the order the system lists them.
std::vector<std::wstring> ListBootloaderDrives();

// The first removable drive labelled "RPI-RP2" (any case) that is not in `drivesBefore`.
bool FindBootloaderDrive(const DriveRootSet& drivesBefore, std::wstring& root);

// Writes the image as root + fileName, in pieces of at most 64 KiB, reporting
// the percentage to `progress` after each. Errors: "创建 UF2 文件失败",
// "写入 UF2 失败". `handedOver`, when given, says how many bytes of the image
// the system took, also when the copy failed part of the way.
bool WriteUf2ToDrive(const std::wstring& root, const std::wstring& fileName, const std::vector<uint8_t>& image,
                     std::wstring& error, const ProgressCallback& progress, size_t* handedOver = nullptr);
