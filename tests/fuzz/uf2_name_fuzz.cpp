#include <cstddef>
#include <cstdint>
#include <cwchar>
#include <cwctype>
#include <string>

#include "fuzz_require.h"
#include "update/image/uf2_name.h"

// Whatever URL the manifest names, the file gets a name a FAT drive under
// Windows takes, and a name that is already such a name stays as it is.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::wstring url;
    for (size_t i = 0; i + 1 < size; i += 2) url += static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    const std::wstring name = Uf2FileNameFromUrl(url);
    Require(name.size() >= 4 && name.size() <= 255, "a name of 4 to 255 characters");
    Require(name.find(L".uf2") != std::wstring::npos, "a UF2 file");
    for (wchar_t c : name) Require(c >= 0x20 && std::wcschr(L"<>:\"/\\|?*", c) == nullptr, "only what a long name holds");
    std::wstring base = name.substr(0, name.find(L'.'));
    while (!base.empty() && base.back() == L' ') base.pop_back();
    for (wchar_t& c : base) c = static_cast<wchar_t>(std::towupper(c));
    Require(base != L"CON" && base != L"PRN" && base != L"AUX" && base != L"NUL", "no device name");
    Require(!(base.size() == 4 && (base.compare(0, 3, L"COM") == 0 || base.compare(0, 3, L"LPT") == 0) &&
              base[3] >= L'1' && base[3] <= L'9'),
            "no port name");
    Require(Uf2FileNameFromUrl(name) == name, "a good name stays as it is");
    return 0;
}
