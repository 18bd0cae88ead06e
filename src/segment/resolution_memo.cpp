#include "segment/resolution_memo.hpp"

#include <sys/mman.h>

#include <cstdint>

namespace merrow {

ResolutionMemo::ResolutionMemo(std::uint64_t word_entries) noexcept : word_slots_(word_entries) {
    if (word_entries > (SIZE_MAX / sizeof(std::uint64_t)) - kCharSlots) return;
    void* mapped = mmap(nullptr, mapped_bytes(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped != MAP_FAILED) slots_ = static_cast<std::uint64_t*>(mapped);
}

ResolutionMemo& ResolutionMemo::operator=(ResolutionMemo&& other) noexcept {
    if (this != &other) {
        if (slots_ != nullptr) munmap(slots_, mapped_bytes());
        word_slots_ = other.word_slots_;
        slots_ = other.slots_;
        other.slots_ = nullptr;
    }
    return *this;
}

ResolutionMemo::~ResolutionMemo() {
    if (slots_ != nullptr) munmap(slots_, mapped_bytes());
}

}  // namespace merrow
