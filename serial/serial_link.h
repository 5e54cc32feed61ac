#pragma once

#include <functional>
#include <string>

// The one serial port the program talks through. The open port lives in
// AppState (portHandle, portName); there is no link object.

// Says whether a received line (trimmed, bytes as the device sent them) is the one the caller waits for.
using LinePredicate = std::function<bool(const std::string& line)>;

// Closes any open port (resetting the device status), then opens and configures
// the named one ("COM3"): 115200 8N1, DTR and RTS raised, 4096-byte queues,
// 20 ms read time-outs, 800 ms write time-out. On failure the program is left
// disconnected and `error` holds "打开串口失败", "读取串口参数失败" or "设置串口参数失败".
bool OpenSerialPort(const std::wstring& name, std::wstring& error);

// Closes the open port, if any; empties portName and resets the device status.
// The version strings, busy and progress stay as they are.
void CloseSerialPort();

// Sends the command and one line feed in a single write. False when no port is
// open, the write fails or writes fewer bytes than asked.
bool WriteCommandLine(const std::string& command);

// Reads reply lines until `accept` returns true for one (true) or the time-out
// passes (false, "等待设备响应超时"). Every line passes the telemetry and HID
// record parsers first. Other failures: "串口未连接", "串口状态读取失败", "串口读取失败".
bool ReadLinesUntil(int timeoutMs, const LinePredicate& accept, std::wstring& error);
