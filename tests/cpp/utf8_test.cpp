// utf8::is_valid against a reference written from the table of well-formed
// byte sequences (Unicode 15, Table 3-7), one byte range at a time: every
// string of one and two bytes, every three- and four-byte string that starts
// with a lead byte (the four-byte ones with a few third bytes), and ASCII
// runs of every length up to 24 around valid and ill-formed pieces, so that
// the first byte past ASCII falls at every offset of the eight-byte steps.
#include <random>
#include <string>
#include <vector>

#include "check.hpp"
#include "text/utf8.hpp"

using merrow::testing::check;

namespace {

// Length of the well-formed sequence at s[i], or 0 when there is none.
std::size_t well_formed_at(const std::string& s, std::size_t i) {
    auto at = [&](std::size_t k) { return i + k < s.size() ? static_cast<unsigned char>(s[i + k]) : -1; };
    auto in = [](int b, int lo, int hi) { return b >= lo && b <= hi; };
    const int b0 = at(0);
    if (in(b0, 0x00, 0x7F)) return 1;
    if (in(b0, 0xC2, 0xDF)) return in(at(1), 0x80, 0xBF) ? 2 : 0;
    int lo = 0x80, hi = 0xBF;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
    if (in(b0, 0xE0, 0xEF)) return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) ? 3 : 0;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
    if (in(b0, 0xF0, 0xF4)) return in(at(1), lo, hi) && in(at(2), 0x80, 0xBF) && in(at(3), 0x80, 0xBF) ? 4 : 0;
    return 0;
}

bool reference_valid(const std::string& s) {
    for (std::size_t i = 0; i < s.size();) {
        const std::size_t n = well_formed_at(s, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// Counts the disagreements; reports the first.
struct Tally {
    long cases = 0, mismatches = 0;
    std::string first;
    void compare(const std::string& s) {
        ++cases;
        // An exactly sized copy, so that a sanitizer sees any read past it.
        const std::vector<char> copy(s.begin(), s.end());
        if (merrow::utf8::is_valid(std::string_view(copy.data(), copy.size())) == reference_valid(s)) return;
        if (mismatches++ == 0) {
            for (unsigned char c : s) first += "0123456789ABCDEF"[c >> 4], first += "0123456789ABCDEF"[c & 15];
        }
    }
    void report(const std::string& what) {
        check(mismatches == 0, what + ": " + std::to_string(mismatches) + " of " + std::to_string(cases) +
                                   " differ, first on " + first);
    }
};

std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s.push_back(static_cast<char>(b));
    return s;
}

}  // namespace

int main() {
    Tally short_strings;
    short_strings.compare("");
    for (int a = 0; a < 256; ++a) {
        short_strings.compare(bytes({a}));
        for (int b = 0; b < 256; ++b) short_strings.compare(bytes({a, b}));
    }
    short_strings.report("every string of one and two bytes");

    Tally sequences;
    for (int a = 0xC0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            for (int c = 0; c < 256; ++c) sequences.compare(bytes({a, b, c}));
            if (a < 0xF0) continue;
            for (int c : {0x41, 0x80, 0xBF, 0xC0}) {
                for (int d = 0; d < 256; ++d) sequences.compare(bytes({a, b, c, d}));
            }
        }
    }
    sequences.report("three- and four-byte strings from a lead byte");

    // Valid pieces, ill-formed ones (a stray continuation, an overlong, a
    // surrogate, past U+10FFFF, cut short) and readings as the tables hold them.
    const std::string pieces[] = {"", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\xA0\x80\x80", "\xF4\x8F\xBF\xBF",
                                  "\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                                  "\xE4\xB8", "\xF0\xA0\x80", "\xFF", "jyut6 ping3", "a|b|"};
    Tally runs;
    std::mt19937 rng(8);
    for (std::size_t before = 0; before <= 24; ++before) {
        for (std::size_t after = 0; after <= 12; after += 3) {
            for (const std::string& piece : pieces) {
                for (const std::string& second : pieces) {
                    std::string s(before, 'a');
                    s += piece;
                    s.append(after, 'z');
                    s += second;
                    runs.compare(s);
                }
            }
        }
    }
    for (int n = 0; n < 200000; ++n) {
        std::string s(rng() % 12, 'x');
        for (std::size_t k = rng() % 6; k > 0; --k) {
            s += pieces[rng() % std::size(pieces)];
            s.append(rng() % 10, 'y');
        }
        runs.compare(s);
    }
    runs.report("ASCII runs around pieces");
    return merrow::testing::report();
}
