#include "pipeline/batch_prefix_ranges.hpp"

#include <atomic>
#include <memory>
#include <new>

namespace merrow {
namespace {

// 128 KiB: room for the characters and pairs of a large batch, and small
// enough to stay in a core's cache next to the dictionary pages in use.
using Memo = InlinePrefixRanges<4096>;

std::atomic<std::uint64_t> next_batch{1};

struct ThreadMemo {
    std::uint64_t batch = 0;  // the batch the memo is filled for
    std::unique_ptr<Memo> memo;
};
thread_local ThreadMemo this_thread;

}  // namespace

BatchPrefixRanges::BatchPrefixRanges() noexcept : batch_(next_batch.fetch_add(1, std::memory_order_relaxed)) {}

PrefixRanges* BatchPrefixRanges::for_this_thread() noexcept {
    ThreadMemo& t = this_thread;
    if (t.batch != batch_) {
        // What the memo holds was found in another batch, perhaps with
        // tables since unmapped and others mapped at their addresses.
        if (t.memo) t.memo->forget();
        else t.memo.reset(new (std::nothrow) Memo());
        t.batch = batch_;
    }
    return t.memo.get();
}

}  // namespace merrow
