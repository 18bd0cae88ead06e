#include "normalizer/source_map.hpp"

#include <algorithm>

namespace merrow {

void SourceMap::piece(std::size_t out_begin, std::size_t out_end, std::size_t src_begin, std::size_t src_end,
                      bool copied) {
    if (out_begin == out_end) return;  // a deleted character leaves no output to map
    if (copied && !pieces_.empty()) {
        Piece& last = pieces_.back();
        if (last.copied && last.out_end == out_begin && last.src_end == src_begin) {
            last.out_end = static_cast<std::uint32_t>(out_end);
            last.src_end = static_cast<std::uint32_t>(src_end);
            return;
        }
    }
    pieces_.push_back({static_cast<std::uint32_t>(out_begin), static_cast<std::uint32_t>(out_end),
                       static_cast<std::uint32_t>(src_begin), static_cast<std::uint32_t>(src_end), copied});
}

void SourceMap::sources_to_bytes(const std::vector<std::uint32_t>& byte_of) {
    for (Piece& p : pieces_) {
        p.src_begin = byte_of[p.src_begin];
        p.src_end = byte_of[p.src_end];
    }
}

const SourceMap::Piece& SourceMap::holding(std::size_t out) const noexcept {
    auto after = std::upper_bound(pieces_.begin(), pieces_.end(), out,
                                  [](std::size_t o, const Piece& p) { return o < p.out_begin; });
    return *(after - 1);
}

std::size_t SourceMap::start_of(std::size_t begin) const noexcept {
    const Piece& p = holding(begin);
    return p.copied ? p.src_begin + (begin - p.out_begin) : p.src_begin;
}

std::size_t SourceMap::end_of(std::size_t end) const noexcept {
    const Piece& p = holding(end - 1);
    return p.copied ? p.src_begin + (end - p.out_begin) : p.src_end;
}

}  // namespace merrow
