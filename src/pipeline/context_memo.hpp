// A per-conversion memo of the context model's decisions. A decision
// depends on the token and its two neighbours alone, and in a long text the
// same three tokens meet again ("到" after "搵" before "佢"), so a repeated
// context is answered without looking its features up again. It lives for
// one conversion only: the pipeline stays immutable and shared.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "segment/context_model.hpp"

namespace merrow {

class ContextMemo {
public:
    // What the model decided for one context: the rank that won, and the
    // reading it gives (a view into the pipeline's tables; empty for rank 0).
    struct Decision {
        std::size_t rank;
        const char* data;
        std::size_t size;
        std::string_view reading() const noexcept { return {data, size}; }
    };

    // Texts shorter than this repeat too few contexts to repay clearing.
    static constexpr std::size_t kMinTextBytes = 192;

    explicit ContextMemo(std::size_t text_bytes) noexcept {
        if (text_bytes < kMinTextBytes) return;
        for (Slot& s : slots_) s.token = nullptr;
        enabled_ = true;
    }
    ContextMemo(const ContextMemo&) = delete;
    ContextMemo& operator=(const ContextMemo&) = delete;

    // The decision remembered for `token` between `around`, if any.
    const Decision* find(std::string_view token, const Neighbours& around) const noexcept {
        if (!enabled_) return nullptr;
        const Slot& s = slots_[index(token, around)];
        if (s.token == nullptr || view(s.token, s.token_size) != token ||
            view(s.before, s.before_size) != around.before || view(s.after, s.after_size) != around.after) {
            return nullptr;
        }
        return &s.decision;
    }

    // Remembers `decision`; the views must outlive the memo.
    void remember(std::string_view token, const Neighbours& around, Decision decision) noexcept {
        if (!enabled_) return;
        slots_[index(token, around)] = Slot{token.data(),  around.before.data(), around.after.data(), token.size(),
                                            around.before.size(), around.after.size(), decision};
    }

private:
    static constexpr std::size_t kSlots = 128;

    // Plain pointers and sizes, so that the slots of a memo that is never
    // enabled are not even cleared.
    struct Slot {
        const char* token;  // nullptr = empty slot
        const char* before;
        const char* after;
        std::size_t token_size;
        std::size_t before_size;
        std::size_t after_size;
        Decision decision;
    };
    static std::string_view view(const char* data, std::size_t size) noexcept { return {data, size}; }

    static std::size_t hash(std::initializer_list<std::string_view> parts) noexcept {
        std::uint64_t h = 0xcbf29ce484222325ull;  // FNV-1a, a separator between the parts
        for (std::string_view part : parts) {
            for (unsigned char b : part) h = (h ^ b) * 0x100000001b3ull;
            h = (h ^ 0xFF) * 0x100000001b3ull;
        }
        return static_cast<std::size_t>(h ^ (h >> 32));
    }
    static std::size_t index(std::string_view token, const Neighbours& around) noexcept {
        return hash({around.before, token, around.after}) & (kSlots - 1);
    }

    std::array<Slot, kSlots> slots_;
    bool enabled_ = false;
};

}  // namespace merrow
