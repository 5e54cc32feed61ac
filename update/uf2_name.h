#pragma once

#include <string>

// The file name the image gets on the boot-loader drive: the text after the last
// '/' or '\' of the URL when it contains ".uf2", else "norva-firmware.uf2".
std::wstring Uf2FileNameFromUrl(const std::wstring& url);

// The same for the UTF-8 download URL as stored (Windows only: decodes with Utf8ToWide).
std::wstring BuildUf2FileName(const std::string& downloadUrl);
