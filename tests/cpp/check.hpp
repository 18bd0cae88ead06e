// The drivers' pass/fail tally: check() counts a result and prints a
// failure at once; a driver ends with report().
#pragma once

#include <cstdio>
#include <string>

namespace merrow::testing {

inline int passed = 0;
inline int failed = 0;

inline void check(bool ok, const std::string& what) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL: %s\n", what.c_str());
        std::fflush(stdout);
    }
}

// Prints "N passed, N failed"; the driver's exit status.
inline int report() {
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}

}  // namespace merrow::testing
