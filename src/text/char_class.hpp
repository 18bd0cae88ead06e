// Character classes, by exact code point: the Han ranges, the White_Space
// set and the digit tests, for every stage.
#pragma once

#include <cstddef>
#include <string_view>

#include "contracts.hpp"
#include "text/utf8.hpp"

namespace merrow {

// CJK Unified Ideographs, Extension A, Extension B and the Compatibility
// Ideographs (the ranges of the contracts file).
using contracts::is_han;

// Unicode White_Space.
constexpr bool is_white_space(char32_t c) noexcept {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
           c == 0x3000;
}

constexpr bool is_ascii_digit(char32_t c) noexcept { return c >= U'0' && c <= U'9'; }
constexpr bool is_ascii_letter(char32_t c) noexcept { return (c >= U'A' && c <= U'Z') || (c >= U'a' && c <= U'z'); }
constexpr bool is_ascii_alnum(char32_t c) noexcept { return is_ascii_digit(c) || is_ascii_letter(c); }
// U+FF10..U+FF19, encoded EF BC 90..EF BC 99.
constexpr bool is_fullwidth_digit(char32_t c) noexcept { return c >= 0xFF10 && c <= 0xFF19; }

// Value 0-9 of an ASCII or full-width digit, or -1.
constexpr int digit_value(char32_t c) noexcept {
    if (is_ascii_digit(c)) return static_cast<int>(c - U'0');
    if (is_fullwidth_digit(c)) return static_cast<int>(c - 0xFF10);
    return -1;
}

inline bool contains_han(std::string_view text) noexcept {
    for (std::size_t pos = 0; pos < text.size();) {
        if (is_han(utf8::decode(text, pos))) return true;
    }
    return false;
}

// Whether `text` holds an ASCII or a full-width digit, read from its bytes.
inline bool contains_digit(std::string_view text) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    for (std::size_t i = 0, n = text.size(); i < n; ++i) {
        unsigned char b = p[i];
        if (is_ascii_digit(b)) return true;
        if (b == 0xEF && i + 2 < n && p[i + 1] == 0xBC && p[i + 2] >= 0x90 && p[i + 2] <= 0x99) return true;
    }
    return false;
}

}  // namespace merrow
