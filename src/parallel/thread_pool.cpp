#include "parallel/thread_pool.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace merrow {

namespace {

// No process can start this many threads; asking for more fails at once
// instead of starting tens of thousands of threads only to stop them again.
constexpr std::size_t MAX_POOL_THREADS = std::size_t{1} << 16;

// Ranges stop being halved once they are no larger than n / (this * threads):
// enough pieces to even out uneven texts, few enough to keep queue traffic low.
constexpr std::size_t PIECES_PER_THREAD = 4;

// A running piece is halved for a sleeping worker only when the half would
// take at least this long.
constexpr std::chrono::microseconds MIN_OFFERED_WORK{500};

// Set on the pool's own threads, so that a body that itself calls run() works
// through its range inline instead of waiting on workers that may all be busy.
thread_local bool on_pool_thread = false;

using Body = WorkerPool::Body;
using Clock = std::chrono::steady_clock;

// While the calling thread runs a piece itself, it hands the rest of the
// piece back to the queue after this long, to poll its caller in time.
constexpr auto CALLER_SLICE = WorkerPool::POLL_INTERVAL;

Error forked_failure() {
    return Error{"the process forked while a batch was running; its worker threads are not in the child"};
}

// One run() call. Guarded by the pool's mutex apart from `body` and `grain`,
// which never change.
struct Job {
    Job(const Body& job_body, std::size_t job_grain, std::size_t n, bool report, std::size_t worker_cap)
        : body(&job_body), grain(job_grain), unfinished(n), report_done(report), max_workers(worker_cap) {}

    const Body* body;
    std::size_t grain;
    std::size_t unfinished;  // indices neither done nor abandoned
    // Set once the rest of the job is dropped (a failure, or the caller
    // stopping it); read without the lock by running pieces.
    std::atomic<bool> abandoned{false};
    bool failed = false;
    std::string failure;
    // Whether the caller consumes finished ranges as they come; if so,
    // `done` holds those it has not taken yet.
    bool report_done;
    std::vector<std::pair<std::size_t, std::size_t>> done;
    // Workers running pieces of the job, and how many may: one fewer than
    // the pool when the caller consumes finished ranges, since it works
    // through them meanwhile and threads beyond the cores only take turns.
    std::size_t workers = 0;
    std::size_t max_workers;
    // Whether `done` is not empty, read without the lock by the caller while
    // it runs a piece: finished ranges come before its own conversions.
    std::atomic<bool> has_done{false};
};

struct Range {
    Job* job;
    std::size_t begin;
    std::size_t end;
};

// Runs one leaf range; an exception becomes the returned text.
std::optional<std::string> run_leaf(const Body& body, std::size_t begin, std::size_t end) noexcept {
    try {
        body(begin, end);
        return std::nullopt;
    } catch (const std::exception& e) {
        return std::string(e.what());
    } catch (...) {
        return std::string("unknown exception");
    }
}

Error worker_failure(const std::string& cause) {
    return Error{"worker failed: " + cause};
}

// All jobs share one queue of ranges under one mutex. A worker takes the
// oldest (largest) range, halves it down to the job's grain, queueing every
// right half for idle workers and keeping the leftmost piece, which it runs.
class ThreadPool final : public WorkerPool {
public:
    explicit ThreadPool(std::size_t threads) : size_(threads) {}

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    ~ThreadPool() override { stop(); }

    std::optional<Error> start() {
        if (size_ == 0 || size_ > MAX_POOL_THREADS) {
            return Error{"cannot start " + std::to_string(size_) + " worker threads"};
        }
        try {
            workers_.reserve(size_);
            for (std::size_t i = 0; i < size_; ++i) workers_.emplace_back([this] { work(); });
        } catch (const std::system_error& e) {
            const std::size_t started = workers_.size();
            stop();
            return Error{"failed to start worker thread " + std::to_string(started + 1) + " of " +
                         std::to_string(size_) + ": " + e.what()};
        }
        return std::nullopt;
    }

    std::size_t size() const noexcept override { return size_; }

    std::optional<Error> run(std::size_t n, const Body& body, const Body& on_done, const Poll& keep_going) override {
        if (n == 0) return std::nullopt;
        if (n == 1 || on_pool_thread) {
            auto failure = run_leaf(body, 0, n);
            if (!failure && on_done) failure = run_leaf(on_done, 0, n);
            if (failure) return worker_failure(*failure);
            return std::nullopt;
        }
        // A fork inside on_done or keep_going leaves the child with this
        // stack but none of the workers, and the pool's lock perhaps held by
        // one of them: the child must not touch the pool again.
        const pid_t owner = getpid();
        const std::size_t pieces = PIECES_PER_THREAD * size_;
        const bool report = static_cast<bool>(on_done);
        Job job(body, (n + pieces - 1) / pieces, n, report, report && size_ > 1 ? size_ - 1 : size_);
        std::unique_lock lock(mutex_);
        queue_.push_back(Range{&job, 0, n});
        queue_changed();
        work_ready_.notify_one();
        // While some worker is not running a range (asleep, or still waking
        // up: after a pause that takes a while), the caller takes a range of
        // its job itself, so the job starts at once; so it does whenever it
        // has no finished range to consume, when the job keeps a core for it.
        // Otherwise it waits, consuming finished ranges when it is told of
        // them.
        auto own = [&](const Job& j) { return &j == &job; };
        auto can_help = [&] { return (busy_ < size_ || job.max_workers < size_) && first_queued(own); };
        auto last_poll = Clock::now();
        for (;;) {
            const bool woken = job_done_.wait_for(lock, WorkerPool::POLL_INTERVAL, [&] {
                return job.unfinished == 0 || (!job.abandoned && !job.done.empty()) || can_help();
            });
            if (job.abandoned || job.done.empty()) {
                if (job.unfinished == 0) break;
                if (woken && can_help()) run_front(lock, keep_going ? last_poll + CALLER_SLICE : Clock::time_point::max());
                if (!keep_going || job.abandoned || Clock::now() - last_poll < WorkerPool::POLL_INTERVAL) continue;
                lock.unlock();
                const bool go_on = keep_going();
                if (getpid() != owner) return forked_failure();
                lock.lock();
                last_poll = Clock::now();
                if (!go_on) abandon(job);
                continue;
            }
            auto ready = std::move(job.done);
            job.done.clear();
            job.has_done.store(false, std::memory_order_relaxed);
            lock.unlock();
            std::optional<std::string> failure;
            for (const auto& [begin, end] : ready) {
                if (!failure) failure = run_leaf(on_done, begin, end);
            }
            const bool go_on = failure || !keep_going || keep_going();
            if (getpid() != owner) return forked_failure();
            lock.lock();
            last_poll = Clock::now();
            if (failure && !job.abandoned) {
                job.failed = true;
                job.failure = std::move(*failure);
            }
            if (failure || !go_on) abandon(job);
        }
        if (job.failed) return worker_failure(job.failure);
        return std::nullopt;
    }

private:
    void work() {
        on_pool_thread = true;
        std::unique_lock lock(mutex_);
        auto takeable = [&] { return first_queued([](const Job& j) { return j.workers < j.max_workers; }); };
        for (;;) {
            if (!stopping_ && !takeable()) {
                sleeping_.fetch_add(1, std::memory_order_relaxed);
                work_ready_.wait(lock, [&] { return stopping_ || takeable(); });
                sleeping_.fetch_sub(1, std::memory_order_relaxed);
            }
            if (stopping_) return;
            ++busy_;
            run_front(lock, Clock::time_point::max(), true);
            --busy_;
        }
    }

    // Moves the oldest queued range whose job passes `wanted` to the front of
    // the queue, for run_front(); false when there is none. Workers pass over
    // the ranges of a job that has all the workers it may have; a caller
    // takes only its own job's.
    template <class Wanted>
    bool first_queued(Wanted wanted) {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (!wanted(*it->job)) continue;
            if (it != queue_.begin()) {
                const Range range = *it;
                queue_.erase(it);
                queue_.push_front(range);
            }
            return true;
        }
        return false;
    }

    // Takes the oldest range, halves it down to its job's grain (queueing
    // the right halves for idle workers) and runs the piece it keeps, until
    // `yield_at` at most. Called, and returns, with the lock held; runs the
    // piece without it.
    void run_front(std::unique_lock<std::mutex>& lock, Clock::time_point yield_at, bool worker = false) {
        Range range = queue_.front();
        queue_.pop_front();
        queue_changed();
        Job& job = *range.job;
        if (job.abandoned) {
            finish(job, range.end - range.begin);
            return;
        }
        const std::size_t offered = split(range);
        if (worker) ++job.workers;
        lock.unlock();
        for (std::size_t i = 0; i < offered; ++i) work_ready_.notify_one();
        auto failure = run_piece(range, yield_at);
        lock.lock();
        // A worker waiting for a capped job may take its next range now.
        if (worker && job.workers-- == job.max_workers) work_ready_.notify_one();
        if (failure && !job.abandoned) {
            job.failed = true;
            job.failure = std::move(*failure);
            abandon(job);
        }
        if (!job.abandoned && job.report_done) {
            job.done.emplace_back(range.begin, range.end);
            job.has_done.store(true, std::memory_order_relaxed);
        }
        finish(job, range.end - range.begin);
    }

    // Runs a piece one index at a time, without the lock. Pieces of uneven
    // work (texts of very different lengths) leave threads idle at the end:
    // whenever a worker sleeps with nothing queued, the rest of the piece is
    // halved again and its right half offered. Returns a body's failure;
    // range.end is where this piece ended up.
    // An abandoned job's piece stops before its next index (the indices left
    // count as finished all the same); at `yield_at` the rest of the piece is
    // queued again, and range.end moves back to where it stopped.
    std::optional<std::string> run_piece(Range& range, Clock::time_point yield_at) {
        const auto started = Clock::now();
        const bool may_yield = yield_at != Clock::time_point::max();
        // The caller of a job whose finished ranges it consumes turns to them
        // as soon as there are any.
        const bool to_done = !on_pool_thread && range.job->report_done;
        for (std::size_t i = range.begin; i < range.end; ++i) {
            if (range.job->abandoned.load(std::memory_order_relaxed)) return std::nullopt;
            if (auto failure = run_leaf(*range.job->body, i, i + 1)) {
                return failure;
            }
            if (i + 1 < range.end && ((may_yield && Clock::now() >= yield_at) ||
                                      (to_done && range.job->has_done.load(std::memory_order_relaxed)))) {
                std::unique_lock lock(mutex_);
                queue_.push_front(Range{range.job, i + 1, range.end});
                queue_changed();
                range.end = i + 1;
                lock.unlock();
                work_ready_.notify_one();
                return std::nullopt;
            }
            if (range.end - i > 2 && sleeping_.load(std::memory_order_relaxed) > 0 &&
                queued_.load(std::memory_order_relaxed) == 0 &&
                worth_offering(Clock::now() - started, i + 1 - range.begin, range.end - i - 1)) {
                std::unique_lock lock(mutex_);
                if (sleeping_.load(std::memory_order_relaxed) == 0 || !queue_.empty() || range.job->abandoned) continue;
                const std::size_t middle = i + 1 + (range.end - i - 1) / 2;
                queue_.push_back(Range{range.job, middle, range.end});
                queue_changed();
                range.end = middle;
                lock.unlock();
                work_ready_.notify_one();
            }
        }
        return std::nullopt;
    }

    // Whether half of the `left` indices of a piece, at the pace of the `done`
    // ones so far, outlasts waking a sleeping worker (a few hundred
    // microseconds on a busy machine); if not, offering it only delays the end.
    static bool worth_offering(Clock::duration elapsed, std::size_t done, std::size_t left) {
        return elapsed / done * (left / 2) > MIN_OFFERED_WORK;
    }

    // Halves `range` down to its job's grain, queueing the right halves; the
    // range keeps the leftmost piece. Returns the number of ranges queued.
    std::size_t split(Range& range) {
        std::size_t offered = 0;
        while (range.end - range.begin > range.job->grain) {
            const std::size_t middle = range.begin + (range.end - range.begin) / 2;
            queue_.push_back(Range{range.job, middle, range.end});
            range.end = middle;
            ++offered;
        }
        queue_changed();
        return offered;
    }

    // Keeps the queue's length readable without the lock.
    void queue_changed() { queued_.store(queue_.size(), std::memory_order_relaxed); }

    // Drops the rest of a job: its queued ranges, the finished ranges not yet
    // passed to on_done; running pieces stop before their next index.
    void abandon(Job& job) {
        job.abandoned.store(true, std::memory_order_relaxed);
        job.done.clear();
        job.has_done.store(false, std::memory_order_relaxed);
        std::size_t dropped = 0;
        std::erase_if(queue_, [&](const Range& r) {
            if (r.job != &job) return false;
            dropped += r.end - r.begin;
            return true;
        });
        queue_changed();
        finish(job, dropped);
    }

    void finish(Job& job, std::size_t indices) {
        job.unfinished -= indices;
        // The job lives on its caller's stack: once unfinished is 0 the caller
        // may return, so nothing of the job is touched after this point.
        if (job.unfinished == 0 || !job.done.empty()) job_done_.notify_all();
    }

    void stop() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        work_ready_.notify_all();
        for (auto& worker : workers_) {
            if (worker.joinable()) worker.join();
        }
        workers_.clear();
    }

    const std::size_t size_;
    std::mutex mutex_;
    std::condition_variable work_ready_;
    std::condition_variable job_done_;
    std::deque<Range> queue_;
    std::size_t busy_ = 0;  // workers running a range
    // Read without the lock by running pieces, to decide whether to split.
    std::atomic<std::size_t> sleeping_{0};  // workers waiting for work
    std::atomic<std::size_t> queued_{0};    // queue_.size()
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace

Result<std::unique_ptr<WorkerPool>> start_thread_pool(std::size_t threads) {
    auto pool = std::make_unique<ThreadPool>(threads);
    if (auto failure = pool->start()) return std::move(*failure);
    return std::unique_ptr<WorkerPool>(std::move(pool));
}

}  // namespace merrow
