// The records of one text together with the span of the original text
// behind every character of every token, through the normalisation passes.
// A separate flavour: the ordinary conversions never record spans.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "dict/lookup/prefix_ranges.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/record.hpp"

namespace merrow {

// records: as convert_detailed's (first reading only). spans: two code point
// offsets of the original text (start, end) for each character of each
// token, in token order. A character made from several source characters
// (a spelled-out amount, a mapped run of dots) spans all of them; a deleted
// character belongs to no token.
struct AlignedText {
    RecordList records;
    std::vector<std::uint32_t> spans;
};

void align_text(const Pipeline& pipeline, std::string_view text, AlignedText& out, PrefixRanges* ranges = nullptr);

}  // namespace merrow
