// Tests of the worker pool: coverage of index ranges, concurrency between
// callers, failures in bodies, the process's pool and pools after fork().
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "check.hpp"
#include "parallel/worker_pool.hpp"

using merrow::WorkerPool;

namespace {

using merrow::testing::check;

// A pool of `threads` threads; nullptr, reported as a failure, when it
// cannot be made.
std::unique_ptr<WorkerPool> new_pool(std::size_t threads) {
    auto created = WorkerPool::create(threads);
    check(created.ok(), "create(" + std::to_string(threads) + ")");
    return created ? std::move(created.value()) : nullptr;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::size_t thread_count_of_this_process() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') ++count;
        }
        closedir(dir);
    }
    return count;
}

// ---- run() -------------------------------------------------------------------

// Runs a job of n indices and checks that every index ran exactly once, that
// leaves are disjoint, non-empty and few, and that the caller did no work.
void check_coverage(WorkerPool& pool, std::size_t n, const std::string& label) {
    std::unique_ptr<std::atomic<int>[]> hits(new std::atomic<int>[n + 1]);
    for (std::size_t i = 0; i <= n; ++i) hits[i] = 0;
    std::atomic<std::size_t> leaves{0};
    std::atomic<bool> empty_leaf{false};
    std::atomic<bool> ran_on_caller{false};
    const auto caller = std::this_thread::get_id();
    auto error = pool.run(n, [&](std::size_t begin, std::size_t end) {
        if (begin >= end || end > n) empty_leaf = true;
        if (std::this_thread::get_id() == caller) ran_on_caller = true;
        ++leaves;
        for (std::size_t i = begin; i < end && i < n; ++i) ++hits[i];
    });
    const std::string where = label + " n=" + std::to_string(n);
    check(!error, where + ": no error");
    bool exactly_once = true;
    for (std::size_t i = 0; i < n; ++i) exactly_once = exactly_once && hits[i] == 1;
    check(exactly_once, where + ": every index exactly once");
    check(!empty_leaf, where + ": leaves are non-empty and in range");
    if (n == 0) check(leaves == 0, where + ": no call for an empty range");
    if (n == 1) check(leaves == 1 && ran_on_caller, where + ": one index runs on the caller");
    if (n >= 2) {
        check(ran_on_caller, where + ": the caller starts the job itself");
        check(leaves >= 2, where + ": the range is split");
    }
}

void test_coverage(WorkerPool& pool, const std::string& label) {
    for (std::size_t n : {0, 1, 2, 3, 7, 1000, 100003}) check_coverage(pool, n, label);
}

std::uint64_t mix(std::uint64_t x) {
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    return x;
}

void test_slots_match_sequential(WorkerPool& pool) {
    const std::size_t n = 54321;
    std::vector<std::uint64_t> expected(n);
    for (std::size_t i = 0; i < n; ++i) expected[i] = mix(i);
    std::vector<std::uint64_t> slots(n, 0);
    auto error = pool.run(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) slots[i] = mix(i);
    });
    check(!error && slots == expected, "slots written in parallel equal the sequential results");

    std::vector<std::string> texts(n);
    auto string_error = pool.run(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) texts[i] = std::string(i % 97, 'a') + std::to_string(i);
    });
    bool same = !string_error;
    for (std::size_t i = 0; same && i < n; ++i) same = texts[i] == std::string(i % 97, 'a') + std::to_string(i);
    check(same, "allocated results land in their own slots");
}

// Work that is uneven across the range: the last piece holds all of it.
// The piece is halved again while the other worker sleeps, so both threads
// share the heavy indices instead of one running them all.
void test_uneven_work_is_shared() {
    auto owned = new_pool(2);
    if (!owned) return;
    WorkerPool& pool = *owned;
    const std::size_t n = 64, heavy_from = 56;  // the initial halving makes pieces of 8
    std::mutex m;
    std::set<std::thread::id> heavy_threads;
    auto error = pool.run(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            if (i < heavy_from) continue;
            {
                std::lock_guard lock(m);
                heavy_threads.insert(std::this_thread::get_id());
            }
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
            while (std::chrono::steady_clock::now() < until) {
            }
        }
    });
    check(!error && heavy_threads.size() >= 2,
          "a heavy last piece is split for an idle worker (" + std::to_string(heavy_threads.size()) + " threads)");
}

// Two leaves of a two-thread pool run at the same time: the right half offered
// by one worker is taken by the idle other.
void test_idle_worker_takes_right_half() {
    auto owned = new_pool(2);
    if (!owned) return;
    WorkerPool& pool = *owned;
    std::mutex m;
    std::condition_variable cv;
    int started = 0;
    bool overlapped = true;
    auto error = pool.run(2, [&](std::size_t, std::size_t) {
        std::unique_lock lock(m);
        ++started;
        cv.notify_all();
        if (!cv.wait_for(lock, std::chrono::seconds(20), [&] { return started == 2; })) overlapped = false;
    });
    check(!error && overlapped, "both halves run at once on a two-thread pool");
}

void test_concurrent_callers(WorkerPool& pool, const std::string& label) {
    std::atomic<int> bad{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&, t] {
            for (int round = 0; round < 40; ++round) {
                const std::size_t n = 1 + static_cast<std::size_t>((t * 7919 + round * 104729) % 20000);
                std::vector<std::uint64_t> slots(n, 0);
                auto error = pool.run(n, [&](std::size_t begin, std::size_t end) {
                    for (std::size_t i = begin; i < end; ++i) slots[i] += mix(i + t);
                });
                if (error) ++bad;
                for (std::size_t i = 0; i < n; ++i) {
                    if (slots[i] != mix(i + t)) {
                        ++bad;
                        break;
                    }
                }
            }
        });
    }
    for (auto& c : callers) c.join();
    check(bad == 0, label + ": four threads calling run() at once each get their own complete job");
}

void test_failure_in_body(WorkerPool& pool, const std::string& label) {
    for (std::size_t n : {1, 2, 1000, 100003}) {
        const std::size_t bad_index = n / 2;
        auto error = pool.run(n, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                if (i == bad_index) throw std::runtime_error("index " + std::to_string(i) + " broke");
            }
        });
        const std::string where = label + " n=" + std::to_string(n);
        check(error && error->message == "worker failed: index " + std::to_string(bad_index) + " broke",
              where + ": a throwing body yields the error text (" + (error ? error->message : "none") + ")");
        check_coverage(pool, 5000, where + ": pool usable after a failure,");
    }
    auto error = pool.run(100, [](std::size_t begin, std::size_t) {
        if (begin == 0) throw 42;
    });
    check(error && error->message == "worker failed: unknown exception", label + ": a non-standard exception");

    // Failures in every leaf, from several threads at once, are reported once each.
    std::atomic<int> reported{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            auto e = pool.run(10000, [](std::size_t, std::size_t) { throw std::logic_error("every leaf"); });
            if (e && e->message == "worker failed: every leaf") ++reported;
        });
    }
    for (auto& c : callers) c.join();
    check(reported == 4, label + ": concurrent failing jobs each report their failure");
    check_coverage(pool, 777, label + ": usable after concurrent failures,");
}

void test_nested_run(WorkerPool& pool) {
    std::atomic<std::size_t> inner{0};
    std::atomic<int> errors{0};
    auto error = pool.run(64, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) {
            if (pool.run(10, [&](std::size_t b, std::size_t e) { inner += e - b; })) ++errors;
        }
    });
    check(!error && errors == 0 && inner == 640, "run() from inside a body completes");
}

// run() with on_done: every index reaches on_done exactly once, on the
// calling thread, after its body; ranges finished early are handed over
// while later ones still run; failures in a body or in on_done end the job.
void test_on_done(WorkerPool& pool, const std::string& label) {
    const auto caller = std::this_thread::get_id();
    for (std::size_t n : {1, 2, 3, 1000, 100003}) {
        const std::string where = label + " on_done n=" + std::to_string(n);
        std::unique_ptr<std::atomic<int>[]> body_hits(new std::atomic<int>[n]);
        for (std::size_t i = 0; i < n; ++i) body_hits[i] = 0;
        std::vector<int> done_hits(n, 0);
        bool in_order = true, on_caller = true;
        auto error = pool.run(
            n, [&](std::size_t begin, std::size_t end) { for (std::size_t i = begin; i < end; ++i) ++body_hits[i]; },
            [&](std::size_t begin, std::size_t end) {
                on_caller = on_caller && std::this_thread::get_id() == caller;
                for (std::size_t i = begin; i < end && i < n; ++i) {
                    in_order = in_order && body_hits[i] == 1;
                    ++done_hits[i];
                }
            });
        bool once = !error;
        for (std::size_t i = 0; i < n; ++i) once = once && body_hits[i] == 1 && done_hits[i] == 1;
        check(once, where + ": every index through the body and on_done exactly once");
        check(in_order && on_caller, where + ": on_done runs on the caller, after the body");
    }
    if (pool.size() >= 2) {
        // The first range's results are consumed while the last range is
        // still running: the last leaf waits until on_done has been called.
        std::mutex m;
        std::condition_variable cv;
        bool consumed = false, handed_over = false;
        const std::size_t n = 64;
        auto error = pool.run(
            n,
            [&](std::size_t begin, std::size_t end) {
                if (end != n || begin == 0) return;
                std::unique_lock lock(m);
                handed_over = cv.wait_for(lock, std::chrono::seconds(10), [&] { return consumed; });
            },
            [&](std::size_t begin, std::size_t) {
                if (begin != 0) return;
                std::lock_guard lock(m);
                consumed = true;
                cv.notify_all();
            });
        check(!error && handed_over, label + ": finished ranges are handed over while others run");
    }
    auto body_error = pool.run(
        1000, [](std::size_t begin, std::size_t end) { if (begin <= 500 && 500 < end) throw std::runtime_error("body"); },
        [](std::size_t begin, std::size_t end) { if (begin <= 500 && 500 < end) throw std::logic_error("never"); });
    check(body_error && body_error->message == "worker failed: body", label + ": a failing body with on_done");
    std::atomic<std::size_t> ran{0};
    std::size_t calls_after_failure = 0;
    bool failed_once = false;
    auto done_error = pool.run(
        100000, [&](std::size_t begin, std::size_t end) { ran += end - begin; },
        [&](std::size_t, std::size_t) {
            if (failed_once) ++calls_after_failure;
            failed_once = true;
            throw std::runtime_error("consumer");
        });
    check(done_error && done_error->message == "worker failed: consumer" && calls_after_failure == 0,
          label + ": a failing on_done ends the job and is not called again");
    check_coverage(pool, 5000, label + ": pool usable after on_done failed,");
}

// With on_done, the caller makes what the finished ranges need while the
// workers convert the rest: a pool of n threads runs at most n - 1 bodies of
// such a job at once on its own threads (more would only take turns with
// the caller on n cores), and the caller runs bodies whenever nothing
// finished is waiting for it.
void test_on_done_leaves_a_core_to_the_caller() {
    for (std::size_t threads : {std::size_t{2}, std::size_t{3}}) {
        auto created = new_pool(threads);
        if (!created) return;
        const auto caller = std::this_thread::get_id();
        std::atomic<int> running{0}, most{0};
        std::atomic<bool> caller_ran{false};
        std::size_t consumed = 0;
        const std::size_t n = 400;
        auto error = created->run(
            n,
            [&](std::size_t begin, std::size_t end) {
                const bool on_caller = std::this_thread::get_id() == caller;
                if (on_caller) {
                    caller_ran = true;
                } else {
                    const int now = ++running;
                    for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
                    }
                }
                const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(100) * (end - begin);
                while (std::chrono::steady_clock::now() < until) {
                }
                if (!on_caller) --running;
            },
            [&](std::size_t begin, std::size_t end) { consumed += end - begin; });
        const std::string where = "pool of " + std::to_string(threads) + " with on_done";
        check(!error && consumed == n, where + ": every index is handed over");
        check(most >= 1 && most <= static_cast<int>(threads) - 1,
              where + ": at most one worker fewer than the pool at once (" + std::to_string(most) + ")");
        check(caller_ran, where + ": the caller converts while nothing waits for it");
    }
}

// Two callers whose jobs may each have one worker fewer than the pool: a
// worker with nothing of the oldest job it may take (that job has all the
// workers it may have) takes a range of the other. Job A holds its caller
// and its one worker in bodies that wait for the end; job B's caller waits
// in its first body too, so only the second worker can run B's other ranges.
void test_capped_jobs_share_the_workers() {
    auto owned = new_pool(2);
    if (!owned) return;
    WorkerPool& pool = *owned;
    std::mutex m;
    std::condition_variable cv;
    bool released = false, b_on_worker = false;
    int a_on_caller = 0, a_on_worker = 0;
    auto hold = [&](std::unique_lock<std::mutex>& lock) {
        cv.wait_for(lock, std::chrono::seconds(10), [&] { return released; });
    };
    std::optional<merrow::Error> a_error, b_error;
    std::thread a_caller([&] {
        const auto self = std::this_thread::get_id();
        a_error = pool.run(
            8,
            [&](std::size_t, std::size_t) {
                std::unique_lock lock(m);
                ++(std::this_thread::get_id() == self ? a_on_caller : a_on_worker);
                cv.notify_all();
                hold(lock);
            },
            [](std::size_t, std::size_t) {});
    });
    bool a_running;
    {
        std::unique_lock lock(m);
        a_running = cv.wait_for(lock, std::chrono::seconds(10), [&] { return a_on_caller == 1 && a_on_worker == 1; });
    }
    std::thread b_caller([&] {
        const auto self = std::this_thread::get_id();
        b_error = pool.run(
            8,
            [&](std::size_t, std::size_t) {
                std::unique_lock lock(m);
                if (std::this_thread::get_id() != self) {
                    b_on_worker = true;
                    cv.notify_all();
                    return;
                }
                hold(lock);
            },
            [](std::size_t, std::size_t) {});
    });
    bool served;
    {
        std::unique_lock lock(m);
        served = cv.wait_for(lock, std::chrono::seconds(5), [&] { return b_on_worker; });
        released = true;
    }
    cv.notify_all();
    a_caller.join();
    b_caller.join();
    check(a_running, "job A's caller and one worker run its bodies");
    check(!a_error && !b_error && served, "a worker passes over the capped job to serve the other");
}

// keep_going: asked on the caller, often; once it says no, the rest of the
// job is dropped soon and nothing is handed over any more.
void test_keep_going(WorkerPool& pool, const std::string& label) {
    const auto caller = std::this_thread::get_id();
    const std::size_t n = 200000;
    std::unique_ptr<std::atomic<int>[]> hits(new std::atomic<int>[n]);
    for (std::size_t i = 0; i < n; ++i) hits[i] = 0;
    std::atomic<std::size_t> ran{0};
    std::size_t polls = 0, done_after_stop = 0;
    bool stop = false, on_caller = true;
    auto error = pool.run(
        n,
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) ++hits[i];
            ran += end - begin;
            std::this_thread::sleep_for(std::chrono::microseconds(20));
        },
        [&](std::size_t, std::size_t) { done_after_stop += stop; },
        [&] {
            on_caller = on_caller && std::this_thread::get_id() == caller;
            stop = ++polls >= 3;
            return !stop;
        });
    bool at_most_once = true;
    for (std::size_t i = 0; i < n; ++i) at_most_once = at_most_once && hits[i] <= 1;
    check(!error && polls == 3 && on_caller, label + ": keep_going is asked on the caller until it says no");
    check(at_most_once && ran < n && done_after_stop == 0,
          label + ": after keep_going says no the rest is dropped and nothing is handed over");
    // Asked all through a long job, whether the caller waits or runs
    // indices itself (it hands the rest back after each interval).
    std::size_t polls_in_long_job = 0;
    error = pool.run(
        100,
        [&](std::size_t begin, std::size_t end) {
            const bool here = std::this_thread::get_id() == caller;
            std::this_thread::sleep_for(std::chrono::milliseconds(here ? 2 : 10) * (end - begin));
        },
        [](std::size_t, std::size_t) {}, [&] { return ++polls_in_long_job > 0; });
    check(!error && polls_in_long_job >= 5, label + ": keep_going is asked all through a long job");
    check_coverage(pool, 5000, label + ": pool usable after a job was stopped,");
}

void test_create_failure() {
    auto absurd = WorkerPool::create(1000000000000000000ULL);
    check(!absurd.ok(), "create(10^18) fails");
    auto none = WorkerPool::create(0);
    check(!none.ok(), "create(0) fails");
    for (std::size_t size : {1, 3, 7}) {
        auto created = WorkerPool::create(size);
        check(created.ok() && created.value()->size() == size, "create(" + std::to_string(size) + ")");
        if (created) {
            test_coverage(*created.value(), "pool of " + std::to_string(size));
            test_concurrent_callers(*created.value(), "pool of " + std::to_string(size));
            test_on_done(*created.value(), "pool of " + std::to_string(size));
            test_keep_going(*created.value(), "pool of " + std::to_string(size));
        }
    }
}

void test_global_pool() {
    const std::size_t threads_before = thread_count_of_this_process();
    setenv("RAYON_NUM_THREADS", "3", 1);
    auto first = WorkerPool::global();
    unsetenv("RAYON_NUM_THREADS");
    check(first.ok(), "global() starts");
    if (!first) return;
    WorkerPool* pool = first.value();
    check(pool->size() == 3, "global pool sized from the environment when created");
    check(thread_count_of_this_process() == threads_before + 3, "the global pool starts its threads");

    setenv("RAYON_NUM_THREADS", "5", 1);
    std::atomic<int> different{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < 4; ++t) {
        callers.emplace_back([&] {
            auto again = WorkerPool::global();
            if (!again || again.value() != pool) ++different;
        });
    }
    for (auto& c : callers) c.join();
    unsetenv("RAYON_NUM_THREADS");
    check(different == 0 && pool->size() == 3, "global() returns the same pool, never resized");

    test_coverage(*pool, "global pool");
    test_slots_match_sequential(*pool);
    test_concurrent_callers(*pool, "global pool");
    test_failure_in_body(*pool, "global pool");
    test_on_done(*pool, "global pool");
    test_keep_going(*pool, "global pool");
    test_nested_run(*pool);
}

// ---- fork --------------------------------------------------------------------

// Runs `child` in a forked process and returns whether it exited with 0.
bool in_child(const std::function<bool()>& child) {
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        alarm(30);  // a child stuck waiting on workers that do not exist fails
        _exit(child() ? 0 : 1);
    }
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool child_job_completes(std::size_t n) {
    auto pool = WorkerPool::global();
    if (!pool) return false;
    std::vector<int> hits(n, 0);
    auto error = pool.value()->run(n, [&](std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) ++hits[i];
    });
    if (error) return false;
    for (int h : hits) {
        if (h != 1) return false;
    }
    return true;
}

void test_fork() {
    auto parent_pool = WorkerPool::global();
    check(parent_pool.ok(), "global() in the parent");
    if (!parent_pool) return;
    WorkerPool* parent = parent_pool.value();

    check(in_child([&] {
              // The child has only the forking thread; its pool is new and
              // sized by the environment it sees now.
              if (thread_count_of_this_process() != 1) return false;
              setenv("RAYON_NUM_THREADS", "2", 1);
              auto pool = WorkerPool::global();
              if (!pool || pool.value() == parent || pool.value()->size() != 2) return false;
              if (thread_count_of_this_process() != 3) return false;
              return child_job_completes(100003);
          }),
          "a forked child gets a pool of its own and runs a job");

    // Forking while the parent's pool is busy (its mutex possibly held).
    std::atomic<bool> keep_going{true};
    std::thread busy([&] {
        while (keep_going) {
            parent->run(20000, [](std::size_t begin, std::size_t end) {
                volatile std::uint64_t sink = 0;
                for (std::size_t i = begin; i < end; ++i) sink = sink + mix(i);
            });
        }
    });
    bool all_children_ok = true;
    for (int i = 0; i < 20 && all_children_ok; ++i) {
        all_children_ok = in_child([] { return child_job_completes(5000); }) && all_children_ok;
    }
    keep_going = false;
    busy.join();
    check(all_children_ok, "children forked while the parent's pool is busy run jobs");

    check(in_child([] {
              // A grandchild: fork twice in a row, each generation with its own pool.
              if (!child_job_completes(1000)) return false;
              return in_child([] { return child_job_completes(1000); });
          }),
          "pools in a child and a grandchild");

    check(in_child([] {
              setenv("RAYON_NUM_THREADS", "1000000000000000000", 1);
              auto pool = WorkerPool::global();
              if (pool.ok()) return false;
              const std::string& message = pool.error().message;
              if (!starts_with(message, "The global thread pool has not been initialized.")) return false;
              // The failure is remembered; no threads are left behind.
              auto again = WorkerPool::global();
              return !again.ok() && again.error().message == message && thread_count_of_this_process() == 1;
          }),
          "a pool that cannot start fails with the initialization message");

    // A fork inside on_done (Python code run by the caller can fork): the
    // parent's job completes; in the child, run() returns an error at once
    // and a pool of the child's own works.
    const std::size_t n = 100000;
    std::vector<int> hits(n, 0);
    pid_t forked = -1;
    auto error = parent->run(
        n, [&](std::size_t begin, std::size_t end) { for (std::size_t i = begin; i < end; ++i) ++hits[i]; },
        [&](std::size_t, std::size_t) {
            if (forked != -1) return;
            std::fflush(stdout);
            forked = fork();
            if (forked == 0) alarm(30);
        });
    if (forked == 0) {
        const bool ok = error && starts_with(error->message, "the process forked") && child_job_completes(1000);
        _exit(ok ? 0 : 1);
    }
    int status = 0;
    const bool child_ok = forked > 0 && waitpid(forked, &status, 0) == forked && WIFEXITED(status) &&
                          WEXITSTATUS(status) == 0;
    bool parent_ok = !error;
    for (int h : hits) parent_ok = parent_ok && h == 1;
    check(child_ok, "a child forked inside on_done gets an error from run() and a pool of its own");
    check(parent_ok, "the parent's job completes whole across the fork");

    check(child_job_completes(1000), "the parent's pool still works after forks");
}

}  // namespace

int main() {
    test_idle_worker_takes_right_half();
    test_on_done_leaves_a_core_to_the_caller();
    test_capped_jobs_share_the_workers();
    test_uneven_work_is_shared();
    test_create_failure();
    test_global_pool();
    test_fork();
    return merrow::testing::report();
}
