// Text -> tokens: punctuation pass (when enabled), number pass, run split.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/utf8.hpp"
#include "pipeline/pipeline.hpp"
#include "segment/token_ref.hpp"

namespace merrow {

std::vector<std::string> tokenize(const Pipeline& pipeline, std::string_view text);

// Stage 3: cuts the expanded text into runs, drops whitespace, and appends
// the tokens of every run (and every other character) to `tokens`.
void split_runs(std::string_view expanded, const Pipeline& pipeline, std::vector<std::string>& tokens);

// Stages 1 and 2. Returns a view of the normalised text: into `storage`, or
// into `text` itself when neither pass would change it.
std::string_view normalize_text(const Pipeline& pipeline, std::string_view text, std::string& storage);

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

constexpr RunKind run_kind(char32_t c) noexcept {
    if (is_han(c)) return RunKind::Han;
    if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return RunKind::Latin;
    return RunKind::Other;
}

inline constexpr std::size_t kPrefixMemoMinBytes = 192;

// Stage 3 over views: calls visit(TokenRef) for every token of `expanded`,
// in order. Runs are contiguous byte ranges, so no run buffer is filled.
// Searches go through `ranges`, the caller's memo, when one is given.
template <class Visit>
void for_each_run_token(std::string_view expanded, const MappedDict& word, const UserDict& user_dict, Visit&& visit,
                        MappedDict::PrefixRanges* ranges = nullptr) {
    // Longer texts repeat their characters and character pairs: without a
    // memo from the caller, remember the key range of each for this text,
    // in a memo that grows with the text. Short texts are not worth
    // clearing it.
    const bool remember = ranges == nullptr && expanded.size() >= kPrefixMemoMinBytes;
    MappedDict::InlinePrefixRanges<1024> own(remember ? expanded.size() / 4 : 1);
    MappedDict::PrefixRanges* memo = ranges != nullptr ? ranges : remember ? &own : nullptr;
    std::size_t run_start = 0, run_end = 0;
    RunKind current = RunKind::Other;
    auto flush = [&] {
        std::string_view run = expanded.substr(run_start, run_end - run_start);
        if (run.empty()) return;
        if (current == RunKind::Han) for_each_han_token(run, word, user_dict, visit, memo);
        else if (current == RunKind::Latin) visit(TokenRef{run, false, std::nullopt, memo});
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
        run_start = start;
        run_end = kind != RunKind::Other ? pos : start;
        current = kind;
        if (kind == RunKind::Other && !is_white_space(c)) {
            visit(TokenRef{expanded.substr(start, pos - start), false, std::nullopt, memo});
        }
    }
    flush();
}

// All three stages: calls visit(TokenRef) for every token of `text`.
template <class Visit>
void for_each_token(const Pipeline& pipeline, std::string_view text, Visit&& visit,
                    MappedDict::PrefixRanges* ranges = nullptr) {
    std::string storage;
    std::string_view expanded = normalize_text(pipeline, text, storage);
    for_each_run_token(expanded, pipeline.word, pipeline.user_dict, visit, ranges);
}

}  // namespace merrow
