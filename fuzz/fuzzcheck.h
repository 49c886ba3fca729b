#ifndef ORVELLA_FUZZCHECK_H
#define ORVELLA_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>

// A property the code under fuzzing must keep: when it does not, the input
// is a finding, and the fuzzer keeps it as a crash.
#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);    \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

#endif
