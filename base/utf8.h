#pragma once

#include <string>

// UTF-8 bytes from the device or the network to the wide text the window shows.
// Converted with the UTF-8 code page (flags 0); an empty input, or one the
// system cannot convert, gives an empty string.
std::wstring Utf8ToWide(const std::string& text);
