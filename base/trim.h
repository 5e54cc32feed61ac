#pragma once

#include <string>

// Removes every leading and trailing byte whose unsigned value is 0x20 or less
// (blanks and all control bytes). Bytes 0x80 and above, such as UTF-8, stay.
std::string TrimBytes(const std::string& text);
