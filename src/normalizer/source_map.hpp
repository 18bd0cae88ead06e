// Where each byte of a pass's output came from in its input, for the
// conversions that report source spans. The passes take the recorder as a
// template argument: NoSourceMap records nothing and compiles away, so the
// ordinary conversions run the same code as without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace merrow {

struct NoSourceMap {
    static constexpr void piece(std::size_t, std::size_t, std::size_t, std::size_t, bool) noexcept {}
};

// Output bytes [out_begin, out_end) came from input units [src_begin,
// src_end). A copied piece is its source unchanged, so it maps byte for
// byte; any other byte maps to the whole of its piece's source. Pieces
// cover the output in order, and their sources rise with them.
class SourceMap {
public:
    void piece(std::size_t out_begin, std::size_t out_end, std::size_t src_begin, std::size_t src_end, bool copied);

    // Rewrites the source offsets from code point indices into byte offsets:
    // byte_of[k] is the byte offset of code point k (and of the end, at the
    // number of code points).
    void sources_to_bytes(const std::vector<std::uint32_t>& byte_of);

    // Source range of the output range [begin, end), begin < end, both
    // within the output.
    std::size_t start_of(std::size_t begin) const noexcept;
    std::size_t end_of(std::size_t end) const noexcept;

private:
    struct Piece {
        std::uint32_t out_begin, out_end, src_begin, src_end;
        bool copied;
    };
    const Piece& holding(std::size_t out) const noexcept;

    std::vector<Piece> pieces_;
};

}  // namespace merrow
