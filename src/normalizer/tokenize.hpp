// Text -> tokens: the normalisation passes, then the run split (stage 3),
// which hands every Han run to the segmenter.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dict/lookup/mapped_dict.hpp"
#include "normalizer/normalize.hpp"
#include "segment/segment.hpp"
#include "text/char_class.hpp"
#include "text/utf8.hpp"
#include "user_dict/user_dict.hpp"

namespace merrow {

enum class RunKind { Han, Latin, Other };

constexpr RunKind run_kind(char32_t c) noexcept {
    if (is_han(c)) return RunKind::Han;
    if (is_ascii_alnum(c)) return RunKind::Latin;
    return RunKind::Other;
}

// Texts shorter than this repeat too little to repay a memo of key ranges.
inline constexpr std::size_t kPrefixMemoMinBytes = 192;

// Stage 3 over views: calls visit(TokenRef) for every token of `expanded`,
// in order: the segmenter's tokens of each Han run, each Latin run whole,
// and every other character but whitespace alone. Runs are contiguous byte
// ranges, so no run buffer is filled. Searches go through `ranges`, the
// caller's memo, when one is given.
template <class Visit>
void for_each_run_token(std::string_view expanded, const MappedDict& word, const UserDict& user_dict, Visit&& visit,
                        PrefixRanges* ranges = nullptr) {
    // Longer texts repeat their characters and character pairs: without a
    // memo from the caller, remember the key range of each for this text,
    // in a memo that grows with the text. Short texts are not worth
    // clearing it, nor is any text when word.bin has its trie index (its
    // searches, nearly all of them, then walk the trie and use no memo).
    const bool remember = ranges == nullptr && !word.indexed() && expanded.size() >= kPrefixMemoMinBytes;
    InlinePrefixRanges<1024> own(remember ? expanded.size() / 4 : 1);
    PrefixRanges* memo = ranges != nullptr ? ranges : remember ? &own : nullptr;
    std::size_t run_start = 0, run_end = 0;
    RunKind current = RunKind::Other;
    auto flush = [&] {
        std::string_view run = expanded.substr(run_start, run_end - run_start);
        if (run.empty()) return;
        if (current == RunKind::Han) segment_run(run, word, user_dict, visit, memo);
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
void for_each_token(bool punc_norm, const MappedDict& word, const UserDict& user_dict, std::string_view text,
                    Visit&& visit, PrefixRanges* ranges = nullptr) {
    std::string storage;
    std::string_view expanded = normalize_text(punc_norm, text, storage);
    for_each_run_token(expanded, word, user_dict, visit, ranges);
}

// The tokens of `text`, as owned strings.
std::vector<std::string> tokenize(bool punc_norm, const MappedDict& word, const UserDict& user_dict,
                                  std::string_view text);

}  // namespace merrow
