#include "base/trace.h"

#include <cwchar>

namespace {

constexpr DWORD kFirstWinHttpError = 12000;
constexpr DWORD kLastWinHttpError = 12999;

// An NTSTATUS error (what BCrypt returns) has both top bits set; its text is ntdll's.
bool IsNtStatusError(DWORD code) { return (code & 0xC0000000u) == 0xC0000000u; }

// The system's text for the code, without its line end. WinHTTP's codes are
// described by winhttp.dll, not by the system's message table.
std::wstring SystemText(DWORD code) {
    DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    HMODULE source = nullptr;
    if (code >= kFirstWinHttpError && code <= kLastWinHttpError) {
        source = GetModuleHandleW(L"winhttp.dll");
    } else if (IsNtStatusError(code)) {
        source = GetModuleHandleW(L"ntdll.dll");
    }
    if (source != nullptr) flags |= FORMAT_MESSAGE_FROM_HMODULE;
    wchar_t text[512] = {};
    const DWORD length = FormatMessageW(flags, source, code, 0, text, 512, nullptr);
    std::wstring result(text, length);
    while (!result.empty() && (result.back() == L'\r' || result.back() == L'\n' || result.back() == L' ')) {
        result.pop_back();
    }
    return result;
}

}  // namespace

DebugCalls DebugCalls::System() { return DebugCalls{::OutputDebugStringW}; }

void TraceSystemError(const wchar_t* call, const std::wstring& subject, DWORD code) {
    std::wstring line = L"NORVA1: ";
    line += call;
    if (!subject.empty()) line += L" " + subject;
    if (IsNtStatusError(code)) {
        wchar_t hex[16] = {};
        swprintf(hex, 16, L"0x%08lX", static_cast<unsigned long>(code));
        line += L": error " + std::wstring(hex);
    } else {
        line += L": error " + std::to_wstring(code);
    }
    const std::wstring text = SystemText(code);
    if (!text.empty()) line += L": " + text;
    line += L"\n";
    CallsInUse<DebugCalls>().outputDebugString(line.c_str());
}

void TraceLastError(const wchar_t* call, const std::wstring& subject) {
    TraceSystemError(call, subject, GetLastError());
}
