#include "merrow.hpp"

#include <unistd.h>

#include <algorithm>
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
    // A token per character at most, and Han characters are three bytes:
    // one allocation for sentences and documents instead of one per
    // doubling. Longer texts grow as they go, so that a long text of few
    // tokens does not reserve for many.
    out.records.reserve(std::min<std::size_t>(text.size() / 3 + 1, 4096));
    for_each_record(p, text, [&](const RecordRef& r) {
        out.records.push(r, first_only, r.earlier == RecordRef::kNoEarlier && p.holds(r.token, r.reading));
    }, memo);
}

// Converts texts[i] into results[i] with convert(text, result, memo) on the
// pool, handing each finished result to ready() and then to release(), and
// asking keep_going() while it waits.
template <class TextOut, class Convert, class Release>
std::optional<Error> run_batch(std::span<const std::string_view> texts, Convert convert,
                               FunctionRef<bool(std::size_t, TextOut&)> ready, Release release,
                               FunctionRef<bool()> keep_going) {
    Result<WorkerPool*> pool = WorkerPool::global();
    if (!pool) return pool.error();
    const pid_t owner = getpid();
    auto results = std::make_unique<std::vector<TextOut>>(texts.size());
    bool stopped = false;
    BatchPrefixRanges ranges;
    auto failure = pool.value()->run(
        texts.size(),
        [&](std::size_t begin, std::size_t end) {
            PrefixRanges* memo = ranges.for_this_thread();
            for (std::size_t i = begin; i < end; ++i) convert(texts[i], (*results)[i], memo);
        },
        [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end && !stopped; ++i) {
                stopped = !ready(i, (*results)[i]);
                release((*results)[i]);
            }
        },
        [&] { return !stopped && keep_going(); });
    // In a child forked meanwhile, slots that the parent's workers were
    // filling at the fork may be half written: they are left alone.
    if (getpid() != owner) static_cast<void>(results.release());
    return failure;
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
    return run_batch<TextResult>(
        texts,
        [&](std::string_view text, TextResult& out, PrefixRanges* memo) {
            convert_one(pipeline, flavour, text, out, memo);
        },
        ready,
        [](TextResult& r) {
            std::string().swap(r.plain);
            r.records.clear();
        },
        keep_going);
}

std::optional<Error> align_batch(const Pipeline& pipeline, std::span<const std::string_view> texts,
                                 FunctionRef<bool(std::size_t, AlignedText&)> ready) {
    return run_batch<AlignedText>(
        texts,
        [&](std::string_view text, AlignedText& out, PrefixRanges* memo) { align_text(pipeline, text, out, memo); },
        ready,
        [](AlignedText& r) {
            r.records.clear();
            std::vector<std::uint32_t>().swap(r.spans);
        },
        [] { return true; });
}

}  // namespace merrow
