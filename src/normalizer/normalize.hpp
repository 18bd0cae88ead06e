// Stages 1 and 2 of tokenisation: the punctuation pass (when enabled), then
// the number pass.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "normalizer/source_map.hpp"

namespace merrow {

// Returns a view of the normalised text: into `storage`, or into `text`
// itself when neither pass would change it.
std::string_view normalize_text(bool punc_norm, std::string_view text, std::string& storage);

// The byte range of the original text behind a byte range of the normalised
// text, through whichever passes changed it.
class SourceSpans {
public:
    // [begin, end) of the normalised text, begin < end.
    std::pair<std::size_t, std::size_t> source_of(std::size_t begin, std::size_t end) const noexcept;

private:
    friend std::string_view normalize_text(bool, std::string_view, std::string&, SourceSpans&);
    std::optional<SourceMap> punctuation_, numbers_;
};

// normalize_text, also filling `spans`.
std::string_view normalize_text(bool punc_norm, std::string_view text, std::string& storage, SourceSpans& spans);

}  // namespace merrow
