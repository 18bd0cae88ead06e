// Stage 2 of tokenisation: money, measurements, percentages, fractions,
// ratios and plain digit strings spelled out in Han numerals.
#pragma once

#include <string>
#include <string_view>

#include "normalizer/source_map.hpp"

namespace merrow {

std::string expand_numbers(std::string_view text);
// The same, recording the input bytes behind each output byte.
std::string expand_numbers(std::string_view text, SourceMap& map);

}  // namespace merrow
