// Pausing the cycle collector while a batch makes its results.
//
// A batch result grows by hundreds of thousands of tracked lists and tuples,
// none of them garbage. The collector, triggered every few hundred
// allocations, walks the growing result again and again (each full
// collection once the result has grown by a quarter): with candidate
// records that is a third of the time spent making them. Paused, the
// objects are walked once, by the first collection after the call, and not
// at all if the caller drops the result first.
//
// No Python code runs while the collector is paused: the call holds the
// interpreter lock throughout, and check_signals() resumes the collector
// around signal handlers. A handler that disables the collector itself
// keeps it disabled.
#pragma once

#include "limited_api.hpp"

namespace merrow::py {

class CollectorPause {
public:
    // Pauses the collector when `wanted`, it is enabled and the interpreter
    // can say so (3.10 and later); otherwise does nothing. Call with the
    // interpreter lock held, and destroy on the same thread.
    explicit CollectorPause(bool wanted = true) noexcept;
    ~CollectorPause();
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;

private:
    friend int check_signals() noexcept;
    bool paused_ = false;
    CollectorPause* outer_;
};

// PyErr_CheckSignals(), with the collector running as the program left it
// while any handler runs.
int check_signals() noexcept;

}  // namespace merrow::py
