#include "app/app_state.h"

// Created during static initialisation, before the entry point, and deliberately
// never destroyed: worker threads are detached and may still run while the
// process ends and static objects are torn down.
AppState& g_app = *new AppState();

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

SharedSnapshot TakeSharedSnapshot() {
    SharedSnapshot snapshot;
    snapshot.connected = g_app.link.IsOpenAs(snapshot.portName);
    SharedGuard guard(g_app.sharedLock);
    snapshot.device = g_app.device;
    snapshot.latestVersion = g_app.latestVersion;
    return snapshot;
}
