// Stage 2 of tokenisation: money, measurements, percentages, fractions,
// ratios and plain digit strings spelled out in Han numerals.
#pragma once

#include <string>
#include <string_view>

namespace merrow {

std::string expand_numbers(std::string_view text);

}  // namespace merrow
