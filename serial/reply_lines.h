#pragma once

#include <windows.h>

#include <functional>
#include <string>

#include "serial/serial_link.h"

// Says whether a received line (trimmed, bytes as the device sent them) is the one the caller waits for.
using LinePredicate = std::function<bool(const std::string& line)>;

// The read loop under every exchange with the device: looks at the open port
// at once and then after every pause (base/wait.h), reads the bytes waiting
// there, splits them into trimmed lines and hands each to `onLine`, until it
// returns true or a look ends past the time-out. The clock is looked at only
// between looks, so lines already waiting are always handled first.
enum class ReplyPoll {
    Accepted,
    TimedOut,
    NotOpen,
    StatusFailed,  // the waiting-byte query (ClearCommError) failed
    ReadFailed,    // ReadFile failed
};

// `idleSleepMs`: the pause between two looks (ReadLinesUntil's is 18 ms).
ReplyPoll PollReplyLines(const SerialLink& link, int timeoutMs, DWORD idleSleepMs, const LinePredicate& onLine);

// True for Accepted; otherwise false with the failure's text in `error`, where a
// time-out is worded by the caller ("等待设备响应超时", "读取固件版本超时").
bool ReplyPollSucceeded(ReplyPoll result, const wchar_t* timedOutText, std::wstring& error);

// Reads reply lines until `accept` returns true for one (true) or the time-out
// passes (false, "等待设备响应超时"). Other failures: "串口未连接",
// "串口状态读取失败", "串口读取失败".
bool ReadLinesUntil(const SerialLink& link, int timeoutMs, const LinePredicate& accept, std::wstring& error);
