#pragma once

#include <string>

// Digit tests and case folding of the "C" locale, by hand: only 0-9 are digits
// and only A-Z fold, whatever locale the process runs in, and no byte of a
// UTF-8 sequence ever reaches a <cctype> function as a negative char.

inline bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

inline std::string AsciiLower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}
