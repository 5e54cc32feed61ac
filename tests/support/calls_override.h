#pragma once

#include "base/system_calls.h"

// The one way a test swaps system calls (base/system_calls.h): while the
// object lives, calls put through it replace the system's; it puts the system's
// calls back when it goes out of scope, or at Restore().
//
//   CallsOverride<CommCalls> comm;
//   comm->writeFile = ShortWrite;
template <typename Table>
class CallsOverride {
public:
    CallsOverride() = default;
    ~CallsOverride() { Restore(); }
    CallsOverride(const CallsOverride&) = delete;
    CallsOverride& operator=(const CallsOverride&) = delete;

    Table* operator->() const { return &CallsInUse<Table>(); }
    Table& operator*() const { return CallsInUse<Table>(); }
    void Restore() const { CallsInUse<Table>() = Table::System(); }
};
