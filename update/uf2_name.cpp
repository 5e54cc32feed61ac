#include "update/uf2_name.h"

#include <cstddef>

std::wstring Uf2FileNameFromUrl(const std::wstring& url) {
    // Whatever follows the last separator is taken whole, query string included:
    // the boot ROM's drive takes any name, and the server's own name is the one
    // the user recognises.
    const size_t slash = url.find_last_of(L"/\\");
    const std::wstring last = slash == std::wstring::npos ? url : url.substr(slash + 1);
    if (last.size() >= 4 && last.find(L".uf2") != std::wstring::npos) return last;
    return L"norva-firmware.uf2";
}
