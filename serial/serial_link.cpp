#include "serial/serial_link.h"

#include <windows.h>

#include "base/trace.h"
#include "serial/comm_calls.h"

namespace {

constexpr DWORD kQueueSize = 4096;
constexpr DWORD kBaudRate = 115200;

bool ConfigurePort(HANDLE port, const std::wstring& name, std::wstring& error) {
    Comm().setupComm(port, kQueueSize, kQueueSize);

    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!Comm().getCommState(port, &dcb)) {
        TraceSystemError(L"GetCommState", name, GetLastError());
        error = L"读取串口参数失败";
        return false;
    }
    // A port keeps the settings the last program left on it, so every one that
    // could change the bytes or stall a write is set here, not only the speed
    // and framing: no hardware or XON/XOFF flow control, no dropping of bytes
    // while DSR is low, no replacing of bad bytes, no discarding of NULs, and no
    // aborting of reads and writes after a line error.
    dcb.BaudRate = kBaudRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 0;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDsrSensitivity = 0;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;
    dcb.fAbortOnError = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;  // many USB CDC devices stay silent until the host raises DTR
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (!Comm().setCommState(port, &dcb)) {
        TraceSystemError(L"SetCommState", name, GetLastError());
        error = L"设置串口参数失败";
        return false;
    }

    // Reads return what has arrived after 20 ms of quiet; a write may take up to
    // 800 ms before it gives up with a short count.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 20;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 20;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 800;
    Comm().setCommTimeouts(port, &timeouts);
    Comm().purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
    return true;
}

}  // namespace

bool SerialLink::IsOpen() const { return Handle() != INVALID_HANDLE_VALUE; }

HANDLE SerialLink::Handle() const {
    std::lock_guard<std::mutex> guard(lock_);
    return handle_;
}

std::wstring SerialLink::Name() const {
    std::lock_guard<std::mutex> guard(lock_);
    return name_;
}

bool SerialLink::IsOpenAs(std::wstring& name) const {
    std::lock_guard<std::mutex> guard(lock_);
    name = name_;
    return handle_ != INVALID_HANDLE_VALUE;
}

void SerialLink::Attach(HANDLE handle, const std::wstring& name) {
    std::lock_guard<std::mutex> guard(lock_);
    handle_ = handle;
    name_ = name;
}

HANDLE SerialLink::Detach() {
    std::lock_guard<std::mutex> guard(lock_);
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    name_.clear();
    return handle;
}

bool OpenSerialPort(SerialLink& link, const std::wstring& name, std::wstring& error) {
    // A failed attempt must leave no port open, even the one that was.
    CloseSerialPort(link);

    // "\\.\" lets COM10 and above open: without it only COM1..COM9 are known names.
    const std::wstring path = L"\\\\.\\" + name;
    const HANDLE port = Comm().createFile(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        TraceSystemError(L"CreateFileW", path, code);
        // A port opens for one program at a time: a terminal or another tool
        // holding it is the commonest reason a present port will not open.
        const bool heldElsewhere = code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION;
        error = heldElsewhere ? L"打开串口失败（串口被其他程序占用）" : L"打开串口失败";
        return false;
    }
    if (!ConfigurePort(port, name, error)) {
        Comm().closeHandle(port);
        return false;
    }
    link.Attach(port, name);
    return true;
}

void CloseSerialPort(SerialLink& link) {
    const HANDLE port = link.Detach();
    if (port != INVALID_HANDLE_VALUE) Comm().closeHandle(port);
}

bool WriteCommandLine(const SerialLink& link, const std::string& command) {
    const HANDLE port = link.Handle();
    if (port == INVALID_HANDLE_VALUE) return false;
    const std::string bytes = command + '\n';
    DWORD written = 0;
    if (!Comm().writeFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
        const DWORD code = GetLastError();
        TraceSystemError(L"WriteFile", link.Name(), code);
        return false;
    }
    // The 800 ms write time-out ends a write to a device that stopped reading
    // with a short count: that is a failure too.
    if (written != bytes.size()) {
        TraceSystemError(L"WriteFile", link.Name() + L" (wrote " + std::to_wstring(written) + L" of " +
                                           std::to_wstring(bytes.size()) + L" bytes)",
                         ERROR_TIMEOUT);
        return false;
    }
    return true;
}

bool IsPortAlive(const SerialLink& link) {
    const HANDLE port = link.Handle();
    if (port == INVALID_HANDLE_VALUE) return false;
    DWORD errors = 0;
    COMSTAT status{};
    if (Comm().clearCommError(port, &errors, &status)) return true;
    TraceSystemError(L"ClearCommError", link.Name(), GetLastError());
    return false;
}

void PurgeSerialPort(const SerialLink& link) {
    const HANDLE port = link.Handle();
    if (port != INVALID_HANDLE_VALUE) Comm().purgeComm(port, PURGE_TXCLEAR | PURGE_RXCLEAR);
}
