#include "update/winhttp_calls.h"

WinHttpCalls SystemWinHttpCalls() {
    return WinHttpCalls{::WinHttpOpen, ::WinHttpConnect, ::WinHttpOpenRequest, ::WinHttpReadData};
}

WinHttpCalls& WinHttp() {
    static WinHttpCalls calls = SystemWinHttpCalls();
    return calls;
}
