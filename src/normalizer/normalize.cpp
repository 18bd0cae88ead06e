#include "normalizer/normalize.hpp"

#include "normalizer/expand_numbers.hpp"
#include "normalizer/punctuation.hpp"
#include "text/char_class.hpp"

namespace merrow {

// The number pass changes only text that holds a digit.
std::string_view normalize_text(bool punc_norm, std::string_view text, std::string& storage) {
    if (punc_norm) {
        storage = normalize_punctuation(text);
        if (contains_digit(storage)) storage = expand_numbers(storage);
        return storage;
    }
    if (!contains_digit(text)) return text;
    storage = expand_numbers(text);
    return storage;
}

std::string_view normalize_text(bool punc_norm, std::string_view text, std::string& storage, SourceSpans& spans) {
    std::string_view current = text;
    if (punc_norm) {
        storage = normalize_punctuation(text, spans.punctuation_.emplace());
        current = storage;
    }
    if (contains_digit(current)) storage = expand_numbers(current, spans.numbers_.emplace());
    else return current;
    return storage;
}

std::pair<std::size_t, std::size_t> SourceSpans::source_of(std::size_t begin, std::size_t end) const noexcept {
    if (numbers_) {
        std::size_t b = numbers_->start_of(begin), e = numbers_->end_of(end);
        begin = b;
        end = e;
    }
    if (punctuation_) {
        std::size_t b = punctuation_->start_of(begin), e = punctuation_->end_of(end);
        begin = b;
        end = e;
    }
    return {begin, end};
}

}  // namespace merrow
