// Small UTF-8 helpers shared by the lookups, the segmenter and the normaliser.
// Input text always comes from Python's UTF-8 encoder, so it is well formed;
// the decoder still never reads past the end of its input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace merrow::utf8 {

inline bool is_continuation(unsigned char b) noexcept { return (b & 0xC0) == 0x80; }

// Byte length of the sequence that starts with lead byte b (1 for stray bytes).
inline std::size_t sequence_length(unsigned char b) noexcept {
    if (b < 0x80) return 1;
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 1;
}

// Byte length of the character starting at s[pos], clamped to the text.
inline std::size_t char_length(std::string_view s, std::size_t pos) noexcept {
    std::size_t n = sequence_length(static_cast<unsigned char>(s[pos]));
    return n <= s.size() - pos ? n : s.size() - pos;
}

// Decodes the character at s[pos] and advances pos past it.
inline char32_t decode(std::string_view s, std::size_t& pos) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data()) + pos;
    std::size_t n = char_length(s, pos);
    pos += n;
    switch (n) {
        case 1: return p[0];
        case 2: return (char32_t(p[0] & 0x1F) << 6) | (p[1] & 0x3F);
        case 3: return (char32_t(p[0] & 0x0F) << 12) | (char32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
        default:
            return (char32_t(p[0] & 0x07) << 18) | (char32_t(p[1] & 0x3F) << 12) |
                   (char32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
    }
}

inline void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

inline void append(std::string& out, std::u32string_view cs) {
    for (char32_t c : cs) append(out, c);
}

// Number of characters: bytes that are not continuation bytes.
inline std::size_t count_chars(std::string_view s) noexcept {
    std::size_t n = 0;
    for (unsigned char b : s) n += !is_continuation(b);
    return n;
}

inline std::u32string decode_all(std::string_view s) {
    std::u32string out;
    out.reserve(s.size());
    for (std::size_t pos = 0; pos < s.size();) out.push_back(decode(s, pos));
    return out;
}

// is_valid() from byte `from` on, which must start a character.
bool is_valid_from(std::string_view s, std::size_t from) noexcept;

// Strict validation (no overlongs, surrogates or values past U+10FFFF); used
// on dictionary values, which come from files we read but do not trust, on
// every read. Values are mostly ASCII readings and labels: eight bytes are
// tested at a time until the first byte that is not ASCII, and only the rest
// from there is decoded.
inline bool is_valid(std::string_view s) noexcept {
    const char* p = s.data();
    const std::size_t n = s.size();
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, p + i, 8);
        if (word & 0x8080808080808080ull) break;
    }
    for (; i < n; ++i) {
        if (static_cast<unsigned char>(p[i]) >= 0x80) return is_valid_from(s, i);
    }
    return true;
}

}  // namespace merrow::utf8
