#pragma once

// The system calls a test needs to fault, to speed up (the clock) or to watch
// (where Wine only pretends) go through tables of function pointers, one table
// per subsystem (ClockCalls, CommCalls, VolumeCalls, WinHttpCalls, PowerCalls,
// ThreadCalls, ShellCalls, DebugCalls). Every table follows the same convention:
//   - `Table::System()` gives the system's own calls;
//   - `CallsInUse<Table>()` is the table the program calls through: the
//     system's, unless a test has put a call of its own in it (and puts the
//     system's back when it is done, tests/support/calls_override.h);
//   - the table's header says which calls of its subsystem stay direct, and why.
template <typename Table>
Table& CallsInUse() {
    static Table calls = Table::System();
    return calls;
}
