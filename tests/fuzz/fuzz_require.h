#pragma once

#include <cstdio>
#include <cstdlib>

// A broken invariant is a crash to libFuzzer, which then saves the input.
inline void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}
