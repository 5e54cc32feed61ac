#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "serial/port_list.h"
#include "tests/support/sim_client.h"

// Which COM ports are listed.
// COM3 and COM12 are asked for by number, so these tests run serially (RUN_SERIAL):
// no other test may plug a device meanwhile.

namespace {

bool Contains(const std::vector<std::wstring>& list, const std::wstring& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

size_t IndexOf(const std::vector<std::wstring>& list, const std::wstring& name) {
    return static_cast<size_t>(std::find(list.begin(), list.end(), name) - list.begin());
}

int PortNumber(const std::wstring& name) { return std::stoi(name.substr(3)); }

// Runs the harness's helper that defines and removes DOS device names in this prefix.
bool Wineplug(const std::wstring& arguments) {
    const char* build = std::getenv("NORVA_BUILD_DIR");
    if (build == nullptr) return false;
    std::wstring path = L"Z:";
    for (const char* c = build; *c; ++c) path += *c == '/' ? L'\\' : static_cast<wchar_t>(*c);
    std::wstring command = L"\"" + path + L"\\tools\\wineplug.exe\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return false;
    }
    WaitForSingleObject(process.hProcess, 30000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code == 0;
}

}  // namespace

TEST(EnumerateComPorts, ListsPluggedPortsInNumericOrder) {
    SimDevice twelve("com=12");
    SimDevice three("com=3");
    ASSERT_TRUE(twelve.plugged() && three.plugged());
    const std::vector<std::wstring> ports = EnumerateComPorts();
    ASSERT_TRUE(Contains(ports, L"COM3"));
    ASSERT_TRUE(Contains(ports, L"COM12"));
    EXPECT_LT(IndexOf(ports, L"COM3"), IndexOf(ports, L"COM12"));  // COM3 before COM12, not as text
    for (size_t i = 1; i < ports.size(); ++i) EXPECT_LT(PortNumber(ports[i - 1]), PortNumber(ports[i]));

    twelve.Unplug();
    EXPECT_FALSE(Contains(EnumerateComPorts(), L"COM12"));
}

TEST(EnumerateComPorts, StopsAtCom256) {
    ASSERT_TRUE(Wineplug(L"define COM256 Z:\\dev\\null"));
    ASSERT_TRUE(Wineplug(L"define COM257 Z:\\dev\\null"));
    wchar_t target[1024];
    EXPECT_NE(QueryDosDeviceW(L"COM257", target, 1024), 0u) << "the name exists for the system";
    const std::vector<std::wstring> ports = EnumerateComPorts();
    Wineplug(L"remove COM257");
    Wineplug(L"remove COM256");
    EXPECT_TRUE(Contains(ports, L"COM256"));
    EXPECT_FALSE(Contains(ports, L"COM257"));
}
