#include "tests/tools/raw_win32.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <vector>

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    ULONGLONG start = GetTickCount64();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(20);
    }
}

bool IsPortListed(const std::wstring& name) {
    std::vector<wchar_t> names(65536);
    DWORD length = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
    for (const wchar_t* p = names.data(); length != 0 && *p != L'\0'; p += wcslen(p) + 1) {
        if (name == p) return true;
    }
    return false;
}

HANDLE OpenRawPort(const std::wstring& name) {
    HANDLE port = CreateFileW((L"\\\\.\\" + name).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) return port;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(port, &dcb);
    dcb.BaudRate = CBR_115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    EXPECT_TRUE(SetCommState(port, &dcb));
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutConstant = 20;
    timeouts.WriteTotalTimeoutConstant = 800;
    SetCommTimeouts(port, &timeouts);
    PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return port;
}

bool WriteAll(HANDLE port, const std::string& bytes) {
    DWORD written = 0;
    return WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
}

std::string ReadBytes(HANDLE port, size_t count, DWORD timeoutMs) {
    std::string received;
    WaitUntil(
        [&] {
            char chunk[512];
            DWORD got = 0;
            if (!ReadFile(port, chunk, sizeof chunk, &got, nullptr)) return true;
            received.append(chunk, got);
            return count == 0 ? received.find('\n') != std::string::npos : received.size() >= count;
        },
        timeoutMs);
    return received;
}

std::string Ask(HANDLE port, const std::string& command) {
    if (!WriteAll(port, command + "\n")) return "(write failed)";
    return ReadBytes(port, 0, 2000);
}

std::set<std::wstring> DriveRoots() {
    wchar_t buffer[1024] = {};
    DWORD length = GetLogicalDriveStringsW(1024, buffer);
    std::set<std::wstring> roots;
    for (const wchar_t* p = buffer; length != 0 && length <= 1024 && *p != L'\0'; p += wcslen(p) + 1) {
        roots.insert(p);
    }
    return roots;
}

std::wstring VolumeLabel(const std::wstring& root) {
    wchar_t label[260] = {};
    if (!GetVolumeInformationW(root.c_str(), label, 260, nullptr, nullptr, nullptr, nullptr, 0)) {
        return L"(no volume information)";
    }
    return label;
}

bool WriteFileAt(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    for (size_t offset = 0; ok && offset < bytes.size(); offset += 65536) {
        size_t piece = std::min<size_t>(65536, bytes.size() - offset);
        DWORD written = 0;
        ok = WriteFile(file, bytes.data() + offset, static_cast<DWORD>(piece), &written, nullptr) &&
             written == piece;
    }
    CloseHandle(file);
    return ok;
}

std::wstring RootOf(wchar_t letter) { return std::wstring(1, letter) + L":\\"; }

