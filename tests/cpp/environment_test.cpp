// Tests of the worker pool's size: parsing of the thread-count variables,
// and the size they, or the affinity mask, give.
#include <sched.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "check.hpp"
#include "parallel/environment.hpp"

namespace {

using merrow::testing::check;

// ---- parse_thread_count ------------------------------------------------------

void test_parse_thread_count() {
    struct Case {
        const char* text;
        std::optional<unsigned long long> expected;
    };
    const Case cases[] = {
        {"0", 0ULL},
        {"1", 1ULL},
        {"3", 3ULL},
        {"+2", 2ULL},
        {"+0", 0ULL},
        {"007", 7ULL},
        {"18446744073709551615", 18446744073709551615ULL},
        {"+18446744073709551615", 18446744073709551615ULL},
        {"18446744073709551616", std::nullopt},
        {"99999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"+", std::nullopt},
        {"++2", std::nullopt},
        {"-2", std::nullopt},
        {"-0", std::nullopt},
        {"abc", std::nullopt},
        {" 2", std::nullopt},
        {"2 ", std::nullopt},
        {"2\n", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {"1_000", std::nullopt},
        {"\xef\xbc\x92", std::nullopt},  // fullwidth digit two
    };
    for (const Case& c : cases) {
        check(merrow::parse_thread_count(c.text) == c.expected,
              std::string("parse_thread_count(\"") + c.text + "\")");
    }
    check(!merrow::parse_thread_count(nullptr), "parse_thread_count(nullptr)");
}

// ---- pool_size_from_environment ---------------------------------------------

std::size_t processors_by_fixed_mask() {
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) != 0) return 0;
    return static_cast<std::size_t>(CPU_COUNT(&set));
}

void set_env(const char* name, const char* value) {
    if (value == nullptr) {
        unsetenv(name);
    } else {
        setenv(name, value, 1);
    }
}

void test_pool_size_from_environment() {
    const std::size_t processors = processors_by_fixed_mask();
    check(processors >= 1, "affinity mask readable");
    struct Case {
        const char* num_threads;
        const char* num_cpus;
        std::size_t expected;  // 0 stands for the processor count
    };
    const Case cases[] = {
        {nullptr, nullptr, 0},
        {"3", nullptr, 3},
        {"3", "5", 3},
        {"+2", nullptr, 2},
        {"1", "7", 1},
        {"0", nullptr, 0},
        {"0", "5", 0},  // "0" means the default; the second variable is not read
        {"abc", nullptr, 0},
        {"abc", "5", 5},
        {"-2", nullptr, 0},
        {"-2", "5", 5},
        {" 2", "5", 5},
        {"", "6", 6},
        {nullptr, "4", 4},
        {nullptr, "+4", 4},
        {nullptr, "0", 0},
        {nullptr, "-4", 0},
        {nullptr, "x", 0},
        {"abc", "0", 0},
        {"1000000", nullptr, 1000000},  // sizes are not capped
    };
    for (const Case& c : cases) {
        set_env("RAYON_NUM_THREADS", c.num_threads);
        set_env("RAYON_RS_NUM_CPUS", c.num_cpus);
        const std::size_t expected = c.expected == 0 ? processors : c.expected;
        const std::size_t got = merrow::pool_size_from_environment();
        check(got == expected, std::string("pool size for RAYON_NUM_THREADS=") +
                                   (c.num_threads ? c.num_threads : "<unset>") + " RAYON_RS_NUM_CPUS=" +
                                   (c.num_cpus ? c.num_cpus : "<unset>") + ": got " + std::to_string(got) +
                                   ", expected " + std::to_string(expected));
    }
    unsetenv("RAYON_NUM_THREADS");
    unsetenv("RAYON_RS_NUM_CPUS");

    // The default follows the affinity mask, not the machine's CPU count.
    cpu_set_t saved;
    CPU_ZERO(&saved);
    if (sched_getaffinity(0, sizeof saved, &saved) == 0) {
        int first = -1;
        for (int cpu = 0; cpu < CPU_SETSIZE && first < 0; ++cpu) {
            if (CPU_ISSET(cpu, &saved)) first = cpu;
        }
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(first, &one);
        if (sched_setaffinity(0, sizeof one, &one) == 0) {
            check(merrow::pool_size_from_environment() == 1, "default size follows a one-CPU affinity mask");
            sched_setaffinity(0, sizeof saved, &saved);
        }
    }
}

}  // namespace

int main() {
    test_parse_thread_count();
    test_pool_size_from_environment();
    return merrow::testing::report();
}
