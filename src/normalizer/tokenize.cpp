#include "normalizer/tokenize.hpp"

#include "normalizer/expand_numbers.hpp"
#include "normalizer/punctuation.hpp"

namespace merrow {
namespace {

// The number pass changes only text that holds an ASCII digit or a
// full-width digit (U+FF10..U+FF19, encoded EF BC 90..99).
bool contains_digit(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0, n = text.size(); i < n; ++i) {
        unsigned char b = p[i];
        if (b >= '0' && b <= '9') return true;
        if (b == 0xEF && i + 2 < n && p[i + 1] == 0xBC && p[i + 2] >= 0x90 && p[i + 2] <= 0x99) return true;
    }
    return false;
}

}  // namespace

std::string_view normalize_text(const Pipeline& pipeline, std::string_view text, std::string& storage) {
    if (pipeline.punc_norm) {
        storage = normalize_punctuation(text);
        if (contains_digit(storage)) storage = expand_numbers(storage);
        return storage;
    }
    if (!contains_digit(text)) return text;
    storage = expand_numbers(text);
    return storage;
}

void split_runs(std::string_view expanded, const Pipeline& pipeline, std::vector<std::string>& tokens) {
    for_each_run_token(expanded, pipeline.word, pipeline.user_dict,
                       [&](const TokenRef& t) { tokens.emplace_back(t.text); });
}

std::vector<std::string> tokenize(const Pipeline& pipeline, std::string_view text) {
    std::vector<std::string> tokens;
    for_each_token(pipeline, text, [&](const TokenRef& t) { tokens.emplace_back(t.text); });
    return tokens;
}

}  // namespace merrow
