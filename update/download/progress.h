#pragma once

#include <cstdint>
#include <functional>

// How a long operation (a download, the copy onto the drive) says how far it
// has got, in percent. The operation only reports the number; its caller, who
// knows what the user is waiting for, decides what the window shows of it.
using ProgressCallback = std::function<void(int32_t percent)>;
