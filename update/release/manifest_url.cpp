#include "update/release/manifest_url.h"

namespace {

bool StartsWithIgnoringCase(const std::wstring& text, const wchar_t* prefix) {
    size_t i = 0;
    for (; prefix[i] != L'\0'; ++i) {
        if (i >= text.size()) return false;
        wchar_t c = text[i];
        if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
        if (c != prefix[i]) return false;
    }
    return true;
}

}  // namespace

std::wstring ManifestUrlFor(const std::wstring& updateHost) {
    std::wstring base = updateHost;
    // A bare host (or host:port) is asked over http, as it always was; a vendor
    // names https (recommended) or http with the scheme.
    if (!StartsWithIgnoringCase(base, L"http://") && !StartsWithIgnoringCase(base, L"https://")) {
        base = L"http://" + base;
    }
    while (!base.empty() && base.back() == L'/') base.pop_back();
    return base + L"/com.ini";
}
