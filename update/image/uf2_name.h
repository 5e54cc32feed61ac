#pragma once

#include <string>

// The file name the image gets on the boot-loader drive: the text after the last
// '/' or '\' of the URL without its query or fragment, every character a FAT
// long name cannot hold made '_'; "norva-firmware.uf2" when that name lacks
// ".uf2", names a device (CON, COM1, ...) or is too long for the drive.
std::wstring Uf2FileNameFromUrl(const std::wstring& url);

// The same for the UTF-8 download URL as stored (Windows only: decodes with Utf8ToWide).
std::wstring BuildUf2FileName(const std::string& downloadUrl);
