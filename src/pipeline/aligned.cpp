#include "pipeline/aligned.hpp"

#include <string>

#include "normalizer/normalize.hpp"
#include "pipeline/record_stream.hpp"
#include "text/utf8.hpp"

namespace merrow {

namespace {

// Code point index of every character boundary of `text`, by byte offset.
std::vector<std::uint32_t> code_point_offsets(std::string_view text) {
    std::vector<std::uint32_t> at(text.size() + 1, 0);
    std::uint32_t count = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        at[pos] = count++;
        utf8::decode(text, pos);
    }
    at[text.size()] = count;
    return at;
}

}  // namespace

void align_text(const Pipeline& p, std::string_view text, AlignedText& out, PrefixRanges* ranges) {
    if (text.empty()) return;
    std::string storage;
    SourceSpans sources;
    const std::string_view expanded = normalize_text(p.punc_norm(), text, storage, sources);
    const std::vector<std::uint32_t> code_point = code_point_offsets(text);
    out.spans.reserve(2 * utf8::count_chars(expanded));
    for_each_record_in(p, expanded, text.size(), [&](const RecordRef& r) {
        out.records.push(r, true);
        const std::size_t base = static_cast<std::size_t>(r.token.data() - expanded.data());
        for (std::size_t pos = 0; pos < r.token.size();) {
            const std::size_t begin = base + pos;
            pos += utf8::char_length(r.token, pos);
            auto [start, end] = sources.source_of(begin, base + pos);
            out.spans.push_back(code_point[start]);
            out.spans.push_back(code_point[end]);
        }
    }, ranges);
}

}  // namespace merrow
