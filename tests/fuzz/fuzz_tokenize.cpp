// tokenize on arbitrary text: every token is non-empty, well-formed UTF-8 and
// free of whitespace, and the tokens spell the expanded text with whitespace
// removed. Raw (ill-formed) bytes are run too, for memory safety only.
#include "fuzz_support.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/punctuation.hpp"
#include "normalizer/tokenize.hpp"

using namespace merrow;

namespace {

std::string without_whitespace(std::string_view text) {
    std::string out;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t start = pos;
        char32_t c = utf8::decode(text, pos);
        if (!is_white_space(c)) out.append(text.substr(start, pos - start));
    }
    return out;
}

void check_tokens(const Pipeline& p, const std::string& text) {
    std::vector<std::string> tokens = tokenize(p, text);
    std::string joined;
    for (const std::string& token : tokens) {
        fuzz::require(!token.empty(), "empty token");
        fuzz::require(utf8::is_valid(token), "token is not UTF-8", token);
        for (std::size_t pos = 0; pos < token.size();) {
            fuzz::require(!is_white_space(utf8::decode(token, pos)), "whitespace inside a token", token);
        }
        joined += token;
    }
    std::string expanded = expand_numbers(p.punc_norm() ? normalize_punctuation(text) : text);
    fuzz::require(joined == without_whitespace(expanded), "tokens do not spell the expanded text", joined);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Pipelines& ps = fuzz::pipelines();
    std::string text = fuzz::valid_utf8(data, size);
    check_tokens(ps.with_user, text);
    check_tokens(ps.plain, text);
    std::string_view raw(reinterpret_cast<const char*>(data), size);
    tokenize(ps.with_user, raw);
    tokenize(ps.plain, raw);
    return 0;
}
