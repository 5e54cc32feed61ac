#include "serial/reply_lines.h"

#include <algorithm>

#include "base/trace.h"
#include "serial/comm_calls.h"
#include "serial/line_buffer.h"

namespace {
constexpr DWORD kChunkSize = 512;
constexpr DWORD kEmptyReadSleepMs = 10;
// ReadLinesUntil's pause when no byte is waiting.
constexpr DWORD kIdleSleepMs = 18;
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
    const HANDLE port = link.Handle();
    if (port == INVALID_HANDLE_VALUE) return ReplyPoll::NotOpen;

    // No purge: lines already waiting in the driver (a late reply, something the
    // device sent by itself) are judged like new ones.
    LineBuffer received;
    const ULONGLONG start = GetTickCount64();
    const ULONGLONG limit = timeoutMs > 0 ? static_cast<ULONGLONG>(timeoutMs) : 0;
    while (GetTickCount64() - start < limit) {
        DWORD errors = 0;
        COMSTAT status{};
        // Also clears any line error (framing, overrun, parity), which is otherwise ignored.
        if (!Comm().clearCommError(port, &errors, &status)) {
            const DWORD code = GetLastError();
            TraceSystemError(L"ClearCommError", link.Name(), code);
            return ReplyPoll::StatusFailed;
        }
        if (status.cbInQue == 0) {
            Sleep(idleSleepMs);
            continue;
        }
        char chunk[kChunkSize];
        DWORD got = 0;
        const DWORD want = std::min<DWORD>(status.cbInQue, kChunkSize);
        if (!Comm().readFile(port, chunk, want, &got, nullptr)) {
            const DWORD code = GetLastError();
            TraceSystemError(L"ReadFile", link.Name(), code);
            return ReplyPoll::ReadFailed;
        }
        if (got == 0) {
            Sleep(kEmptyReadSleepMs);
            continue;
        }
        received.Append(chunk, got);
        std::string line;
        while (received.TakeLine(line)) {
            if (onLine(line)) return ReplyPoll::Accepted;  // the rest of the buffer is dropped
        }
    }
    return ReplyPoll::TimedOut;
}

bool ReadLinesUntil(const SerialLink& link, int timeoutMs, const LinePredicate& accept, std::wstring& error) {
    return ReplyPollSucceeded(PollReplyLines(link, timeoutMs, kIdleSleepMs, accept), L"等待设备响应超时", error);
}
