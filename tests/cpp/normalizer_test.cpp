// Unit driver for the number readers, the number pass and the punctuation
// pass. Prints one line per failure and a closing "N passed, N failed".
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>
#include <string_view>

#include "text/utf8.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/number_reading.hpp"
#include "normalizer/punctuation.hpp"

using namespace merrow;

namespace {

int passed = 0;
int failed = 0;

void check(bool ok, const std::string& what, const std::string& got, const std::string& want) {
    if (ok) {
        ++passed;
    } else {
        ++failed;
        std::printf("FAIL %s: got [%s], want [%s]\n", what.c_str(), got.c_str(), want.c_str());
    }
}

void eq(const std::string& what, const std::string& got, std::string_view want) {
    check(got == want, what, got, std::string(want));
}

struct Case {
    std::string_view in;
    std::string_view out;
};

void test_cardinal() {
    struct Row {
        std::uint64_t n;
        std::string_view out;
    };
    constexpr Row rows[] = {
        {0, "零"},
        {10, "十"},
        {15, "十五"},
        {20, "二十"},
        {105, "一百零五"},
        {110, "一百一十"},
        {250, "二百五十"},
        {1005, "一千零五"},
        {1010, "一千零一十"},
        {2024, "二千零二十四"},
        {10005, "一萬零五"},
        {12345, "一萬二千三百四十五"},
        {100000, "一十萬"},
        {120000, "一十二萬"},
        {1000100, "一百萬零一百"},
        {100000001, "一億零一"},
        {100010000, "一億零一萬"},
        {123456789, "一億二千三百四十五萬六千七百八十九"},
        {18446744073709551615ULL, "一千八百四十四億六千七百四十四萬零七百三十七億零九百五十五萬一千六百一十五"},
        {10000000000000000ULL, "一億億"},
        {7, "七"},
    };
    for (const auto& r : rows) eq("read_cardinal " + std::to_string(r.n), read_cardinal(r.n, true), r.out);
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
    constexpr Case decimals[] = {
        {"3.14", "三點一四"},
        {"0.5", "零點五"},
        {"10.05", "十點零五"},
        {"2.50", "二點五零"},
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
    constexpr Case cases[] = {
        {"$100", "一百元"},
        {"HK$2.50", "二點五零元"},
        {"USD 50", "五十美元"},
        {"€20", "二十歐元"},
        {"¥ 3000", "三千日圓"},
        {"£5", "五英鎊"},
        {"₩5", "五韓圓"},
        {"￥5", "五人民幣"},
        {"5km", "五公里"},
        {"5 km", "五公里"},
        {"3.5kg", "三點五公斤"},
        {"100km/h", "一百公里每小時"},
        {"30°C", "三十攝氏度"},
        {"30℃", "三十攝氏度"},
        {"50%", "百分之五十"},
        {"12.5％", "百分之十二點五"},
        {"1/2", "二分之一"},
        {"3:2", "三比二"},
        {"10:30", "十比三十"},
        {"3：2", "三比二"},
        {"3號", "三號"},
        {"15分", "十五分"},
        {"2024年", "二零二四年"},
        {"10年", "一零年"},
        {"2024", "二零二四"},
        {"3000", "三千"},
        {"123456", "一十二萬三千四百五十六"},
        {"91234567", "九一二三四五六七"},
        {"007", "七"},
        {"３號", "三號"},
        {"5 ms", "五 ms"},
        {"5 m.", "五米."},
        {"5 m2", "五米二"},
        {"5 mm²", "五平方毫米"},
        {"5 kWh", "五千瓦時"},
        {"5 KM", "五 KM"},
        {"$2024", "二千零二十四元"},
        {"1234567 km", "一百二十三萬四千五百六十七公里"},
        {"50 %", "五十 %"},
        {"1234/5", "一二三四/五"},
        {"2024/05/01", "二零二四/一分之五"},
        {"1/2cup", "一/二cup"},
        {"XUSD 5", "X五美元"},
        {"usd 5", "usd 五"},
        {"HK$", "HK$"},
        {"HK$ 100", "HK$ 一百"},
        {"$ 100", "$ 一百"},
        {"€x", "€x"},
        {"USDX 5", "USDX 五"},
        {"USD", "USD"},
        {"2000個", "二零零零個"},
        {"2000名", "二千名"},
        {"5.5.5", "五點五.五"},
        {"0999", "九百九十九"},
        {"0123456", "零一二三四五六"},
        {"-5", "-五"},
        {"第3號", "第三號"},
        {"A4", "A四"},
        {"$18446744073709551615", "一千八百四十四億六千七百四十四萬零七百三十七億零九百五十五萬一千六百一十五元"},
        {"18446744073709551615", "一八四四六七四四零七三七零九五五一六一五"},
        {"18446744073709551615%", "百分之一千八百四十四億六千七百四十四萬零七百三十七億零九百五十五萬一千六百一十五"},
        {"18446744073709551616%", "百分之一八四四六七四四零七三七零九五五一六一六"},
        {"18446744073709551616.5%", "百分之一八四四六七四四零七三七零九五五一六一六點五"},
        {"18446744073709551616號", "一八四四六七四四零七三七零九五五一六一六號"},
        {"3:2.5", "三:二點五"},
        {"1/2.5", "一/二點五"},
        {"1/1000", "一/一零零零"},
        {"99999999999999999999:1", "九九九九九九九九九九九九九九九九九九九九:一"},
        {"1:", "一:"},
        {"1/", "一/"},
        {"5.", "五."},
        {"", ""},
        {"無數字", "無數字"},
        // Thousands separators.
        {"$1,000", "一千元"},
        {"1,000", "一千"},
        {"1,000.5", "一千點五"},
        {"1,000%", "百分之一千"},
        {"1,000年", "一千年"},
        {"2,024年", "二千零二十四年"},
        {"12,345,678", "一千二百三十四萬五千六百七十八"},
        {"HK$2,500.50", "二千五百點五零元"},
        {"1,000/2", "一千/二"},
        {"2:1,000", "二:一千"},
        {"1/2,000", "一/二千"},
        {"0,001", "一"},
        {"1,2", "一,二"},
        {"1,23", "一,二十三"},
        {"1,0000", "一,零"},
        {"1,000,0000", "一千,零"},
        {"2,000個", "二千個"},
        {"1,000名", "一千名"},
        {"1,000km", "一千公里"},
        {"1,000.5%", "百分之一千點五"},
        {"１,０００", "一千"},
        {"1,000,000,000,000,000,000,000", "一零零零零零零零零零零零零零零零零零零零零零"},
    };
    for (const auto& c : cases) eq("expand_numbers " + std::string(c.in), expand_numbers(c.in), c.out);

    // Every unit and currency code, with and without the one skipped space.
    constexpr Case units[] = {
        {"km/h", "公里每小時"}, {"m/s", "米每秒"},     {"mph", "英里每小時"}, {"km²", "平方公里"},
        {"cm²", "平方厘米"},    {"mm²", "平方毫米"},   {"m²", "平方米"},      {"kWh", "千瓦時"},
        {"kW", "千瓦"},         {"km", "公里"},        {"cm", "厘米"},        {"mm", "毫米"},
        {"mg", "毫克"},         {"kg", "公斤"},        {"mL", "毫升"},        {"ml", "毫升"},
        {"°C", "攝氏度"},       {"°F", "華氏度"},      {"℃", "攝氏度"},       {"℉", "華氏度"},
        {"㎞", "公里"},         {"㎡", "平方米"},      {"m", "米"},           {"g", "克"},
        {"W", "瓦特"},          {"L", "公升"},         {"l", "公升"},
    };
    for (const auto& u : units) {
        eq("unit " + std::string(u.in), expand_numbers("7" + std::string(u.in)), "七" + std::string(u.out));
        eq("unit spaced " + std::string(u.in), expand_numbers("7 " + std::string(u.in) + "!"),
           "七" + std::string(u.out) + "!");
    }
    constexpr Case codes[] = {
        {"AUD", "澳元"}, {"CAD", "加元"}, {"CNY", "人民幣"}, {"EUR", "歐元"},   {"GBP", "英鎊"},
        {"JPY", "日圓"}, {"KRW", "韓圓"}, {"MYR", "令吉"},   {"RMB", "人民幣"}, {"SGD", "坡元"},
        {"THB", "泰銖"}, {"TWD", "新台幣"}, {"USD", "美元"},
    };
    for (const auto& c : codes) {
        eq("code " + std::string(c.in), expand_numbers(std::string(c.in) + "12"), "十二" + std::string(c.out));
        eq("code spaced " + std::string(c.in), expand_numbers(std::string(c.in) + " 12"),
           "十二" + std::string(c.out));
        eq("code two spaces " + std::string(c.in), expand_numbers(std::string(c.in) + "  12"),
           std::string(c.in) + "  十二");
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
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
