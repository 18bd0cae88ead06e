// What resolve_token found in the tables for a token, kept per pipeline so
// that the token's next occurrence reads its value without searching the
// tables again: a word by its entry in word.bin, a one-character token that
// is no word there by its code point (the common Han block and extension A).
//
// Each slot is one 64-bit word written and read atomically, so the batch
// workers share the memo without locks: two threads that resolve the same
// token store the same word. The slots are an anonymous mapping of zero
// pages, so only the pages of tokens met take memory, and all of it goes
// back to the system with the pipeline.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "segment/label.hpp"

namespace merrow {

class ResolutionMemo {
public:
    // Which table answered; its entry index is kept alongside.
    enum class Kind : std::uint8_t { none, word_candidates, word, char_candidates, character };

    struct Found {
        Kind kind;
        std::uint32_t entry;
        Label confidence;
        Label source;
    };

    // No memo: every lookup misses and nothing is stored.
    ResolutionMemo() noexcept = default;
    // Slots for a word table of `word_entries` entries; no memo when they
    // cannot be mapped.
    explicit ResolutionMemo(std::uint64_t word_entries) noexcept;
    ResolutionMemo(ResolutionMemo&& other) noexcept
        : word_slots_(other.word_slots_), slots_(other.slots_) {
        other.slots_ = nullptr;
    }
    ResolutionMemo& operator=(ResolutionMemo&& other) noexcept;
    ResolutionMemo(const ResolutionMemo&) = delete;
    ResolutionMemo& operator=(const ResolutionMemo&) = delete;
    ~ResolutionMemo();

    std::optional<Found> for_word(std::uint64_t entry) const noexcept { return read(word_slot(entry)); }
    std::optional<Found> for_char(char32_t c) const noexcept { return read(char_slot(c)); }
    void remember_word(std::uint64_t entry, const Found& found) const noexcept { write(word_slot(entry), found); }
    void remember_char(char32_t c, const Found& found) const noexcept { write(char_slot(c), found); }

private:
    static constexpr char32_t kFirstChar = 0x3400;  // CJK extension A, then the unified block
    static constexpr std::size_t kCharSlots = 0xA000 - kFirstChar;
    static constexpr std::size_t kNoSlot = ~std::size_t{0};

    std::size_t char_slot(char32_t c) const noexcept {
        return c >= kFirstChar && c - kFirstChar < kCharSlots ? c - kFirstChar : kNoSlot;
    }
    // Bytes of the mapping that holds the slots.
    std::size_t mapped_bytes() const noexcept { return (kCharSlots + word_slots_) * sizeof(std::uint64_t); }
    std::size_t word_slot(std::uint64_t entry) const noexcept {
        return entry < word_slots_ ? kCharSlots + static_cast<std::size_t>(entry) : kNoSlot;
    }

    // Layout: kind in bits 0-7, confidence 8-15, source 16-23, entry 32-63;
    // 0 is a slot never written.
    std::optional<Found> read(std::size_t slot) const noexcept {
        if (slots_ == nullptr || slot == kNoSlot) return std::nullopt;
        const std::uint64_t word = std::atomic_ref<std::uint64_t>(slots_[slot]).load(std::memory_order_relaxed);
        if (word == 0) return std::nullopt;
        return Found{static_cast<Kind>(word & 0xFF), static_cast<std::uint32_t>(word >> 32),
                     static_cast<Label>((word >> 8) & 0xFF), static_cast<Label>((word >> 16) & 0xFF)};
    }
    void write(std::size_t slot, const Found& f) const noexcept {
        if (slots_ == nullptr || slot == kNoSlot || f.kind == Kind::none) return;
        const std::uint64_t word = std::uint64_t{static_cast<std::uint8_t>(f.kind)} |
                                   std::uint64_t{static_cast<std::uint8_t>(f.confidence)} << 8 |
                                   std::uint64_t{static_cast<std::uint8_t>(f.source)} << 16 |
                                   std::uint64_t{f.entry} << 32;
        std::atomic_ref<std::uint64_t>(slots_[slot]).store(word, std::memory_order_relaxed);
    }

    std::uint64_t word_slots_ = 0;
    std::uint64_t* slots_ = nullptr;
};

}  // namespace merrow
