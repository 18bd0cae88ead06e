#include "merrow.hpp"

#include <unistd.h>

#include <memory>
#include <vector>

#include "pipeline/batch_prefix_ranges.hpp"
#include "pipeline/record_stream.hpp"
#include "parallel/worker_pool.hpp"

namespace merrow {

void visit_records(const Pipeline& pipeline, std::string_view text, FunctionRef<void(const RecordRef&)> emit) {
    for_each_record(pipeline, text, emit);
}

namespace {

void convert_one(const Pipeline& p, Flavour flavour, std::string_view text, TextResult& out,
                 PrefixRanges* memo) {
    if (flavour == Flavour::plain) {
        out.plain = convert(p, text, memo);
        return;
    }
    const bool first_only = flavour == Flavour::detailed;
    for_each_record(p, text, [&](const RecordRef& r) { out.records.push(r, first_only); }, memo);
}

}  // namespace

std::optional<Error> convert_batch(const Pipeline& pipeline, Flavour flavour,
                                   std::span<const std::string_view> texts,
                                   FunctionRef<bool(std::size_t, TextResult&)> ready) {
    return convert_batch(pipeline, flavour, texts, ready, [] { return true; });
}

std::optional<Error> convert_batch(const Pipeline& pipeline, Flavour flavour,
                                   std::span<const std::string_view> texts,
                                   FunctionRef<bool(std::size_t, TextResult&)> ready,
                                   FunctionRef<bool()> keep_going) {
    Result<WorkerPool*> pool = WorkerPool::global();
    if (!pool) return pool.error();
    const pid_t owner = getpid();
    auto results = std::make_unique<std::vector<TextResult>>(texts.size());
    bool stopped = false;
    BatchPrefixRanges ranges;
    auto failure = pool.value()->run(
        texts.size(),
        [&](std::size_t begin, std::size_t end) {
            PrefixRanges* memo = ranges.for_this_thread();
            for (std::size_t i = begin; i < end; ++i) {
                convert_one(pipeline, flavour, texts[i], (*results)[i], memo);
            }
        },
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end && !stopped; ++i) {
                stopped = !ready(i, (*results)[i]);
                std::string().swap((*results)[i].plain);
                (*results)[i].records.clear();
            }
        },
        [&] { return !stopped && keep_going(); });
    // In a child forked meanwhile, slots that the parent's workers were
    // filling at the fork may be half written: they are left alone.
    if (getpid() != owner) static_cast<void>(results.release());
    return failure;
}

}  // namespace merrow
