// The process-wide pool of worker threads used by batch conversion.
//
// One pool per process, created on first use (sized by
// parallel/environment.hpp) and never resized. Work over an
// index range [0, n) is split by recursive halving; the calling thread takes
// part while a worker is idle, and otherwise waits, until every index has
// been processed. A process forked after the pool was created gets a fresh
// pool of its own on first use.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "common/result.hpp"

namespace merrow {

class WorkerPool {
public:
    // The process's pool, created on first call. Fails when the threads
    // cannot be started; the message begins "The global thread pool has not
    // been initialized.".
    static Result<WorkerPool*> global();

    // A separate pool of `threads` workers, owned by the caller, for tests
    // and tools; destroying it stops and joins its threads. Fails when the
    // threads cannot be started.
    static Result<std::unique_ptr<WorkerPool>> create(std::size_t threads);

    virtual ~WorkerPool() = default;
    virtual std::size_t size() const noexcept = 0;

    // Calls body(begin, end) on disjoint subranges covering [0, n), in
    // parallel, and returns once all of them are done. n <= 1 runs on the
    // calling thread, which otherwise runs subranges itself whenever fewer
    // than size() workers are running one (the first one always: workers
    // asleep take a while to wake). If a body throws, the rest is abandoned
    // and the error text is returned; the pool stays usable.
    using Body = std::function<void(std::size_t, std::size_t)>;
    std::optional<Error> run(std::size_t n, const Body& body) { return run(n, body, Body()); }

    // run(), during which the calling thread, instead of only waiting, calls
    // on_done(begin, end) for every subrange whose body has returned, in the
    // order they finish; every index is passed to it once, unless a body
    // throws (ranges abandoned then are never passed). So the caller can
    // consume the results of finished ranges while the rest are computed.
    // Consuming takes the caller's core: at most size() - 1 workers (one,
    // in a pool of one) run the job's subranges at once, and the caller runs
    // subranges whenever no finished one waits, leaving its piece for the
    // queue as soon as one does. An exception from on_done abandons the
    // remaining ranges and is returned like a body's.
    std::optional<Error> run(std::size_t n, const Body& body, const Body& on_done) {
        return run(n, body, on_done, Poll());
    }

    // run() with on_done, where the calling thread also calls keep_going()
    // after each on_done call, at least every POLL_INTERVAL while it waits,
    // and, when it runs indices itself, after the one that passes that
    // interval (never holding the pool's lock). Once it returns false the
    // rest is abandoned: queued ranges are dropped, running ones stop before
    // their next index, no further on_done call is made, and run() returns
    // nothing once no thread is inside a body. Should the process fork inside
    // on_done or keep_going, run() returns at once in the child, with an
    // error, leaving the parent's pool untouched: its workers are not there.
    using Poll = std::function<bool()>;
    static constexpr std::chrono::milliseconds POLL_INTERVAL{10};
    virtual std::optional<Error> run(std::size_t n, const Body& body, const Body& on_done, const Poll& keep_going) = 0;
};

}  // namespace merrow
