// The scheduler behind WorkerPool: one queue of index ranges, halved down to
// a grain for idle workers, with running pieces split again for workers
// that fall asleep.
#pragma once

#include <cstddef>
#include <memory>

#include "common/result.hpp"
#include "parallel/worker_pool.hpp"

namespace merrow {

// A pool of `threads` workers; destroying it stops and joins them. Fails
// when the threads cannot be started.
Result<std::unique_ptr<WorkerPool>> start_thread_pool(std::size_t threads);

}  // namespace merrow
