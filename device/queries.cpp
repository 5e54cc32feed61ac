#include "device/queries.h"

#include <windows.h>

#include "app/app_state.h"
#include "device/records.h"
#include "serial/comm_calls.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"

namespace {
constexpr int kSnapshotTimeoutMs = 3500;
constexpr DWORD kBoxInfoPauseMs = 260;
constexpr int kVersionTimeoutMs = 5000;
constexpr DWORD kVersionIdleSleepMs = 20;

bool IsTelemetryLine(const std::string& line) {
    return line.size() >= 4 && line.compare(0, 4, "TEL|") == 0;
}
}  // namespace

bool RequestTelemetrySnapshot(std::wstring& error) {
    if (OpenPortHandle() == INVALID_HANDLE_VALUE) {
        error = L"串口未连接";
        return false;
    }
    if (!WriteCommandLine("telemetry.once")) {
        error = L"发送 telemetry.once 失败";
        return false;
    }
    // No purge first: a telemetry line already waiting (a late answer, or one the
    // device sent by itself) is as good as the answer to this request.
    bool gotRecord = false;
    const bool read = ReadLinesUntil(kSnapshotTimeoutMs, [&](const std::string& line) {
        if (!IsTelemetryLine(line)) return false;
        gotRecord = true;
        return true;
    }, error);
    return read && gotRecord;
}

bool ReadFirmwareVersion(std::string& version, std::wstring& error) {
    const HANDLE port = OpenPortHandle();
    if (port == INVALID_HANDLE_VALUE) {
        error = L"串口未连接";
        return false;
    }
    // Only what the device says in this exchange counts, so drop what is waiting.
    Comm().purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    if (!WriteCommandLine("box.info")) {
        error = L"发送 box.info 失败";
        return false;
    }
    Sleep(kBoxInfoPauseMs);
    if (!WriteCommandLine("telemetry.once")) {
        error = L"发送 telemetry.once 失败";
        return false;
    }

    // The reply to box.info comes first and is read past. The version is the one
    // a telemetry record of this exchange carries: after a firmware update the
    // stored version is the old one and must not answer for the device.
    std::string found;
    const ReplyPoll result = PollReplyLines(kVersionTimeoutMs, kVersionIdleSleepMs, [&](const std::string& line) {
        {
            SharedGuard guard(g_app.sharedLock);
            ParseTelemetryRecord(line, g_app);
        }
        return ExtractFwField(line, found) || TelemetryFirmwareVersion(line, found);
    });
    if (!ReplyPollSucceeded(result, L"读取固件版本超时", error)) return false;
    version = found;
    return true;
}
