#pragma once

#include <windows.h>

#include <mutex>
#include <string>

// The serial port the program talks through, as a link record that these
// functions open, close, write and watch. Reading its replies is the read
// loop's business (serial/reply_lines.h), what they mean the device's.

// One serial port: its handle and the name it was opened under. The port
// functions below are its only writers. It keeps its own small lock because
// the window reads it (connected? which port?) while a task closes and reopens
// the port on its worker thread.
class SerialLink {
public:
    SerialLink() = default;
    SerialLink(const SerialLink&) = delete;
    SerialLink& operator=(const SerialLink&) = delete;

    // The one test for "is a port open".
    bool IsOpen() const;
    // INVALID_HANDLE_VALUE when no port is open.
    HANDLE Handle() const;
    // Empty when no port is open.
    std::wstring Name() const;
    // Whether a port is open and its name, read together.
    bool IsOpenAs(std::wstring& name) const;

    // Takes a newly opened handle and its name.
    void Attach(HANDLE handle, const std::wstring& name);
    // Gives up the handle (INVALID_HANDLE_VALUE when none was open) and forgets the name.
    HANDLE Detach();

private:
    mutable std::mutex lock_;
    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::wstring name_;
};

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

// Whether the open port's handle still reaches a device. Once the device has
// gone (unplugged, or dropped off the bus to re-enumerate) every call on the
// old handle fails for good, even when a port of the same name comes back.
bool IsPortAlive(const SerialLink& link);

// Discards whatever waits in the driver, in both directions.
void PurgeSerialPort(const SerialLink& link);
