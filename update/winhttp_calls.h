#pragma once

#include <windows.h>
#include <winhttp.h>

// The WinHTTP calls whose failure no real server can bring about: a session the
// system refuses, a connection or request handle it cannot create, a read of
// data the library already said was there. The program uses the system's own;
// a test swaps one entry and puts the system's call back afterwards.
struct WinHttpCalls {
    decltype(&::WinHttpOpen) open;
    decltype(&::WinHttpConnect) connect;
    decltype(&::WinHttpOpenRequest) openRequest;
    decltype(&::WinHttpReadData) readData;
};

// The system's calls.
WinHttpCalls SystemWinHttpCalls();

// The calls in use.
WinHttpCalls& WinHttp();
