// The records of convert_detailed and convert_candidates as a stream of
// views, for callers that build their own objects from them without first
// copying every field into an owned record.
#pragma once

#include <cstddef>
#include <string_view>

#include "normalizer/tokenize.hpp"
#include "pipeline/convert.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/record.hpp"
#include "pipeline/token_memo.hpp"
#include "segment/resolve.hpp"

namespace merrow {

// Calls emit(const RecordRef&) for every token of `expanded`, the
// normalised form of a text of `text_size` bytes, in order; the views are
// valid during the call only. `ranges` as for convert().
template <class Emit>
void for_each_record_in(const Pipeline& p, std::string_view expanded, std::size_t text_size, Emit&& emit,
                        PrefixRanges* ranges = nullptr) {
    TokenMemo memo(text_size);  // token -> index of its first record
    Resolution view;
    std::size_t count = 0;
    for_each_run_token(expanded, p.word(), p.user_dict(), [&](const TokenRef& t) {
        if (t.han) {
            if (const std::uint64_t* seen = memo.find(t.text)) {
                RecordRef repeat{t.text, Label::yue, {}, false, {}, {}, static_cast<std::size_t>(*seen)};
                emit(static_cast<const RecordRef&>(repeat));
                ++count;
                return;
            }
            memo.remember(t.text, count);
        }
        resolve_token(p.tables(), p.user_dict(), t, view);
        RecordRef record{t.text,          t.han ? Label::yue : classify_lang(t.text), view.value, view.is_list,
                         view.confidence, view.source,                          RecordRef::kNoEarlier};
        if (t.word_entry) {
            if (auto key = p.word().key_of(*t.word_entry)) record.key = *key;
        } else {
            record.key = view.char_key;
        }
        emit(static_cast<const RecordRef&>(record));
        ++count;
    }, ranges);
}

// Calls emit(const RecordRef&) for every token of `text`, in order; the
// views are valid during the call only. `ranges` as for convert().
template <class Emit>
void for_each_record(const Pipeline& p, std::string_view text, Emit&& emit,
                     PrefixRanges* ranges = nullptr) {
    if (text.empty()) return;
    std::string storage;
    std::string_view expanded = normalize_text(p.punc_norm(), text, storage);
    for_each_record_in(p, expanded, text.size(), emit, ranges);
}

}  // namespace merrow
