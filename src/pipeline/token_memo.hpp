// A per-conversion memo from token text to a small payload (an offset or an
// index into the conversion's own output). Tokens repeat within a text and
// their readings depend on their text alone, so a repeated token is copied
// from its first occurrence instead of being looked up again. It lives for
// one conversion only: the pipeline itself stays immutable and shared.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace merrow {

class TokenMemo {
public:
    // Texts shorter than this repeat too little to repay clearing the table.
    static constexpr std::size_t kMinTextBytes = 192;

    // The slots live inside the object (so a memo on the stack allocates
    // nothing); a text gets about one slot per four bytes, and only those
    // slots are cleared.
    explicit TokenMemo(std::size_t text_bytes) noexcept {
        if (text_bytes < kMinTextBytes) return;
        std::size_t n = 64;
        while (n < text_bytes / 4 && n < kMaxSlots) n *= 2;
        for (std::size_t i = 0; i < n; ++i) slots_[i].data = nullptr;
        mask_ = n - 1;
    }
    TokenMemo(const TokenMemo&) = delete;
    TokenMemo& operator=(const TokenMemo&) = delete;

    // The payload remembered for `token`, if any.
    const std::uint64_t* find(std::string_view token) const noexcept {
        if (mask_ == 0) return nullptr;
        const Slot& s = slots_[index(token)];
        // An empty slot has only its pointer set: test that before its size.
        if (s.data == nullptr || s.size != token.size() || std::memcmp(s.data, token.data(), token.size()) != 0) {
            return nullptr;
        }
        return &s.payload;
    }

    // Remembers `payload` for `token`, whose bytes must outlive the memo.
    void remember(std::string_view token, std::uint64_t payload) noexcept {
        if (mask_ == 0) return;
        slots_[index(token)] = Slot{token.data(), token.size(), payload};
    }

private:
    static constexpr std::size_t kMaxSlots = 1024;

    struct Slot {
        const char* data;  // nullptr = empty slot
        std::size_t size;
        std::uint64_t payload;
    };

    std::size_t index(std::string_view token) const noexcept {
        std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a
        for (unsigned char b : token) h = (h ^ b) * 0x100000001b3ull;
        return static_cast<std::size_t>(h ^ (h >> 29)) & mask_;
    }

    std::size_t mask_ = 0;  // 0: too short a text, nothing is remembered
    Slot slots_[kMaxSlots];
};

}  // namespace merrow
