#include "tests/support/device_helpers.h"

#include "device/device_state.h"

testing::AssertionResult OpenDevice(SimDevice& device) {
    if (!device.plugged()) return testing::AssertionFailure() << "the simulated device is not plugged";
    std::wstring error;
    if (!OpenDevicePort(device.port(), error)) {
        return testing::AssertionFailure() << "cannot open " << device.name() << ": " << std::string(error.begin(), error.end());
    }
    return testing::AssertionSuccess();
}

bool WaitUntilReceived(SimDevice& device, const std::string& text, DWORD timeoutMs) {
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (device.Received().find(text) != std::string::npos) return true;
        if (GetTickCount64() - start >= timeoutMs) return false;
        Sleep(5);  // polling the simulator for a condition
    }
}

bool AnswerWhenReceived(SimDevice& device, const std::string& command, const std::string& reply,
                        DWORD timeoutMs) {
    if (!WaitUntilReceived(device, command, timeoutMs)) return false;
    device.Send(reply);
    return true;
}

Responder::Responder(SimDevice& device, std::string command, std::string reply, DWORD timeoutMs)
    : thread_([this, &device, command, reply, timeoutMs] {
          answered_ = AnswerWhenReceived(device, command, reply, timeoutMs);
      }) {}

Responder::~Responder() {
    if (thread_.joinable()) thread_.join();
}

bool Responder::answered() {
    if (thread_.joinable()) thread_.join();
    return answered_;
}
