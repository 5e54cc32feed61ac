#include "update/download/winhttp_calls.h"

WinHttpCalls WinHttpCalls::System() {
    return WinHttpCalls{::WinHttpCrackUrl,        ::WinHttpOpen,
                        ::WinHttpSetTimeouts,     ::WinHttpSetOption,
                        ::WinHttpConnect,         ::WinHttpOpenRequest,
                        ::WinHttpSendRequest,     ::WinHttpReceiveResponse,
                        ::WinHttpQueryHeaders,    ::WinHttpQueryDataAvailable,
                        ::WinHttpReadData,        ::WinHttpCloseHandle};
}
