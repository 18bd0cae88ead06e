// Unit driver for the number readers, the number pass and the punctuation
// pass. Prints one line per failure and a closing "N passed, N failed".
#include <cstdint>
#include <fstream>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "text/utf8.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/number_reading.hpp"
#include "normalizer/punctuation.hpp"

using namespace merrow;

namespace {

// The cases of one kind in tests/data/number_cases.tsv, shared with pytest:
// (given, expected) pairs. A missing file fails the driver.
std::vector<std::pair<std::string, std::string>> number_cases(std::string_view kind) {
    std::vector<std::pair<std::string, std::string>> cases;
    std::ifstream file(MERROW_NUMBER_CASES);
    testing::check(file.good(), std::string("read ") + MERROW_NUMBER_CASES);
    for (std::string line; std::getline(file, line);) {
        if (line.empty() || line[0] == '#') continue;
        const std::size_t tab1 = line.find('\t'), tab2 = line.find('\t', tab1 + 1);
        if (tab2 == std::string::npos || std::string_view(line).substr(0, tab1) != kind) continue;
        cases.emplace_back(line.substr(tab1 + 1, tab2 - tab1 - 1), line.substr(tab2 + 1));
    }
    testing::check(!cases.empty(), "number cases of kind " + std::string(kind));
    return cases;
}

void check(bool ok, const std::string& what, const std::string& got, const std::string& want) {
    testing::check(ok, what + ": got [" + got + "], want [" + want + "]");
}

void eq(const std::string& what, const std::string& got, std::string_view want) {
    check(got == want, what, got, std::string(want));
}

struct Case {
    std::string_view in;
    std::string_view out;
};

void test_cardinal() {
    for (const auto& [n, out] : number_cases("cardinal")) {
        eq("read_cardinal " + n, read_cardinal(std::stoull(n), true), out);
    }
    eq("read_cardinal 10 not leading", read_cardinal(10, false), "一十");
    eq("read_cardinal 15 not leading", read_cardinal(15, false), "一十五");
}

void test_scan() {
    struct Row {
        std::u32string_view in;
        std::size_t start;
        bool found;
        std::string_view digits;
        std::size_t consumed;
        bool grouped;
    };
    constexpr Row rows[] = {
        {U"\uFF11\uFF12\uFF0E\uFF15", 0, true, "12", 2, false},
        {U"5.x", 0, true, "5", 1, false},
        {U"1.2.3", 0, true, "1.2", 3, false},
        {U"ab", 0, false, "", 0, false},
        {U"a1", 2, false, "", 0, false},
        {U"a12", 1, true, "12", 2, false},
        {U"1,000", 0, true, "1000", 5, true},
        {U"1,000.5", 0, true, "1000.5", 7, true},
        {U"12,345,678", 0, true, "12345678", 10, true},
        {U"\uFF11,\uFF10\uFF10\uFF10", 0, true, "1000", 5, true},
        {U"1,2", 0, true, "1", 1, false},
        {U"1,23", 0, true, "1", 1, false},
        {U"1,0000", 0, true, "1", 1, false},
        {U"1,000,0000", 0, true, "1000", 5, true},
        {U"1234,567", 0, true, "1234", 4, false},
        {U"1,000,", 0, true, "1000", 5, true},
        {U"1.5,000", 0, true, "1.5", 3, false},
        {U"1\uFF0C000", 0, true, "1", 1, false},
    };
    for (const auto& r : rows) {
        std::string name;
        utf8::append(name, r.in);
        name = "scan_number " + name;
        auto got = scan_number(r.in, r.start);
        if (!r.found) {
            check(!got, name, got ? got->digits : "", "nothing");
            continue;
        }
        if (!got) {
            check(false, name, "nothing", std::string(r.digits));
            continue;
        }
        eq(name + " digits", got->digits, r.digits);
        check(got->consumed == r.consumed, name + " consumed", std::to_string(got->consumed),
              std::to_string(r.consumed));
        check(got->grouped == r.grouped, name + " grouped", std::to_string(got->grouped),
              std::to_string(r.grouped));
    }
}

void test_readers() {
    eq("read_digits 2024", read_digits("2024"), "二零二四");
    eq("read_digits 0800", read_digits("0800"), "零八零零");
    eq("read_digits empty", read_digits(""), "");
    for (const auto& [in, out] : number_cases("decimal")) eq("read_decimal " + in, read_decimal(in), out);
    constexpr Case decimals[] = {
        {"", ""},
        {"007", "七"},
        {"1234567890123456789012345", "一二三四五六七八九零一二三四五六七八九零一二三四五"},
        {"18446744073709551616", "一八四四六七四四零七三七零九五五一六一六"},
        {"18446744073709551616.5", "一八四四六七四四零七三七零九五五一六一六點五"},
        {"00000000000000000000001", "一"},
    };
    for (const auto& c : decimals) eq("read_decimal " + std::string(c.in), read_decimal(c.in), c.out);
    check(parse_fitting("18446744073709551615") == UINT64_MAX, "parse_fitting max", "", "");
    check(!parse_fitting("18446744073709551616"), "parse_fitting max+1", "", "");
    check(!parse_fitting("1.5"), "parse_fitting point", "", "");
    check(!parse_fitting(""), "parse_fitting empty", "", "");
}

void test_expand() {
    eq("expand_numbers of nothing", expand_numbers(""), "");
    for (const auto& [in, out] : number_cases("expand")) eq("expand_numbers " + in, expand_numbers(in), out);


    // Every unit and currency code, with and without the one skipped space.
    for (const auto& [unit, word] : number_cases("unit")) {
        eq("unit " + unit, expand_numbers("7" + unit), "七" + word);
        eq("unit spaced " + unit, expand_numbers("7 " + unit + "!"), "七" + word + "!");
    }
    for (const auto& [code, word] : number_cases("code")) {
        eq("code " + code, expand_numbers(code + "12"), "十二" + word);
        eq("code spaced " + code, expand_numbers(code + " 12"), "十二" + word);
        eq("code two spaces " + code, expand_numbers(code + "  12"), code + "  十二");
    }
}

void test_punctuation() {
    constexpr Case cases[] = {
        {"你好、世界", "你好，世界"},
        {"a–b", "a，b"},
        {"a—b", "a，b"},
        {"a——b", "a，b"},
        {"a———b", "a，，b"},
        {"a--b", "a，b"},
        {"a---b", "a，-b"},
        {"a-b", "a-b"},
        {"等等......", "等等。"},
        {"等等...", "等等。"},
        {"等等..", "等等.."},
        {"等等.", "等等."},
        {"等等…", "等等。"},
        {"等等………", "等等。"},
        {"「你好」", "你好"},
        {"‘’“”※■□▲△▼▽◆◇○◎●★☆〈〉《》「」『』【】〔〕", ""},
        {"甲·乙", "甲 乙"},
        {"甲 \t ·•‧・〜～乙", "甲 乙"},
        {" 甲", " 甲"},
        {"甲 「 乙", "甲  乙"},
        {"甲\n乙\r丙\u3000丁", "甲\n乙\r丙\u3000丁"},
        {"，。\"'", "，。\"'"},
        {"", ""},
        {"Ｘ", "Ｘ"},
        {"😀……", "😀。"},
    };
    for (const auto& c : cases)
        eq("normalize_punctuation " + std::string(c.in), normalize_punctuation(c.in), c.out);
}

// The punctuation pass written the plain way, character by character over
// the decoded text: the pass, which copies unmarked runs without decoding
// them, must agree with it on any text.
std::string reference_punctuation(std::string_view text) {
    static const std::u32string deleted = U"\u2018\u2019\u201C\u201D\u203B\u25A0\u25A1\u25B2\u25B3\u25BC\u25BD"
                                          U"\u25C6\u25C7\u25CB\u25CE\u25CF\u2605\u2606\u3008\u3009\u300A\u300B"
                                          U"\u300C\u300D\u300E\u300F\u3010\u3011\u3014\u3015";
    static const std::u32string spaces = U"\t \u00B7\u2022\u2027\u30FB\u301C\uFF5E";
    const std::u32string c = utf8::decode_all(text);
    auto at = [&](std::size_t k, char32_t ch) { return k < c.size() && c[k] == ch; };
    std::string out;
    bool after_space = false;
    for (std::size_t i = 0; i < c.size();) {
        const char32_t ch = c[i];
        bool space = false;
        if (ch == 0x3001 || ch == 0x2013) {
            out += "，";
            i += 1;
        } else if (ch == 0x2014) {
            out += "，";
            i += at(i + 1, 0x2014) ? 2 : 1;
        } else if (ch == U'-' && at(i + 1, U'-')) {
            out += "，";
            i += 2;
        } else if (ch == U'.' && at(i + 1, U'.') && at(i + 2, U'.')) {
            out += "。";
            while (at(i, U'.')) ++i;
        } else if (ch == 0x2026) {
            out += "。";
            while (at(i, 0x2026)) ++i;
        } else if (deleted.find(ch) != std::u32string::npos) {
            i += 1;
        } else if (spaces.find(ch) != std::u32string::npos) {
            if (!after_space) out.push_back(' ');
            space = true;
            i += 1;
        } else {
            utf8::append(out, ch);
            i += 1;
        }
        after_space = space;
    }
    return out;
}

void test_punctuation_against_reference() {
    // Every marked character, its neighbours in code-point order (same lead
    // bytes), and ordinary text of every UTF-8 length.
    const char32_t alphabet[] = {U'\t', U' ', U'-', U'.', U'a', U'\n', 0xA0, 0xB6, 0xB7, 0xB8, 0x2012, 0x2013,
                                 0x2014, 0x2015, 0x2018, 0x201D, 0x2022, 0x2026, 0x2027, 0x203B, 0x25A0, 0x25CF,
                                 0x2605, 0x2FFF, 0x3000, 0x3001, 0x3002, 0x3008, 0x3015, 0x301C, 0x30FB, 0x3400,
                                 0x4E2D, 0x9999, 0xF900, 0xFF0C, 0xFF5E, 0xFF5F, 0x1F600, 0x20000};
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    };
    int mismatches = 0;
    for (int round = 0; round < 20000 && mismatches < 5; ++round) {
        std::string text;
        // Half of the characters from the repeating marks, so that runs of
        // them are common.
        const char32_t repeating[] = {U'.', U'-', U' ', 0x2014, 0x2026, 0xB7};
        for (std::uint64_t k = next() % 24; k > 0; --k) {
            const std::uint64_t r = next();
            utf8::append(text, r % 2 ? repeating[(r >> 1) % std::size(repeating)] : alphabet[(r >> 1) % std::size(alphabet)]);
        }
        std::string got = normalize_punctuation(text), want = reference_punctuation(text);
        if (got == want) continue;
        ++mismatches;
        check(false, "normalize_punctuation agrees with the reference on [" + text + "]", got, want);
    }
    if (mismatches == 0) check(true, "", "", "");
}

}  // namespace

int main() {
    test_cardinal();
    test_scan();
    test_readers();
    test_expand();
    test_punctuation();
    test_punctuation_against_reference();
    return testing::report();
}
