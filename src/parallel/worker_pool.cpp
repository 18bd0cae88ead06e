#include "parallel/worker_pool.hpp"

#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <mutex>

#include "parallel/environment.hpp"
#include "parallel/thread_pool.hpp"

namespace merrow {
namespace {

constexpr char POOL_NOT_INITIALIZED[] = "The global thread pool has not been initialized.";

// The pool of one process. A child forked after the pool was created finds
// the parent's slot (its pid differs) and installs a slot of its own; the
// parent's slot and pool are left untouched, because their mutexes may have
// been held by threads that do not exist in the child.
struct PoolSlot {
    explicit PoolSlot(pid_t owner_pid) : owner(owner_pid) {}
    const pid_t owner;
    std::atomic<WorkerPool*> pool{nullptr};
    std::mutex creating;
    std::optional<Error> failure;  // guarded by `creating`
};

std::atomic<PoolSlot*> current_slot{nullptr};

PoolSlot* slot_of_this_process() {
    const pid_t pid = getpid();
    PoolSlot* slot = current_slot.load(std::memory_order_acquire);
    while (slot == nullptr || slot->owner != pid) {
        auto* fresh = new PoolSlot(pid);
        if (current_slot.compare_exchange_strong(slot, fresh, std::memory_order_acq_rel,
                                                 std::memory_order_acquire)) {
            return fresh;  // any previous slot is the parent's: leaked on purpose
        }
        delete fresh;  // another thread installed one first; `slot` now holds it
    }
    return slot;
}

}  // namespace

Result<std::unique_ptr<WorkerPool>> WorkerPool::create(std::size_t threads) { return start_thread_pool(threads); }

Result<WorkerPool*> WorkerPool::global() {
    PoolSlot* slot = slot_of_this_process();
    if (WorkerPool* pool = slot->pool.load(std::memory_order_acquire)) return pool;

    std::lock_guard lock(slot->creating);
    if (WorkerPool* pool = slot->pool.load(std::memory_order_relaxed)) return pool;
    // Like the size, a failure to start is decided once per process.
    if (slot->failure) return *slot->failure;
    auto created = create(pool_size_from_environment());
    if (!created) {
        slot->failure = Error{std::string(POOL_NOT_INITIALIZED) + ": " + created.error().message};
        return *slot->failure;
    }
    // Never deleted: joining workers from a static destructor at exit can
    // deadlock, and the threads sleep when idle anyway.
    WorkerPool* pool = std::move(created).value().release();
    slot->pool.store(pool, std::memory_order_release);
    return pool;
}

}  // namespace merrow
