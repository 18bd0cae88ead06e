// Stages 1 and 2 of tokenisation: the punctuation pass (when enabled), then
// the number pass.
#pragma once

#include <string>
#include <string_view>

namespace merrow {

// Returns a view of the normalised text: into `storage`, or into `text`
// itself when neither pass would change it.
std::string_view normalize_text(bool punc_norm, std::string_view text, std::string& storage);

}  // namespace merrow
