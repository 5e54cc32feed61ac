#pragma once

#include <windows.h>
#include <winhttp.h>

#include "base/system_calls.h"

// Every WinHTTP call the download makes (base/system_calls.h). The local
// update server plays most network faults for real; a test swaps a call here
// for what no server can bring about: a session the system refuses, a
// connection or request handle it cannot create, a read of data the library
// said was there. The clock the download judges its pace by is the program's
// (base/clock_calls.h).
struct WinHttpCalls {
    decltype(&::WinHttpCrackUrl) crackUrl;
    decltype(&::WinHttpOpen) open;
    decltype(&::WinHttpSetTimeouts) setTimeouts;
    decltype(&::WinHttpSetOption) setOption;
    decltype(&::WinHttpConnect) connect;
    decltype(&::WinHttpOpenRequest) openRequest;
    decltype(&::WinHttpSendRequest) sendRequest;
    decltype(&::WinHttpReceiveResponse) receiveResponse;
    decltype(&::WinHttpQueryHeaders) queryHeaders;
    decltype(&::WinHttpQueryDataAvailable) queryDataAvailable;
    decltype(&::WinHttpReadData) readData;
    decltype(&::WinHttpCloseHandle) closeHandle;

    static WinHttpCalls System();
};

inline WinHttpCalls& WinHttp() { return CallsInUse<WinHttpCalls>(); }
