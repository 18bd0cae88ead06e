// One record of convert_detailed or convert_candidates, as views (RecordRef),
// and the records of one text held in one buffer (RecordList), for results
// that outlive the conversion.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "segment/label.hpp"

namespace merrow {

struct RecordRef {
    static constexpr std::size_t kNoEarlier = static_cast<std::size_t>(-1);

    std::string_view token;
    Label lang;
    std::string_view reading;  // one reading; with is_list, readings joined by '|'
    bool is_list;
    LabelText confidence;
    LabelText source;
    // Index of an earlier record of the same token, and so with the same
    // fields (readings depend on the token's text alone), or kNoEarlier. Only
    // token and lang are set when it is set.
    std::size_t earlier;
    // The token's own bytes in the table that gave its reading, when that is
    // word.bin or a character table (the same text, in memory that lives as
    // long as the pipeline); else empty.
    std::string_view key = {};

    std::string_view first_reading() const noexcept {
        return is_list ? reading.substr(0, reading.find('|')) : reading;
    }
};

// Owned copies of one text's records: their texts in one buffer, so a
// record costs no allocation of its own.
class RecordList {
public:
    // Appends a copy of `r`; with first_only, of its first reading only. A
    // reading that outlives the list (reading_lasts: a view into the
    // pipeline's tables or user dictionary) is kept as that view, uncopied,
    // so that records read back from the list still point there; so is a
    // token's key in the tables (RecordRef::key), which then stands for the token.
    void push(const RecordRef& r, bool first_only, bool reading_lasts = false);
    // Room for `records` records without growing.
    void reserve(std::size_t records) { items_.reserve(records); }
    std::size_t size() const noexcept { return items_.size(); }
    // Record i, as views into the list (valid until the next push or clear).
    RecordRef operator[](std::size_t i) const noexcept;
    // Releases the storage.
    void clear() noexcept;

private:
    struct Span {
        std::size_t offset;
        std::size_t size;
    };
    struct Item {
        Span token, reading, confidence, source;
        const char* lasting_reading;  // the reading's bytes when not copied, else nullptr
        const char* lasting_key;      // the token's key in the tables when it has one, else nullptr
        Label lang, confidence_id, source_id;
        bool is_list;
        std::size_t earlier;
    };
    Span keep(std::string_view s);
    std::string_view view(Span s) const noexcept { return std::string_view(text_).substr(s.offset, s.size); }

    std::string text_;
    std::vector<Item> items_;
};

}  // namespace merrow
