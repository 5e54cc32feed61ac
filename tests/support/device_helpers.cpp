#include "tests/support/device_helpers.h"

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

Responder::~Responder() { thread_.join(); }
