#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

namespace weftloom::coherent {

// An overlay map: values laid over an array of 32-bit values. What was Set
// reads back, every other key reads the array underneath, which the overlay
// never changes. One chunk of a pass writes its changes to the level's
// tallies here while other chunks read the same arrays. A chunk changes a
// few hundred entries at most: they sit in a small open-addressed table
// (linear probing, at most half full, doubled when it would be more), and
// Clear visits only the slots it used. Keys are below 0xFFFFFFFF. One thread
// at a time.
class Overlay {
  public:
    Overlay() : slots_(std::size_t{1} << kFirstBits, Slot{kNoKey, 0}) {}

    std::uint32_t Get(const std::vector<std::uint32_t>& base, std::uint32_t key) const {
        if (used_.empty()) {
            return base[key];
        }
        const Slot& slot = slots_[Find(key)];
        return slot.key == key ? slot.value : base[key];
    }
    void Set(std::uint32_t key, std::uint32_t value) {
        const std::uint32_t at = Find(key);
        if (slots_[at].key == key) {
            slots_[at].value = value;
            return;
        }
        slots_[at] = {key, value};
        used_.push_back(at);
        largest_ = std::max(largest_, key);
        if (2 * used_.size() > slots_.size()) {
            Grow();
        }
    }
    // Every key reads the array again.
    void Clear() {
        for (const std::uint32_t at : used_) {
            slots_[at].key = kNoKey;
        }
        used_.clear();
        largest_ = 0;
    }
    // The largest key Set since the last Clear (0: none).
    std::uint32_t LargestKey() const { return largest_; }

  private:
    static constexpr std::uint32_t kNoKey = 0xFFFFFFFFu;
    static constexpr std::uint32_t kFirstBits = 9;  // log2 of the first capacity
    struct Slot {
        std::uint32_t key;
        std::uint32_t value;
    };
    // The slot that holds key, else the empty one where it would go.
    std::uint32_t Find(std::uint32_t key) const {
        const auto mask = static_cast<std::uint32_t>(slots_.size() - 1);
        std::uint32_t at = (key * 2654435761u) >> shift_;
        while (slots_[at].key != key && slots_[at].key != kNoKey) {
            at = (at + 1) & mask;
        }
        return at;
    }
    void Grow() {
        std::vector<Slot> taken;
        for (const std::uint32_t at : used_) {
            taken.push_back(slots_[at]);
        }
        slots_.assign(2 * slots_.size(), Slot{kNoKey, 0});
        --shift_;
        used_.clear();
        for (const Slot& slot : taken) {
            Set(slot.key, slot.value);
        }
    }
    std::vector<Slot> slots_;
    std::uint32_t shift_ = 32 - kFirstBits;  // 32 - log2 of the capacity
    std::vector<std::uint32_t> used_;        // the slots taken, to clear
    std::uint32_t largest_ = 0;
};

}  // namespace weftloom::coherent
