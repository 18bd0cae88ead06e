// The number pass on digit-heavy text. Each input byte picks one piece from
// an alphabet of digits, separators, signs, currency marks and units, so the
// fuzzer spends its time on the number rules rather than on plain text.
// After the pass no ASCII or full-width digit may remain and the output must
// be well-formed UTF-8; the readers must spell any 64-bit value.
#include <cstring>

#include "fuzz_support.hpp"
#include "normalizer/expand_numbers.hpp"
#include "normalizer/number_reading.hpp"
#include "normalizer/punctuation.hpp"

using namespace merrow;

namespace {

// Digits come first and fill most of the table; the rest are the marks the
// number rules look at around a digit string.
constexpr const char* kPieces[] = {
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
    "0", "1", "2", "3", "4", "5", "6", "7", "8", "9",
    "\xEF\xBC\x90", "\xEF\xBC\x91", "\xEF\xBC\x99",  // full-width 0 1 9
    ",", ".", "%", "\xEF\xBC\x85", "/", ":", "\xEF\xBC\x9A", " ", "  ", "-", "--", "...",
    "$", "HK$", "HK", "\xE2\x82\xAC", "\xC2\xA3", "\xC2\xA5", "\xEF\xBF\xA5", "\xE2\x82\xA9",
    "USD", "RMB", "JPY", "USDX",
    "km/h", "m/s", "mph", "km", "cm", "m", "mm", "kg", "g", "mg", "mL", "ml", "L", "l", "W", "kW", "kWh",
    "\xC2\xB2", "\xC2\xB0" "C", "\xC2\xB0" "F", "\xE2\x84\x83", "\xE3\x8E\x9E",
    "\xE5\xB9\xB4",                  // 年
    "\xE8\x99\x9F", "\xE5\x88\x86",  // 號 分
    "a", "x", "\xE4\xB8\xAD",        // a x 中
    "\xE3\x80\x81", "\xE2\x80\xA6",  // 、 …
};
constexpr std::size_t kPieceCount = sizeof(kPieces) / sizeof(kPieces[0]);

bool has_digit(std::string_view text) {
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t c = utf8::decode(text, pos);
        if ((c >= U'0' && c <= U'9') || (c >= 0xFF10 && c <= 0xFF19)) return true;
    }
    return false;
}

void check_expanded(const std::string& text) {
    for (const std::string& in : {text, normalize_punctuation(text)}) {
        std::string out = expand_numbers(in);
        fuzz::require(utf8::is_valid(out), "number pass output is not UTF-8", out);
        fuzz::require(!has_digit(out), "digit left after the number pass", in);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text += kPieces[data[i] % kPieceCount];
    check_expanded(text);
    check_expanded(fuzz::valid_utf8(data, size));

    if (size >= 8) {
        std::uint64_t value;
        std::memcpy(&value, data, sizeof value);
        std::string reading = read_cardinal(value, data[0] & 1);
        fuzz::require(!reading.empty() && utf8::is_valid(reading) && !has_digit(reading), "bad cardinal reading");
    }
    return 0;
}
