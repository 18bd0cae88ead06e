#include "normalizer/expand_numbers.hpp"

#include <cstdint>
#include <optional>
#include <vector>

#include "text/char_class.hpp"
#include "text/utf8.hpp"
#include "normalizer/number_reading.hpp"
#include "normalizer/source_map.hpp"

namespace merrow {

namespace {

struct Replacement {
    std::u32string_view text;
    std::string_view word;
};

constexpr Replacement CURRENCY_SYMBOLS[] = {
    {U"\u20AC", "歐元"}, {U"\u00A3", "英鎊"}, {U"\u20A9", "韓圓"},
    {U"\uFFE5", "人民幣"}, {U"\u00A5", "日圓"},
};

constexpr Replacement CURRENCY_CODES[] = {
    {U"AUD", "澳元"}, {U"CAD", "加元"},   {U"CNY", "人民幣"}, {U"EUR", "歐元"}, {U"GBP", "英鎊"},
    {U"JPY", "日圓"}, {U"KRW", "韓圓"},   {U"MYR", "令吉"},   {U"RMB", "人民幣"}, {U"SGD", "坡元"},
    {U"THB", "泰銖"}, {U"TWD", "新台幣"}, {U"USD", "美元"},
};

// First match wins, so every unit stands before the shorter units it starts with.
constexpr Replacement UNITS[] = {
    {U"km/h", "公里每小時"}, {U"m/s", "米每秒"},      {U"mph", "英里每小時"},
    {U"km\u00B2", "平方公里"}, {U"cm\u00B2", "平方厘米"}, {U"mm\u00B2", "平方毫米"},
    {U"m\u00B2", "平方米"},   {U"kWh", "千瓦時"},      {U"kW", "千瓦"},
    {U"km", "公里"},          {U"cm", "厘米"},          {U"mm", "毫米"},
    {U"mg", "毫克"},          {U"kg", "公斤"},          {U"mL", "毫升"},
    {U"ml", "毫升"},          {U"\u00B0C", "攝氏度"},   {U"\u00B0F", "華氏度"},
    {U"\u2103", "攝氏度"},    {U"\u2109", "華氏度"},    {U"\u339E", "公里"},
    {U"\u33A1", "平方米"},    {U"m", "米"},             {U"g", "克"},
    {U"W", "瓦特"},           {U"L", "公升"},           {U"l", "公升"},
};

// Characters after which a number counts things and is read as a cardinal.
constexpr std::u32string_view COUNTER_CHARS =
    U"\u5206\u4F4D\u540D\u5B63\u5BA4\u5C46\u5C64\u65E5\u6642\u6708\u671F\u6A13\u73ED\u79D2\u7D44"
    U"\u865F\u96C6\u9EDE";

constexpr char32_t YEAR_CHAR = 0x5E74;  // 年
constexpr std::string_view PERCENT_PREFIX = "百分之";

bool is_digit(char32_t c) noexcept { return digit_value(c) >= 0; }

bool is_percent(char32_t c) noexcept { return c == U'%' || c == 0xFF05; }

// Whether a rule of step() can start at c: a digit, a currency sign, 'H' of
// "HK$", or the first letter of a currency code. Any other character is
// copied at once.
bool may_start_rule(char32_t c) noexcept {
    if (c < 0x80) {
        switch (c) {
            case U'$': case U'H': case U'A': case U'C': case U'E': case U'G': case U'J': case U'K':
            case U'M': case U'R': case U'S': case U'T': case U'U':
                return true;
            default:
                return is_ascii_digit(c);
        }
    }
    for (const auto& sym : CURRENCY_SYMBOLS) {
        if (c == sym.text[0]) return true;
    }
    return is_fullwidth_digit(c);
}

// Map receives each step's output with its source in code point indices.
template <class Map>
class Expander {
public:
    Expander(std::string_view text, Map& map) : c_(utf8::decode_all(text)), map_(map) {
        out_.reserve(2 * c_.size());
    }

    std::string run() {
        while (i_ < c_.size()) {
            const std::size_t out_start = out_.size(), start = i_;
            const bool copied = step();
            map_.piece(out_start, out_.size(), start, i_, copied);
        }
        return std::move(out_);
    }

private:
    std::u32string c_;
    Map& map_;
    std::string out_;
    std::size_t i_ = 0;

    std::size_t size() const noexcept { return c_.size(); }

    bool at(std::size_t k, char32_t ch) const noexcept { return k < size() && c_[k] == ch; }

    // True when c[k..k+L) equals s and no ASCII letter follows it.
    bool word_at(std::size_t k, std::u32string_view s) const noexcept {
        if (k > size() || size() - k < s.size()) return false;
        if (std::u32string_view(c_).substr(k, s.size()) != s) return false;
        std::size_t end = k + s.size();
        return end == size() || !is_ascii_letter(c_[end]);
    }

    std::optional<ScannedNumber> scan(std::size_t k) const { return scan_number(c_, k); }

    // An amount read as money: the number by value, then the currency word.
    bool amount_at(std::size_t k, std::string_view word) {
        auto num = scan(k);
        if (!num) return false;
        append_decimal(out_, num->digits);
        out_ += word;
        i_ = k + num->consumed;
        return true;
    }

    // Position after a currency mark, skipping one space.
    std::size_t after_mark(std::size_t k) const noexcept { return at(k, U' ') ? k + 1 : k; }

    // One rule, or one character copied; true when the output is the
    // input unchanged.
    bool step() {
        char32_t ch = c_[i_];
        if (!may_start_rule(ch)) {
            utf8::append(out_, ch);
            ++i_;
            return true;
        }
        for (const auto& sym : CURRENCY_SYMBOLS) {
            if (ch == sym.text[0]) {
                if (amount_at(after_mark(i_ + 1), sym.word)) return false;
                break;
            }
        }
        if (ch == U'H' && at(i_ + 1, U'K') && at(i_ + 2, U'$')) {
            if (amount_at(i_ + 3, "元")) return false;
            out_ += "HK$";
            i_ += 3;
            return true;
        }
        if (ch == U'$') {
            if (amount_at(i_ + 1, "元")) return false;
            out_ += "$";
            i_ += 1;
            return true;
        }
        for (const auto& code : CURRENCY_CODES) {
            if (word_at(i_, code.text)) {
                if (amount_at(after_mark(i_ + 3), code.word)) return false;
                break;
            }
        }
        if (is_digit(ch)) {
            number();
            return false;
        }
        utf8::append(out_, ch);
        ++i_;
        return true;
    }

    // The number rules for the number starting at i_.
    void number() {
        ScannedNumber num = *scan(i_);
        const std::size_t j = i_ + num.consumed;

        std::size_t u = after_mark(j);
        for (const auto& unit : UNITS) {
            if (word_at(u, unit.text)) {
                append_decimal(out_, num.digits);
                out_ += unit.word;
                i_ = u + unit.text.size();
                return;
            }
        }

        const bool has_point = num.digits.find('.') != std::string::npos;
        const char32_t v = j < size() ? c_[j] : 0;

        if (has_point) {
            if (is_percent(v)) {
                out_ += PERCENT_PREFIX;
                append_decimal(out_, num.digits);
                i_ = j + 1;
            } else {
                append_decimal(out_, num.digits);
                i_ = j;
            }
            return;
        }

        if (v == U'/') {
            if (fraction(num, j)) return;
            general(num, j);
            return;
        }
        if (v == U':' || v == 0xFF1A) {
            if (ratio(num, j)) return;
            general(num, j);
            return;
        }

        const std::optional<std::uint64_t> value = parse_fitting(num.digits);
        if (value && COUNTER_CHARS.find(v) != std::u32string_view::npos) {
            append_cardinal(out_, *value, true);
            i_ = j;
            return;
        }
        if (v == YEAR_CHAR) {
            // A grouped number is a written value, never a year read digit by digit.
            if (num.grouped)
                append_decimal(out_, num.digits);
            else
                append_digits(out_, num.digits);
            i_ = j;
            return;
        }
        if (is_percent(v)) {
            // Too large a value is still a percentage: its digits are read one by one.
            out_ += PERCENT_PREFIX;
            if (value)
                append_cardinal(out_, *value, true);
            else
                append_digits(out_, num.digits);
            i_ = j + 1;
            return;
        }
        general(num, j);
    }

    // "N/D" with short plain numbers on both sides, denominator read first.
    bool fraction(const ScannedNumber& num, std::size_t j) {
        if (num.grouped || num.digits.size() > 3) return false;
        auto den = scan(j + 1);
        if (!den || den->grouped || den->consumed > 3) return false;
        if (den->digits.find('.') != std::string::npos) return false;
        std::size_t end = j + 1 + den->consumed;
        if (end < size() && is_ascii_letter(c_[end])) return false;
        append_cardinal(out_, *parse_fitting(den->digits), true);
        out_ += "分之";
        append_cardinal(out_, *parse_fitting(num.digits), true);
        i_ = end;
        return true;
    }

    // "N:M" with both terms plain values that fit.
    bool ratio(const ScannedNumber& num, std::size_t j) {
        if (num.grouped) return false;
        auto left = parse_fitting(num.digits);
        if (!left) return false;
        auto rhs = scan(j + 1);
        if (!rhs || rhs->grouped) return false;
        auto right = parse_fitting(rhs->digits);
        if (!right) return false;
        append_cardinal(out_, *left, true);
        out_ += "比";
        append_cardinal(out_, *right, true);
        i_ = j + 1 + rhs->consumed;
        return true;
    }

    // A digit string with no mark that selects another reading.
    void general(const ScannedNumber& num, std::size_t j) {
        i_ = j;
        if (num.grouped) {
            append_decimal(out_, num.digits);
            return;
        }
        const std::string& d = num.digits;
        if (d.size() == 4 && (d[0] == '1' || d[0] == '2')) {
            append_digits(out_, d);  // read like a year
        } else if (d.size() > 6) {
            append_digits(out_, d);
        } else {
            append_cardinal(out_, *parse_fitting(d), true);
        }
    }
};

}  // namespace

std::string expand_numbers(std::string_view text) {
    NoSourceMap none;
    return Expander<NoSourceMap>(text, none).run();
}

std::string expand_numbers(std::string_view text, SourceMap& map) {
    std::string out = Expander<SourceMap>(text, map).run();
    std::vector<std::uint32_t> byte_of;
    byte_of.reserve(text.size() + 1);
    for (std::size_t pos = 0; pos < text.size(); utf8::decode(text, pos)) {
        byte_of.push_back(static_cast<std::uint32_t>(pos));
    }
    byte_of.push_back(static_cast<std::uint32_t>(text.size()));
    map.sources_to_bytes(byte_of);
    return out;
}

}  // namespace merrow
