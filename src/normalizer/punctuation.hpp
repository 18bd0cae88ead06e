// Stage 1 of tokenisation: punctuation mapping and space collapsing.
#pragma once

#include <string>
#include <string_view>

#include "normalizer/source_map.hpp"

namespace merrow {

std::string normalize_punctuation(std::string_view text);
// The same, recording the input bytes behind each output byte.
std::string normalize_punctuation(std::string_view text, SourceMap& map);

}  // namespace merrow
