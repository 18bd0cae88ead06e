#include "pipeline/record.hpp"

namespace merrow {

RecordList::Span RecordList::keep(std::string_view s) {
    Span span{text_.size(), s.size()};
    text_.append(s);
    return span;
}

void RecordList::push(const RecordRef& r, bool first_only, bool reading_lasts) {
    Item item{};
    if (!r.key.empty()) {
        item.token = Span{0, r.key.size()};
        item.lasting_key = r.key.data();
    } else {
        item.token = keep(r.token);
    }
    item.lang = r.lang;
    item.earlier = r.earlier;
    if (r.earlier == RecordRef::kNoEarlier) {
        const bool is_list = r.is_list && !first_only;
        std::string_view reading = is_list ? r.reading : r.first_reading();
        if (reading_lasts) {
            item.reading = Span{0, reading.size()};
            item.lasting_reading = reading.data();
        } else {
            item.reading = keep(reading);
        }
        item.is_list = is_list;
        // Standard labels are known by their id; only other texts are kept.
        item.confidence_id = r.confidence.id;
        item.source_id = r.source.id;
        if (r.confidence.id == Label::other) item.confidence = keep(r.confidence.text);
        if (r.source.id == Label::other) item.source = keep(r.source.text);
    }
    items_.push_back(item);
}

RecordRef RecordList::operator[](std::size_t i) const noexcept {
    const Item& item = items_[i];
    const std::string_view key =
        item.lasting_key != nullptr ? std::string_view(item.lasting_key, item.token.size) : std::string_view();
    const std::string_view token = item.lasting_key != nullptr ? key : view(item.token);
    if (item.earlier != RecordRef::kNoEarlier) return RecordRef{token, item.lang, {}, false, {}, {}, item.earlier, key};
    auto label = [&](Label id, Span text) {
        return id == Label::other ? LabelText{id, view(text)} : LabelText::of(id);
    };
    return RecordRef{token,
                     item.lang,
                     item.lasting_reading != nullptr ? std::string_view(item.lasting_reading, item.reading.size)
                                                     : view(item.reading),
                     item.is_list,
                     label(item.confidence_id, item.confidence),
                     label(item.source_id, item.source),
                     RecordRef::kNoEarlier,
                     key};
}

void RecordList::clear() noexcept {
    std::string().swap(text_);
    std::vector<Item>().swap(items_);
}

}  // namespace merrow
