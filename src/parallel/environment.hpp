// The worker pool's size, from the environment.
#pragma once

#include <cstddef>
#include <optional>

namespace merrow {

// Pool size from RAYON_NUM_THREADS, RAYON_RS_NUM_CPUS, else the processors
// available to the process (at least 1).
std::size_t pool_size_from_environment();

// Parses a decimal count as the pool variables accept it: digits with an
// optional leading "+", within 64 bits. Nothing for any other text.
std::optional<unsigned long long> parse_thread_count(const char* text) noexcept;

}  // namespace merrow
