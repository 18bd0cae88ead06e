#include "text/utf8.hpp"

namespace merrow::utf8 {

bool is_valid_from(std::string_view s, std::size_t from) noexcept {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    std::size_t n = s.size(), i = from;
    while (i < n) {
        unsigned char b = p[i];
        if (b < 0x80) { ++i; continue; }
        std::size_t len;
        char32_t min;
        char32_t c;
        if ((b & 0xE0) == 0xC0) { len = 2; min = 0x80; c = b & 0x1F; }
        else if ((b & 0xF0) == 0xE0) { len = 3; min = 0x800; c = b & 0x0F; }
        else if ((b & 0xF8) == 0xF0) { len = 4; min = 0x10000; c = b & 0x07; }
        else return false;
        if (n - i < len) return false;
        for (std::size_t k = 1; k < len; ++k) {
            if (!is_continuation(p[i + k])) return false;
            c = (c << 6) | (p[i + k] & 0x3F);
        }
        if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

}  // namespace merrow::utf8
