// The records of convert_detailed and convert_candidates as a stream of
// views, for callers that build their own objects from them without first
// copying every field into an owned record.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "normalizer/tokenize.hpp"
#include "pipeline/convert.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/record.hpp"
#include "pipeline/token_memo.hpp"
#include "pipeline/token_window.hpp"
#include "segment/context_model.hpp"
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
    std::string reordered;  // candidates the context model put in another order
    std::size_t count = 0;
    const ContextModel* model = p.context();
    // `around` is given for the tokens the model reads. A character the model
    // lists is decided before it is resolved, from the candidates found for
    // it at loading (as convert() does): where rank 0 stays first, its record
    // is the plain one, which an earlier record of the token may give. Any
    // other token the model reads depends on its neighbours, and is never
    // copied from an earlier one.
    auto record = [&](const TokenRef& t, const Neighbours* around) {
        const ContextModel::Scored* listed = around != nullptr ? model->scored(t.text) : nullptr;
        std::size_t rank = 0;
        if (listed != nullptr && listed->candidates && (p.user_dict().empty() || !p.user_dict().get(t.text))) {
            rank = model->choose(*listed, t.text, *around, t.ranges);
        }
        const bool plain = around == nullptr || (listed != nullptr && rank == 0);
        if (t.han && plain) {
            if (const std::uint64_t* seen = memo.find(t.text)) {
                RecordRef repeat{t.text, Label::yue, {}, false, {}, {}, static_cast<std::size_t>(*seen)};
                emit(static_cast<const RecordRef&>(repeat));
                ++count;
                return;
            }
            memo.remember(t.text, count);
        }
        resolve_token(p.tables(), p.user_dict(), t, view, &p.resolution_memo());
        RecordRef record{t.text,          t.han ? Label::yue : classify_lang(t.text), view.value, view.is_list,
                         view.confidence, view.source,                          RecordRef::kNoEarlier};
        if (t.word_entry) {
            if (auto key = p.word().key_of(*t.word_entry)) record.key = *key;
        } else {
            record.key = view.char_key;
        }
        std::string_view candidates = view.value;
        if (listed != nullptr) {
            if (rank != 0) candidates = *listed->candidates;
        } else if (around != nullptr && view.is_list) {
            rank = model->choose(t.text, *around, view.value, t.ranges);
        }
        if (rank != 0) {
            reordered.clear();
            ContextModel::promote(reordered, candidates, rank);
            record.reading = reordered;
            record.is_list = true;
            record.source = LabelText::of(Label::context);
        }
        emit(static_cast<const RecordRef&>(record));
        ++count;
    };
    if (model != nullptr) {
        auto wants = [model](const TokenRef& t) { return t.han && model->reads(t.text); };
        for_each_run_token_around(expanded, p.word(), p.user_dict(), wants, record, ranges);
    } else {
        for_each_run_token(expanded, p.word(), p.user_dict(), [&](const TokenRef& t) { record(t, nullptr); }, ranges);
    }
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
