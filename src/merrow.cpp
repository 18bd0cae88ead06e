#include "merrow.hpp"

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
    for_each_record(p, text, [&](const RecordRef& r) {
        out.records.push(r, first_only, r.earlier == RecordRef::kNoEarlier && p.holds(r.token, r.reading));
    }, memo);
}

}  // namespace

std::optional<Error> convert_batch(const Pipeline& pipeline, Flavour flavour,
                                   std::span<const std::string_view> texts,
                                   FunctionRef<bool(std::size_t, TextResult&)> ready) {
    Result<WorkerPool*> pool = WorkerPool::global();
    if (!pool) return pool.error();
    std::vector<TextResult> results(texts.size());
    bool stopped = false;
    BatchPrefixRanges ranges;
    return pool.value()->run(
        texts.size(),
        [&](std::size_t begin, std::size_t end) {
            PrefixRanges* memo = ranges.for_this_thread();
            for (std::size_t i = begin; i < end; ++i) convert_one(pipeline, flavour, texts[i], results[i], memo);
        },
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end && !stopped; ++i) {
                stopped = !ready(i, results[i]);
                std::string().swap(results[i].plain);
                results[i].records.clear();
            }
        });
}

}  // namespace merrow
