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
