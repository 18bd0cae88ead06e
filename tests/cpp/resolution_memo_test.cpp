// ResolutionMemo: what is remembered comes back whole (the largest entry
// index and every label), slots outside its ranges keep nothing, keys never
// share a slot, and moving a memo keeps its slots.
#include <cstdint>
#include <string>
#include <optional>
#include <utility>

#include "check.hpp"
#include "segment/resolution_memo.hpp"

namespace {

using merrow::Label;
using merrow::ResolutionMemo;
using merrow::testing::check;
using Found = ResolutionMemo::Found;
using Kind = ResolutionMemo::Kind;

bool same(const std::optional<Found>& a, const Found& b) {
    return a && a->kind == b.kind && a->entry == b.entry && a->confidence == b.confidence && a->source == b.source;
}

void test_round_trips() {
    const ResolutionMemo memo(1000);
    const Kind kinds[] = {Kind::word_candidates, Kind::word, Kind::char_candidates, Kind::character};
    const std::uint32_t entries[] = {0, 1, 0xFFFF, 0x10000, 0xFFFFFFFF};
    bool all = true;
    for (Kind kind : kinds) {
        for (std::uint32_t entry : entries) {
            for (std::size_t a = 0; a < merrow::kLabelCount; ++a) {
                const Found f{kind, entry, static_cast<Label>(a), static_cast<Label>(merrow::kLabelCount - 1 - a)};
                memo.remember_word(999, f);
                memo.remember_char(0x4E2D, f);
                all = all && same(memo.for_word(999), f) && same(memo.for_char(0x4E2D), f);
            }
        }
    }
    check(all, "every kind, entry and pair of labels comes back as remembered");
}

void test_ranges() {
    const ResolutionMemo memo(10);
    const Found f{Kind::character, 7, Label::certain, Label::tojyutping};
    check(!memo.for_word(0) && !memo.for_char(0x4E00), "a fresh memo holds nothing");
    for (char32_t c : {char32_t{0}, char32_t{'a'}, char32_t{0x33FF}, char32_t{0xA000}, char32_t{0x20000}}) {
        memo.remember_char(c, f);
        check(!memo.for_char(c), "no slot for U+" + std::to_string(static_cast<unsigned>(c)));
    }
    for (std::uint64_t entry : {std::uint64_t{10}, std::uint64_t{11}, ~std::uint64_t{0}}) {
        memo.remember_word(entry, f);
        check(!memo.for_word(entry), "no slot for word entry " + std::to_string(entry));
    }
    memo.remember_char(0x3400, f);
    memo.remember_char(0x9FFF, f);
    memo.remember_word(9, f);
    check(same(memo.for_char(0x3400), f) && same(memo.for_char(0x9FFF), f) && same(memo.for_word(9), f),
          "the first and last slots of each range keep what they are given");
    memo.remember_word(0, Found{Kind::none, 1, Label::certain, Label::certain});
    check(!memo.for_word(0), "a resolution found in no table is not kept");
}

void test_keys_do_not_share_slots() {
    const ResolutionMemo memo(0x6C00);
    // Word entries number from 0, characters from U+3400: each must have
    // its own slot even where the numbers meet.
    for (std::uint32_t i = 0; i < 0x6C00; ++i) {
        memo.remember_word(i, Found{Kind::word, i, Label::certain, Label::rime});
    }
    bool chars_empty = true;
    for (char32_t c = 0x3400; c < 0xA000; ++c) chars_empty = chars_empty && !memo.for_char(c);
    check(chars_empty, "word entries leave the character slots empty");
    for (char32_t c = 0x3400; c < 0xA000; ++c) {
        memo.remember_char(c, Found{Kind::character, static_cast<std::uint32_t>(c), Label::certain, Label::unihan});
    }
    bool words_kept = true;
    for (std::uint32_t i = 0; i < 0x6C00; ++i) {
        words_kept = words_kept && same(memo.for_word(i), Found{Kind::word, i, Label::certain, Label::rime});
    }
    check(words_kept, "characters leave the word slots as they were");
}

void test_moves_and_no_memo() {
    ResolutionMemo memo(4);
    const Found f{Kind::word, 3, Label::tied, Label::oral_hk};
    memo.remember_word(3, f);
    ResolutionMemo moved(std::move(memo));
    check(same(moved.for_word(3), f), "a moved memo keeps its slots");
    ResolutionMemo assigned(8);
    assigned = std::move(moved);
    check(same(assigned.for_word(3), f), "a memo assigned from another takes its slots");
    const ResolutionMemo none;
    none.remember_word(0, f);
    none.remember_char(0x4E00, f);
    check(!none.for_word(0) && !none.for_char(0x4E00), "no memo keeps nothing");
}

}  // namespace

int main() {
    test_round_trips();
    test_ranges();
    test_keys_do_not_share_slots();
    test_moves_and_no_memo();
    return merrow::testing::report();
}
