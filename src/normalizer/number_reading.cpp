#include "normalizer/number_reading.hpp"

#include "text/char_class.hpp"

namespace merrow {

namespace {

constexpr std::string_view DIGIT_WORDS[10] = {"零", "一", "二", "三", "四",
                                              "五", "六", "七", "八", "九"};

constexpr std::uint64_t WAN = 10000;
constexpr std::uint64_t YI = 100000000;

bool is_digit_at(std::u32string_view chars, std::size_t i) noexcept {
    return i < chars.size() && digit_value(chars[i]) >= 0;
}

// Appends the digits of the run starting at i; returns the index after it.
std::size_t take_digits(std::u32string_view chars, std::size_t i, std::string& out) {
    for (; i < chars.size(); ++i) {
        int d = digit_value(chars[i]);
        if (d < 0) break;
        out.push_back(static_cast<char>('0' + d));
    }
    return i;
}

// A thousands group: "," then exactly three digits, no fourth digit after them.
bool group_at(std::u32string_view chars, std::size_t i) noexcept {
    return i < chars.size() && chars[i] == U',' && is_digit_at(chars, i + 1) &&
           is_digit_at(chars, i + 2) && is_digit_at(chars, i + 3) && !is_digit_at(chars, i + 4);
}

}  // namespace

std::optional<ScannedNumber> scan_number(std::u32string_view chars, std::size_t start) {
    if (!is_digit_at(chars, start)) return std::nullopt;
    ScannedNumber num{{}, 0, false};
    std::size_t i = take_digits(chars, start, num.digits);
    // Grouping only continues a lead of one to three digits, as in "12,345".
    if (i - start <= 3) {
        while (group_at(chars, i)) {
            i = take_digits(chars, i + 1, num.digits);
            num.grouped = true;
        }
    }
    if (i < chars.size() && chars[i] == U'.' && is_digit_at(chars, i + 1)) {
        num.digits.push_back('.');
        i = take_digits(chars, i + 1, num.digits);
    }
    num.consumed = i - start;
    return num;
}

std::optional<std::uint64_t> parse_fitting(std::string_view digits) noexcept {
    if (digits.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char ch : digits) {
        if (ch < '0' || ch > '9') return std::nullopt;
        auto d = static_cast<std::uint64_t>(ch - '0');
        if (value > (UINT64_MAX - d) / 10) return std::nullopt;
        value = value * 10 + d;
    }
    return value;
}

void append_cardinal(std::string& out, std::uint64_t n, bool leading) {
    if (n <= 9) {
        out += DIGIT_WORDS[n];
    } else if (n <= 99) {
        if (!(leading && n <= 19)) out += DIGIT_WORDS[n / 10];
        out += "十";
        if (n % 10 != 0) out += DIGIT_WORDS[n % 10];
    } else if (n <= 999) {
        out += DIGIT_WORDS[n / 100];
        out += "百";
        std::uint64_t r = n % 100;
        if (r == 0) return;
        if (r < 10) out += "零";
        append_cardinal(out, r, false);
    } else if (n <= 9999) {
        out += DIGIT_WORDS[n / 1000];
        out += "千";
        std::uint64_t r = n % 1000;
        if (r == 0) return;
        if (r < 100) out += "零";
        append_cardinal(out, r, false);
    } else if (n < YI) {
        append_cardinal(out, n / WAN, false);
        out += "萬";
        std::uint64_t r = n % WAN;
        if (r == 0) return;
        if (r < 1000) out += "零";
        append_cardinal(out, r, false);
    } else {
        append_cardinal(out, n / YI, false);
        out += "億";
        std::uint64_t r = n % YI;
        if (r == 0) return;
        if (r < 10000000) out += "零";
        append_cardinal(out, r, false);
    }
}

void append_digits(std::string& out, std::string_view s) {
    for (char ch : s) {
        if (is_ascii_digit(static_cast<unsigned char>(ch)))
            out += DIGIT_WORDS[ch - '0'];
        else
            out.push_back(ch);
    }
}

// An integer part is read by value; one too large for 64 bits can only be
// read digit by digit, with or without a fraction after it.
static void append_integer_part(std::string& out, std::string_view s) {
    if (auto value = parse_fitting(s))
        append_cardinal(out, *value, true);
    else
        append_digits(out, s);
}

void append_decimal(std::string& out, std::string_view s) {
    std::size_t p = s.find('.');
    if (p == std::string_view::npos) {
        if (!s.empty()) append_integer_part(out, s);
        return;
    }
    append_integer_part(out, s.substr(0, p));
    out += "點";
    append_digits(out, s.substr(p + 1));
}

std::string read_cardinal(std::uint64_t n, bool leading) {
    std::string out;
    append_cardinal(out, n, leading);
    return out;
}

std::string read_digits(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 3);
    append_digits(out, s);
    return out;
}

std::string read_decimal(std::string_view s) {
    std::string out;
    append_decimal(out, s);
    return out;
}

}  // namespace merrow
