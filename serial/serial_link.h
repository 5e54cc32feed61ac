#pragma once

#include <functional>
#include <string>

#include "app/app_state.h"

// The serial port the program talks through, as a link record (app/app_state.h)
// that these functions open, close and use. They read lines and know nothing of
// what the lines mean: the device's records are the device layer's business.

// Says whether a received line (trimmed, bytes as the device sent them) is the one the caller waits for.
using LinePredicate = std::function<bool(const std::string& line)>;

// Closes any port open on the link, then opens and configures the named one
// ("COM3"): 115200 8N1, DTR and RTS raised, 4096-byte queues, 20 ms read
// time-outs, 800 ms write time-out. On failure the link is left closed and
// `error` holds "打开串口失败（串口被其他程序占用）" (another program holds the
// port), "打开串口失败", "读取串口参数失败" or "设置串口参数失败".
bool OpenSerialPort(SerialLink& link, const std::wstring& name, std::wstring& error);

// Closes the link's port, if any, and forgets its name.
void CloseSerialPort(SerialLink& link);

// Sends the command and one line feed in a single write. False when no port is
// open, the write fails or writes fewer bytes than asked.
bool WriteCommandLine(const SerialLink& link, const std::string& command);

// Reads reply lines until `accept` returns true for one (true) or the time-out
// passes (false, "等待设备响应超时"). Other failures: "串口未连接",
// "串口状态读取失败", "串口读取失败".
bool ReadLinesUntil(const SerialLink& link, int timeoutMs, const LinePredicate& accept, std::wstring& error);

// Discards whatever waits in the driver, in both directions.
void PurgeSerialPort(const SerialLink& link);
