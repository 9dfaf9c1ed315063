#pragma once

// Invariant checks of the fuzz targets: a broken invariant aborts, which libFuzzer reports as a
// crash with the input that caused it, and the corpus replay reports as a failed test.

#include <cstdio>
#include <cstdlib>

#define QVLINK_FUZZ_CHECK(condition)                                                               \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                          \
        }                                                                                          \
    } while (false)
