#include "serial/port_list.h"

#include <windows.h>

#include <cwchar>

PortNames EnumerateComPorts() {
    PortNames ports;
    wchar_t target[1024];
    for (int n = 1; n <= 256; ++n) {
        wchar_t name[16];
        swprintf(name, 16, L"COM%d", n);
        // Only whether the name resolves matters; the mapping's text is not used.
        if (QueryDosDeviceW(name, target, 1024) != 0) ports.emplace_back(name);
    }
    return ports;
}

bool IsPortListed(const PortNames& ports, const std::wstring& name) {
    for (const std::wstring& port : ports) {
        if (_wcsicmp(port.c_str(), name.c_str()) == 0) return true;
    }
    return false;
}

void FillPortCombo(HWND combo, const PortNames& ports) {
    wchar_t chosen[64] = {};
    const LRESULT selection = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (selection >= 0) {
        const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(selection), 0);
        if (length >= 0 && length < 64) {
            SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(selection), reinterpret_cast<LPARAM>(chosen));
        }
    }

    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    LRESULT keep = -1;
    for (size_t i = 0; i < ports.size(); ++i) {
        SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(ports[i].c_str()));
        if (keep < 0 && chosen[0] != L'\0' && _wcsicmp(chosen, ports[i].c_str()) == 0) {
            keep = static_cast<LRESULT>(i);
        }
    }
    if (keep < 0 && !ports.empty()) keep = 0;
    if (keep >= 0) SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(keep), 0);
}
