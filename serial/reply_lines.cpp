#include "serial/reply_lines.h"

#include <algorithm>

#include "base/trace.h"
#include "base/wait.h"
#include "serial/comm_calls.h"
#include "serial/line_buffer.h"

namespace {

constexpr DWORD kChunkSize = 512;
// ReadLinesUntil's pause between two looks at the port.
constexpr DWORD kIdleSleepMs = 18;

// One look at the port: the bytes waiting there when it looks are read, split
// into lines and handed to `onLine`. True when the read is over, with `result`
// saying how; false when there is nothing more to read now (a read that gives
// no byte included).
bool ReadWaitingLines(const SerialLink& link, LineBuffer& received, const LinePredicate& onLine, ReplyPoll& result) {
    DWORD errors = 0;
    COMSTAT status{};
    // Also clears any line error (framing, overrun, parity), which is otherwise ignored.
    if (!Comm().clearCommError(link.Handle(), &errors, &status)) {
        const DWORD code = GetLastError();
        TraceSystemError(L"ClearCommError", link.Name(), code);
        result = ReplyPoll::StatusFailed;
        return true;
    }
    for (DWORD waiting = status.cbInQue; waiting > 0;) {
        char chunk[kChunkSize];
        DWORD got = 0;
        if (!Comm().readFile(link.Handle(), chunk, std::min<DWORD>(waiting, kChunkSize), &got, nullptr)) {
            const DWORD code = GetLastError();
            TraceSystemError(L"ReadFile", link.Name(), code);
            result = ReplyPoll::ReadFailed;
            return true;
        }
        if (got == 0) return false;
        waiting -= std::min(got, waiting);
        received.Append(chunk, got);
        std::string line;
        while (received.TakeLine(line)) {
            if (onLine(line)) {  // the rest of the buffer is dropped
                result = ReplyPoll::Accepted;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

bool ReplyPollSucceeded(ReplyPoll result, const wchar_t* timedOutText, std::wstring& error) {
    switch (result) {
    case ReplyPoll::Accepted: return true;
    case ReplyPoll::NotOpen: error = L"串口未连接"; return false;
    case ReplyPoll::StatusFailed: error = L"串口状态读取失败"; return false;
    case ReplyPoll::ReadFailed: error = L"串口读取失败"; return false;
    case ReplyPoll::TimedOut: break;
    }
    error = timedOutText;
    return false;
}

ReplyPoll PollReplyLines(const SerialLink& link, int timeoutMs, DWORD idleSleepMs, const LinePredicate& onLine) {
    if (link.Handle() == INVALID_HANDLE_VALUE) return ReplyPoll::NotOpen;

    // No purge: lines already waiting in the driver (a late reply, something the
    // device sent by itself) are judged like new ones.
    LineBuffer received;
    ReplyPoll result = ReplyPoll::TimedOut;
    const Deadline deadline = DeadlineAfter(timeoutMs > 0 ? static_cast<uint64_t>(timeoutMs) : 0);
    PollUntil(deadline, idleSleepMs, [&] { return ReadWaitingLines(link, received, onLine, result); });
    return result;
}

bool ReadLinesUntil(const SerialLink& link, int timeoutMs, const LinePredicate& accept, std::wstring& error) {
    return ReplyPollSucceeded(PollReplyLines(link, timeoutMs, kIdleSleepMs, accept), L"等待设备响应超时", error);
}
