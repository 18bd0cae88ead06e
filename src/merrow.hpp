// The engine as its callers see it: load a pipeline, convert one text in
// three flavours, convert a list of texts on the worker pool. The Python
// binding includes this header only.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/function_ref.hpp"
#include "common/result.hpp"
#include "pipeline/aligned.hpp"
#include "pipeline/convert.hpp"
#include "pipeline/record.hpp"
#include "segment/label.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

// The records of one text, in order, as views valid during each call.
void visit_records(const Pipeline& pipeline, std::string_view text, FunctionRef<void(const RecordRef&)> emit);

enum class Flavour { plain, detailed, candidates };

// One text's result in a batch: `plain` for Flavour::plain, `records` for the
// others (detailed records hold their first reading only).
struct TextResult {
    std::string plain;
    RecordList records;
};

// Converts every text on the process's worker pool, each thread carrying
// its memo of dictionary ranges from text to text. While the rest convert,
// the calling thread calls ready(index, result) for every finished text, in
// the order they finish; once ready returns false it is not called again.
// The result may be moved from; it is released after the call. Fails only
// when the pool cannot run (its message is the pool's).
std::optional<Error> convert_batch(const Pipeline& pipeline, Flavour flavour,
                                   std::span<const std::string_view> texts,
                                   FunctionRef<bool(std::size_t, TextResult&)> ready);

// The aligned flavour (align_text) of every text, on the pool, as convert_batch.
std::optional<Error> align_batch(const Pipeline& pipeline, std::span<const std::string_view> texts,
                                 FunctionRef<bool(std::size_t, AlignedText&)> ready);

// convert_batch(), where the calling thread also asks keep_going() at least
// every few milliseconds (WorkerPool::POLL_INTERVAL) while it waits, and
// after each run of ready() calls. Once either says no, the texts not yet
// converted are dropped and the call returns as soon as the workers are out
// of the texts they are in (nothing: the caller knows why it stopped). If
// the process forks inside ready() or keep_going(), the call in the child
// fails at once (the workers converting the rest are not there).
std::optional<Error> convert_batch(const Pipeline& pipeline, Flavour flavour,
                                   std::span<const std::string_view> texts,
                                   FunctionRef<bool(std::size_t, TextResult&)> ready,
                                   FunctionRef<bool()> keep_going);

}  // namespace merrow
