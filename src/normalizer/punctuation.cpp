#include "normalizer/punctuation.hpp"

#include <algorithm>
#include <array>

#include "normalizer/source_map.hpp"
#include "text/utf8.hpp"

namespace merrow {

namespace {

constexpr std::string_view FULL_WIDTH_COMMA = "，";
constexpr std::string_view FULL_WIDTH_STOP = "。";
constexpr char32_t EM_DASH = 0x2014;
constexpr char32_t ELLIPSIS = 0x2026;

// Quotes, brackets and decorative marks that carry nothing to read; sorted.
constexpr std::array<char32_t, 30> DELETED = {
    0x2018, 0x2019, 0x201C, 0x201D, 0x203B, 0x25A0, 0x25A1, 0x25B2, 0x25B3, 0x25BC,
    0x25BD, 0x25C6, 0x25C7, 0x25CB, 0x25CE, 0x25CF, 0x2605, 0x2606, 0x3008, 0x3009,
    0x300A, 0x300B, 0x300C, 0x300D, 0x300E, 0x300F, 0x3010, 0x3011, 0x3014, 0x3015,
};
static_assert(std::is_sorted(DELETED.begin(), DELETED.end()));

bool is_deleted(char32_t c) noexcept { return std::binary_search(DELETED.begin(), DELETED.end(), c); }

// Spaces, tabs and the middle dots and wave dashes that separate words.
bool is_space_group(char32_t c) noexcept {
    switch (c) {
        case 0x0009: case 0x0020: case 0x00B7: case 0x2022:
        case 0x2027: case 0x30FB: case 0x301C: case 0xFF5E:
            return true;
        default:
            return false;
    }
}

}  // namespace

// Whether a character starting with byte b can be one that the pass maps,
// deletes or collapses: ASCII tab, space, '-' and '.', and characters of
// U+0080-U+00BF (lead byte 0xC2), U+2000-U+3FFF (0xE2, 0xE3) and
// U+F000-U+FFFF (0xEF). Every other character, Han included, is copied as it
// stands without being decoded.
constexpr bool may_be_marked(unsigned char b) noexcept {
    return b == '\t' || b == ' ' || b == '-' || b == '.' || b == 0xC2 || b == 0xE2 || b == 0xE3 || b == 0xEF;
}

namespace {

template <class Map>
std::string normalize_with(std::string_view text, Map& map) {
    const std::size_t n = text.size();
    std::string out;
    out.reserve(n);
    bool after_space = false;
    std::size_t i = 0;
    // The character at byte k, and the byte after it.
    auto char_at = [&](std::size_t k, std::size_t& next) {
        next = k;
        return utf8::decode(text, next);
    };
    auto is_at = [&](std::size_t k, char32_t ch) {
        std::size_t next;
        return k < n && char_at(k, next) == ch;
    };

    while (i < n) {
        const std::size_t start = i;
        if (!may_be_marked(static_cast<unsigned char>(text[i]))) {
            // A run of characters that pass unchanged, copied at once.
            do {
                i += utf8::char_length(text, i);
            } while (i < n && !may_be_marked(static_cast<unsigned char>(text[i])));
            map.piece(out.size(), out.size() + (i - start), start, i, true);
            out.append(text, start, i - start);
            after_space = false;
            continue;
        }
        std::size_t next;
        const char32_t ch = char_at(i, next);
        const std::size_t out_start = out.size();
        bool space = false;
        bool copied = false;
        if (ch == 0x3001 || ch == 0x2013) {
            out += FULL_WIDTH_COMMA;
            i = next;
        } else if (ch == EM_DASH) {
            out += FULL_WIDTH_COMMA;
            i = next;
            if (is_at(i, EM_DASH)) char_at(i, i);
        } else if (ch == U'-' && is_at(next, U'-')) {
            out += FULL_WIDTH_COMMA;
            i = next + 1;
        } else if (ch == U'.' && is_at(next, U'.') && is_at(next + 1, U'.')) {
            out += FULL_WIDTH_STOP;
            while (i < n && text[i] == '.') ++i;
        } else if (ch == ELLIPSIS) {
            out += FULL_WIDTH_STOP;
            while (is_at(i, ELLIPSIS)) char_at(i, i);
        } else if (is_deleted(ch)) {
            i = next;
        } else if (is_space_group(ch)) {
            if (!after_space) out.push_back(' ');
            space = true;
            i = next;
        } else {
            utf8::append(out, ch);
            i = next;
            copied = true;
        }
        map.piece(out_start, out.size(), start, i, copied);
        after_space = space;
    }
    return out;
}

}  // namespace

std::string normalize_punctuation(std::string_view text) {
    NoSourceMap none;
    return normalize_with(text, none);
}

std::string normalize_punctuation(std::string_view text, SourceMap& map) { return normalize_with(text, map); }

}  // namespace merrow
