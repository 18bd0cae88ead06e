// The label vocabulary of the records: language tags, confidence and source
// labels (MERROW_LABELS, from the contracts file). A label is an enum value
// with its text in one name table; labels read from a sidecar may be any
// text, and are carried as `other`.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "contracts.hpp"

namespace merrow {

enum class Label : std::uint8_t {
#define MERROW_LABEL_ENUM(name) name,
    MERROW_LABELS(MERROW_LABEL_ENUM)
#undef MERROW_LABEL_ENUM
    other,  // any other text, from a sidecar
};

inline constexpr std::size_t kLabelCount = static_cast<std::size_t>(Label::other);

inline constexpr std::string_view kLabelNames[kLabelCount] = {
#define MERROW_LABEL_NAME(name) #name,
    MERROW_LABELS(MERROW_LABEL_NAME)
#undef MERROW_LABEL_NAME
};

constexpr std::string_view label_name(Label label) noexcept { return kLabelNames[static_cast<std::size_t>(label)]; }

// A label as a record carries it: its text, and which standard label that
// text is (`other` for none).
struct LabelText {
    Label id = Label::other;
    std::string_view text;

    static constexpr LabelText of(Label label) noexcept { return LabelText{label, label_name(label)}; }
    // The label whose text is `text`, found by comparing the few names of
    // its length.
    static constexpr LabelText find(std::string_view text) noexcept {
        for (std::size_t i = 0; i < kLabelCount; ++i) {
            if (kLabelNames[i].size() == text.size() && kLabelNames[i] == text) {
                return LabelText{static_cast<Label>(i), text};
            }
        }
        return LabelText{Label::other, text};
    }
};

}  // namespace merrow
