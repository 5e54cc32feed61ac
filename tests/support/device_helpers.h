#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "serial/comm_calls.h"
#include "tests/support/calls_override.h"
#include "tests/support/sim_client.h"

// Opens the simulated device's port as the device's link, as a connect does.
testing::AssertionResult OpenDevice(SimDevice& device);

// Waits until the simulated device has received `text` (anywhere in what it
// received since it was plugged or last cleared).
bool WaitUntilReceived(SimDevice& device, const std::string& text, DWORD timeoutMs = 5000);

// Plays the device by hand: waits for the command, then sends the reply bytes.
// For a device plugged with mute=1.
bool AnswerWhenReceived(SimDevice& device, const std::string& command, const std::string& reply,
                        DWORD timeoutMs = 5000);

// Answers one command by hand on a thread of its own, while the test's thread
// is blocked in the call under test. Joined when it goes out of scope.
class Responder {
public:
    Responder(SimDevice& device, std::string command, std::string reply, DWORD timeoutMs = 8000);
    ~Responder();
    Responder(const Responder&) = delete;
    Responder& operator=(const Responder&) = delete;
    // Waits for the responder to finish, then says whether it saw the command and
    // sent its reply (the reply can reach the program before Send returns here).
    bool answered();

private:
    std::atomic<bool> answered_{false};
    std::thread thread_;
};

// Milliseconds since `start` (a GetTickCount64 reading).
inline ULONGLONG ElapsedMs(ULONGLONG start) { return GetTickCount64() - start; }
