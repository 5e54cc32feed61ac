#include "device/queries.h"

#include "base/wait.h"
#include "device/device_state.h"
#include "device/waits.h"
#include "serial/reply_lines.h"
#include "serial/serial_link.h"

bool RequestTelemetrySnapshot(std::wstring& error) {
    const SerialLink& link = DeviceLink();
    if (!link.IsOpen()) {
        error = L"串口未连接";
        return false;
    }
    if (!WriteCommandLine(link, "telemetry.once")) {
        error = L"发送 telemetry.once 失败";
        return false;
    }
    // No purge first: a telemetry line already waiting (a late answer, or one the
    // device sent by itself) is as good as the answer to this request. The read
    // ends well only on a telemetry line, which has been applied by then.
    return ReadLinesUntil(link, kSnapshotTimeoutMs,
                          ApplyingRecords(AppliedRecords::TelemetryAndHid,
                                          [](const std::string&, const ReplyRecord& record) { return record.telemetry; }),
                          error);
}

bool ReadFirmwareVersion(std::string& version, std::wstring& error) {
    const SerialLink& link = DeviceLink();
    if (!link.IsOpen()) {
        error = L"串口未连接";
        return false;
    }
    // Only what the device says in this exchange counts, so drop what is waiting.
    PurgeSerialPort(link);
    if (!WriteCommandLine(link, "box.info")) {
        error = L"发送 box.info 失败";
        return false;
    }
    Pause(kBoxInfoPauseMs);
    if (!WriteCommandLine(link, "telemetry.once")) {
        error = L"发送 telemetry.once 失败";
        return false;
    }

    // The reply to box.info comes first and is read past. The version is the one
    // a telemetry record of this exchange carries, as its record parser read it:
    // after a firmware update the stored version is the old one and must not
    // answer for the device.
    std::string found;
    const ReplyPoll result =
        PollReplyLines(link, kVersionTimeoutMs, kVersionPollMs,
                       ApplyingRecords(AppliedRecords::Telemetry, [&](const std::string&, const ReplyRecord& record) {
                           if (record.firmwareVersion.empty()) return false;
                           found = record.firmwareVersion;
                           return true;
                       }));
    if (!ReplyPollSucceeded(result, L"读取固件版本超时", error)) return false;
    version = found;
    return true;
}
