#include "serial/comm_calls.h"

CommCalls CommCalls::System() {
    return CommCalls{::CreateFileW,     ::SetupComm, ::GetCommState,   ::SetCommState,
                     ::SetCommTimeouts, ::PurgeComm, ::ClearCommError, ::ReadFile,
                     ::WriteFile,       ::CloseHandle};
}
