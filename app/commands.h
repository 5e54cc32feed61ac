#pragma once

// The window's commands (WM_COMMAND of a button or toggle), on the window
// thread. Every command is ignored while a task runs; each checks its own
// preconditions silently, then acts or starts its task.
void HandleCommand(int id);
