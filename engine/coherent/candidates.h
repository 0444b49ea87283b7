#pragma once

// Candidate generation: the sample positions a pixel's choice looks at,
// after Ashikhmin (the continuations of the pixel's neighbours' sources)
// and Tong et al. (k-coherence: the look-alike sets of the pixel's own
// source and its nearest neighbours' sources, shifted the same way), with
// the continuation of its parent's source and a few random positions.
// It runs for every pixel of every pass: its helpers are forced inline into
// the pixel's choice (gnu::always_inline), which the compiler would
// otherwise call, some 3 % of a run's instructions more.

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "engine/coherent/common.h"
#include "engine/coherent/similar_sets.h"

namespace weftloom::coherent {

// A neighbour of the pixel being chosen, as its candidates see it.
struct Neighbour {
    std::uint32_t pixel;
    std::uint32_t continuation;  // its source shifted back onto the pixel, or kNone
    std::uint32_t source;        // its own source
    std::uint32_t reachIndex;    // its offset's place in the pass's reach
    Offset offset;
    std::uint32_t next;  // 1 + the next one in its continuation's chain; 0: none
    // Whether it lies across the level's wrap-around edge: a piece is not
    // joined there (see PieceMeasure).
    bool wraps;
};

// The neighbours of one pixel, chained by a hash of their continuations, so
// that a candidate meets only those that may continue it. One per thread,
// refilled for each pixel.
class Neighbours {
  public:
    // Room for the neighbours of a pass's reach.
    void Resize(std::size_t reach) { items_.resize(reach); }

    // The neighbours at the offsets of reach around (x, y) on the level
    // whose sources map holds, but (x, y) itself; a causal pass, whose row
    // started at column rowStart, skips those it has not reached yet.
    [[gnu::always_inline]] void Collect(const std::vector<Offset>& reach, std::uint32_t x,
                                        std::uint32_t y, const SourceMap& map,
                                        const SampleGrid& grid, bool causal,
                                        std::uint32_t rowStart) {
        const std::uint32_t width = map.width;
        const std::uint32_t height = map.height;
        // The pixel's place along its row.
        const auto along = [&](std::uint32_t column) {
            return column >= rowStart ? column - rowStart : column + width - rowStart;
        };
        Neighbour* items = items_.data();
        std::uint32_t count = 0;
        for (std::uint32_t j = 0; j < reach.size(); ++j) {
            const Offset& o = reach[j];
            const std::uint32_t nx = WrapNear(std::int64_t{x} + o.dx, width);
            const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
            if ((causal && (ny > y || (ny == y && along(nx) >= along(x)))) ||
                (nx == x && ny == y)) {
                continue;
            }
            Neighbour& a = items[count++];
            a.pixel = ny * width + nx;
            a.offset = o;
            a.reachIndex = j;
            const SourcePosition& s = map.positions[a.pixel];
            a.source = grid.OrdinalAt(s.x, s.y);
            a.continuation = grid.Continuation(s, o);
            a.wraps = std::int64_t{x} + o.dx != nx || std::int64_t{y} + o.dy != ny;
        }
        chains_.fill(0);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (items[i].continuation != kNone) {
                std::uint32_t& head = chains_[ChainOf(items[i].continuation)];
                items[i].next = head;
                head = i + 1;
            }
        }
        count_ = count;
    }

    std::uint32_t Count() const { return count_; }
    const Neighbour& operator[](std::uint32_t i) const { return items_[i]; }
    // Calls f(neighbour) for each neighbour that source v continues.
    template <class F>
    [[gnu::always_inline]] void ForEachContinuedBy(std::uint32_t v, F&& f) const {
        for (std::uint32_t link = chains_[ChainOf(v)]; link != 0; link = items_[link - 1].next) {
            if (items_[link - 1].continuation == v) {
                f(items_[link - 1]);
            }
        }
    }
    // The neighbours that source v continues, as bits over the pass's reach,
    // but those across the wrap-around edge.
    std::uint32_t ContinuedBy(std::uint32_t v) const {
        std::uint32_t bits = 0;
        for (std::uint32_t i = 0; i < count_; ++i) {
            if (items_[i].continuation == v && !items_[i].wraps) {
                bits |= 1u << items_[i].reachIndex;
            }
        }
        return bits;
    }

  private:
    static std::uint32_t ChainOf(std::uint32_t v) { return (v * 2654435761u) >> 26; }
    std::vector<Neighbour> items_;
    std::uint32_t count_ = 0;
    // Per hash of a continuation, 1 + the first neighbour in its chain.
    std::array<std::uint32_t, 64> chains_{};
};

// Where a pixel's candidates come from, beyond its neighbours.
struct CandidateSources {
    std::uint32_t current;     // the pixel's own source
    std::uint32_t parent;      // the continuation of its parent's source, or kNone
    std::int32_t shiftRadius;  // neighbours this close propose their continuations
    bool causal;               // which neighbours propose from their look-alike sets
    const SimilarSets* sets;   // null: no look-alike candidates
    const std::uint32_t* randoms;
    std::uint32_t randomCount;
    // The sample row, or column, every candidate is moved onto (a sample
    // laid in courses, see Courses); kNone: none.
    std::uint32_t row = kNone;
    std::uint32_t column = kNone;
};

// A pixel's candidates, each sample position once, in the order proposed.
// A few tens at most: a small open-addressed set (a power of two slots, at
// most half full) tells those proposed already, where a table over the
// whole sample would miss the cache. One per thread, refilled per pixel.
class CandidateList {
  public:
    // Room for up to `most` candidates.
    void Reserve(std::size_t most) {
        std::uint32_t bits = 6;
        while ((std::size_t{1} << bits) < 2 * most) {
            ++bits;
        }
        values_.resize(most);
        proposed_.resize(std::size_t{1} << bits);
        shift_ = 32 - bits;
    }
    std::uint32_t Count() const { return count_; }
    // The first candidates, the pixel's own source and its neighbours'
    // continuations: the only ones likely to match exactly.
    std::uint32_t Continuations() const { return continuations_; }
    std::uint32_t operator[](std::uint32_t i) const { return values_[i]; }

  private:
    friend const CandidateList& GenerateCandidates(const CandidateSources& from,
                                                   const Neighbours& around, const SampleGrid& grid,
                                                   CandidateList& list);
    std::vector<std::uint32_t> values_;
    std::vector<std::uint32_t> proposed_;  // kNone: free
    std::uint32_t shift_ = 32;             // 32 - log2 of proposed_'s size
    std::uint32_t count_ = 0;
    std::uint32_t continuations_ = 0;
};

// Fills list with a pixel's candidates: its own source; the continuations
// of its neighbours within the shift radius; its parent's continuation; the
// members of its source's look-alike set, and those of its nearest
// neighbours' sets shifted as they are; the random ones.
[[gnu::always_inline]] inline const CandidateList& GenerateCandidates(const CandidateSources& from,
                                                                      const Neighbours& around,
                                                                      const SampleGrid& grid,
                                                                      CandidateList& list) {
    // Kept in locals while proposing: the list's own fields would be read
    // again after every store.
    std::uint32_t* const values = list.values_.data();
    std::uint32_t* const proposed = list.proposed_.data();
    const auto mask = static_cast<std::uint32_t>(list.proposed_.size() - 1);
    const std::uint32_t shift = list.shift_;
    std::fill(proposed, proposed + mask + 1, kNone);
    std::uint32_t count = 0;
    const auto propose = [&](std::uint32_t v) {
        if (v == kNone) {
            return;
        }
        if (from.row != kNone) {
            v = grid.OnRow(v, from.row);
        } else if (from.column != kNone) {
            v = grid.OnColumn(v, from.column);
        }
        std::uint32_t slot = (v * 2654435761u) >> shift;
        while (proposed[slot] != kNone) {
            if (proposed[slot] == v) {
                return;
            }
            slot = (slot + 1) & mask;
        }
        proposed[slot] = v;
        values[count++] = v;
    };
    propose(from.current);
    for (std::uint32_t i = 0; i < around.Count(); ++i) {
        const Offset& o = around[i].offset;
        if (std::max(std::abs(o.dx), std::abs(o.dy)) <= from.shiftRadius) {
            propose(around[i].continuation);
        }
    }
    list.continuations_ = count;
    propose(from.parent);
    const std::uint32_t k = from.sets != nullptr ? from.sets->k : 0;
    if (k > 0) {
        const std::uint32_t* own = from.sets->Of(from.current);
        for (std::uint32_t i = 0; i < k; ++i) {
            propose(own[i]);
        }
        for (std::uint32_t i = 0; i < around.Count(); ++i) {
            const Offset& o = around[i].offset;
            // The causal pass asks the four neighbours before the pixel; a
            // correction the four next to it (the second ones out cost a
            // tenth of the run and measured no better).
            const bool near = from.causal ? std::max(std::abs(o.dx), std::abs(o.dy)) <= 1
                                          : std::abs(o.dx) + std::abs(o.dy) <= 1;
            if (!near || around[i].source == kNone) {
                continue;
            }
            const std::uint32_t* set = from.sets->Of(around[i].source);
            for (std::uint32_t j = 0; j < k; ++j) {
                if (set[j] != kNone) {
                    propose(grid.Continuation(grid.PositionOf(set[j]), o));
                }
            }
        }
    }
    for (std::uint32_t i = 0; i < from.randomCount; ++i) {
        propose(from.randoms[i]);
    }
    list.count_ = count;
    return list;
}

}  // namespace weftloom::coherent
