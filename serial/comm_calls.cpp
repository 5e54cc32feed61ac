#include "serial/comm_calls.h"

CommCalls SystemCommCalls() {
    return CommCalls{::CreateFileW,     ::SetupComm, ::GetCommState,   ::SetCommState,
                     ::SetCommTimeouts, ::PurgeComm, ::ClearCommError, ::ReadFile,
                     ::WriteFile,       ::CloseHandle};
}

CommCalls& Comm() {
    static CommCalls calls = SystemCommCalls();
    return calls;
}
