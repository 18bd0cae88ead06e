// Memos of dictionary key ranges for the texts of one batch: one per thread
// that converts some of them. A batch's texts share most of their characters
// and character pairs, so a thread's memo carries over from each of its texts
// to the next, which a single conversion cannot do without a cache in the
// pipeline. Each thread keeps its memo's storage from batch to batch; every
// batch starts it empty.
#pragma once

#include <cstdint>

#include "dict/lookup/mapped_dict.hpp"

namespace merrow {

class BatchPrefixRanges {
public:
    BatchPrefixRanges() noexcept;
    BatchPrefixRanges(const BatchPrefixRanges&) = delete;
    BatchPrefixRanges& operator=(const BatchPrefixRanges&) = delete;

    // The calling thread's memo for this batch, empty the first time the
    // thread asks for it. Nothing when its storage cannot be allocated:
    // conversions then use memos of their own. The memo is the thread's
    // alone, and valid until the thread serves another batch.
    PrefixRanges* for_this_thread() noexcept;

private:
    std::uint64_t batch_;
};

}  // namespace merrow
