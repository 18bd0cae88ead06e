#include "dict/lookup/prefix_ranges.hpp"

namespace merrow {

PrefixRanges::PrefixRanges(Slot* slots, std::size_t count) noexcept : slots_(slots), mask_(count - 1) {
    for (std::size_t i = 0; i < count; ++i) slots_[i].table = nullptr;
}

void PrefixRanges::forget() noexcept {
    if (++generation_ != 0) return;
    // The generations wrapped: slots of an old one could pass for current.
    for (std::size_t i = 0; i <= mask_; ++i) slots_[i].table = nullptr;
    generation_ = 1;
}

PrefixRanges::Slot* PrefixRanges::lookup(const MappedDict* table, std::uint64_t bytes, std::uint32_t length) noexcept {
    std::uint64_t h = (bytes ^ length ^ (reinterpret_cast<std::uintptr_t>(table) >> 4)) * 0x9E3779B97F4A7C15ull;
    return &slots_[static_cast<std::size_t>(h >> 40) & mask_];
}

}  // namespace merrow
