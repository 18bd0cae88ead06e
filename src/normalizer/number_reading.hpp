// Finding a digit string in decoded text and reading it as Han numerals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace merrow {

struct ScannedNumber {
    std::string digits;      // ASCII digits, optionally "." and more digits; no separators
    std::size_t consumed;    // code points spanned in the input
    bool grouped;            // took at least one "," thousands separator
};

std::optional<ScannedNumber> scan_number(std::u32string_view chars, std::size_t start);

std::string read_cardinal(std::uint64_t n, bool leading);
std::string read_digits(std::string_view s);
std::string read_decimal(std::string_view s);

// Value of a digit string when it fits in 64 bits (no "." allowed).
std::optional<std::uint64_t> parse_fitting(std::string_view digits) noexcept;

// The same readings, appended to an existing string so that the number pass
// writes straight into its output without a temporary per number.
void append_cardinal(std::string& out, std::uint64_t n, bool leading);
void append_digits(std::string& out, std::string_view s);
void append_decimal(std::string& out, std::string_view s);

}  // namespace merrow
