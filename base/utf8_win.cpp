#include "base/utf8.h"

#include <windows.h>

#include <climits>

std::wstring Utf8ToWide(const std::string& text) {
    if (text.empty() || text.size() > static_cast<size_t>(INT_MAX)) return std::wstring();
    const int inLength = static_cast<int>(text.size());
    const int outLength = MultiByteToWideChar(CP_UTF8, 0, text.data(), inLength, nullptr, 0);
    if (outLength <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(outLength), L'\0');
    if (MultiByteToWideChar(CP_UTF8, 0, text.data(), inLength, &wide[0], outLength) != outLength) {
        return std::wstring();
    }
    return wide;
}
