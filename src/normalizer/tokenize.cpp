#include "normalizer/tokenize.hpp"

#include "common/utf8.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/punctuation.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/segment.hpp"

namespace merrow {
namespace {

RunKind run_kind(char32_t c) noexcept {
    if (is_han(c)) return RunKind::Han;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return RunKind::Latin;
    return RunKind::Other;
}

}  // namespace

void split_runs(std::string_view expanded, const Pipeline& pipeline, std::vector<std::string>& tokens) {
    // A run is a byte range of `expanded`: runs are contiguous, so no buffer
    // needs to be filled character by character.
    std::size_t run_start = 0, run_end = 0;
    RunKind current = RunKind::Other;
    auto flush = [&] {
        segment_run(expanded.substr(run_start, run_end - run_start), current, pipeline.word, pipeline.user_dict,
                    tokens);
    };
    for (std::size_t pos = 0; pos < expanded.size();) {
        std::size_t start = pos;
        char32_t c = utf8::decode(expanded, pos);
        RunKind kind = run_kind(c);
        if (kind == current && kind != RunKind::Other) {
            run_end = pos;
            continue;
        }
        flush();
        run_start = run_end = start;
        current = kind;
        if (kind != RunKind::Other) {
            run_end = pos;
        } else if (!is_white_space(c)) {
            tokens.emplace_back(expanded.substr(start, pos - start));
        }
    }
    flush();
}

std::vector<std::string> tokenize(const Pipeline& pipeline, std::string_view text) {
    std::vector<std::string> tokens;
    std::string expanded =
        pipeline.punc_norm ? expand_numbers(normalize_punctuation(text)) : expand_numbers(text);
    split_runs(expanded, pipeline, tokens);
    return tokens;
}

}  // namespace merrow
