// Shared pieces of the fuzz targets: text decoding, invariant checks that
// abort with a message (so libFuzzer records a crash), and the pipelines
// loaded from the test dictionary set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "../cpp/test_dictionary_set.hpp"
#include "text/utf8.hpp"
#include "pipeline/convert.hpp"

namespace merrow::fuzz {

[[noreturn]] inline void fail(const char* what, std::string_view detail = {}) {
    std::fprintf(stderr, "invariant broken: %s [%.*s]\n", what, static_cast<int>(detail.size()), detail.data());
    std::abort();
}

inline void require(bool ok, const char* what, std::string_view detail = {}) {
    if (!ok) fail(what, detail);
}

// The bytes as Python would hand them over: well-formed UTF-8, every
// ill-formed sequence replaced by U+FFFD.
inline std::string valid_utf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    out.reserve(size);
    std::size_t i = 0;
    while (i < size) {
        std::size_t n = utf8::sequence_length(data[i]);
        std::string_view piece(reinterpret_cast<const char*>(data) + i, n <= size - i ? n : size - i);
        if (n > size - i || !utf8::is_valid(piece)) {
            out += "\xEF\xBF\xBD";
            i += 1;
        } else {
            out += piece;
            i += n;
        }
    }
    return out;
}

// Two pipelines over the test dictionary set: punctuation mapping on with a
// user dictionary, and off without one.
struct Pipelines {
    Pipeline with_user;
    Pipeline plain;
};

inline std::optional<Pipelines> build_pipelines() {
    auto with_user = testing::load_test_pipeline(true, testing::user_entries());
    auto plain = testing::load_test_pipeline(false, {});
    if (!with_user || !plain) return std::nullopt;
    return Pipelines{std::move(*with_user), std::move(*plain)};
}

// The process's pipelines, built on first use; a failure to build them is a
// broken fixture, not a finding.
inline const Pipelines& pipelines() {
    static std::optional<Pipelines> built = build_pipelines();
    if (!built) {
        std::fprintf(stderr, "could not build the fuzz dictionary set\n");
        std::exit(2);
    }
    return *built;
}

}  // namespace merrow::fuzz
