#include "parallel/environment.hpp"

#include <sched.h>

#include <cerrno>
#include <cstdlib>
#include <thread>

namespace merrow {
namespace {

// The affinity mask of the process, in a set sized for any number of CPUs.
std::optional<std::size_t> processors_in_affinity_mask() {
    for (int cpus = 1024; cpus <= (1 << 22); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) return std::nullopt;
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const int status = sched_getaffinity(0, bytes, set);
        const int error = errno;
        const int count = status == 0 ? CPU_COUNT_S(bytes, set) : 0;
        CPU_FREE(set);
        if (status == 0) {
            if (count > 0) return static_cast<std::size_t>(count);
            return std::nullopt;
        }
        if (error != EINVAL) return std::nullopt;  // EINVAL: the set is too small
    }
    return std::nullopt;
}

std::size_t available_processors() {
    if (auto count = processors_in_affinity_mask()) return *count;
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware > 0 ? hardware : 1;
}

}  // namespace

std::optional<unsigned long long> parse_thread_count(const char* text) noexcept {
    if (text == nullptr) return std::nullopt;
    if (*text == '+') ++text;
    if (*text == '\0') return std::nullopt;
    unsigned long long value = 0;
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') return std::nullopt;
        const unsigned digit = static_cast<unsigned>(*text - '0');
        if (value > (~0ULL - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t pool_size_from_environment() {
    if (auto count = parse_thread_count(std::getenv("RAYON_NUM_THREADS"))) {
        return *count > 0 ? static_cast<std::size_t>(*count) : available_processors();
    }
    if (auto count = parse_thread_count(std::getenv("RAYON_RS_NUM_CPUS")); count && *count > 0) {
        return static_cast<std::size_t>(*count);
    }
    return available_processors();
}

}  // namespace merrow
