#include "task/task_state.h"

// Created during static initialisation, before the entry point, and deliberately
// never destroyed: worker threads are detached and may still run while the
// process ends and static objects are torn down.
TaskState& g_task = *new TaskState();
