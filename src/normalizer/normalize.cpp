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

}  // namespace merrow
