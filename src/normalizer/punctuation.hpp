// Stage 1 of tokenisation: punctuation mapping and space collapsing.
#pragma once

#include <string>
#include <string_view>

namespace merrow {

std::string normalize_punctuation(std::string_view text);

}  // namespace merrow
