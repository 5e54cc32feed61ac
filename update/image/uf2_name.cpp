#include "update/image/uf2_name.h"

#include <cstddef>
#include <cwchar>

namespace {

const wchar_t kFallbackName[] = L"norva-firmware.uf2";
// The longest name a FAT long file name entry holds, in UTF-16 units.
constexpr size_t kLongestName = 255;

// Characters a FAT long name cannot hold: the control characters and these.
bool FitsALongName(wchar_t c) { return c >= 0x20 && std::wcschr(L"<>:\"/\\|?*", c) == nullptr; }

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// CON, PRN, AUX, NUL, COM1-COM9 and LPT1-LPT9 name devices, with any
// extension: "con.uf2" opens the console, not a file.
bool IsReservedDeviceName(const std::wstring& name) {
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = AsciiUpper(c);
    if (base == L"CON" || base == L"PRN" || base == L"AUX" || base == L"NUL") return true;
    return base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
           base[3] >= L'1' && base[3] <= L'9';
}

}  // namespace

std::wstring Uf2FileNameFromUrl(const std::wstring& url) {
    // A query or fragment is no part of the file's name; signed and CDN links
    // carry one, and its '?', '&' or ':' would make a name Windows refuses.
    const std::wstring path = url.substr(0, url.find_first_of(L"?#"));
    // Whatever follows the last separator is the name the server gave the file,
    // the one the user recognises.
    const size_t slash = path.find_last_of(L"/\\");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    for (wchar_t& c : name) {
        if (!FitsALongName(c)) c = L'_';
    }
    if (name.size() < 4 || name.size() > kLongestName || name.find(L".uf2") == std::wstring::npos ||
        IsReservedDeviceName(name)) {
        return kFallbackName;
    }
    return name;
}
