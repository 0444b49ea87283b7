#pragma once

// Candidate choice: the candidate whose window is nearest the pixel's, its
// distance raised by a penalty per use of its sample position (the
// occurrence map), among those that keep the pieces copied verbatim within
// a limit. Every distance is taken with a bounded kernel that gives up once
// it cannot win. It runs for every pixel of every pass: forced inline, as
// candidate generation is.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/coherent/candidates.h"
#include "engine/coherent/occurrence_map.h"
#include "engine/coherent/piece_forest.h"
#include "engine/coherent/sample_windows.h"
#include "search/distance_kernels.h"
#include "search/point_set.h"

namespace weftloom::coherent {

// How large the piece becomes that a pixel joins with a candidate source:
// the pixel, and the pieces of the neighbours that the source continues,
// each once (the pixel's own piece without the pixel). Pieces are counted
// within the level as it lies, not across its wrap-around edges: there the
// rows synthesised last meet the first, whose pieces are already whole, and
// a limit counted across the edge would part them all along it.
class PieceMeasure {
  public:
    // roots: room for as many roots as there are neighbours.
    PieceMeasure(const Neighbours& around, const PieceTree& pieces, std::uint32_t here,
                 std::vector<std::uint32_t>& roots)
        : around_(around), pieces_(pieces), hereRoot_(pieces.Root(here)), roots_(roots) {}

    // The size; continues: whether v continues any neighbour at all.
    [[gnu::always_inline]] std::uint64_t With(std::uint32_t v, bool& continues) const {
        std::uint64_t size = 1;
        std::uint32_t rootCount = 0;
        continues = false;
        around_.ForEachContinuedBy(
            v, [&](const Neighbour& n) __attribute__((always_inline)) {
                continues = true;
                if (n.wraps) {
                    return;
                }
                const std::uint32_t root = pieces_.Root(n.pixel);
                if (std::find(roots_.begin(), roots_.begin() + rootCount, root) !=
                    roots_.begin() + rootCount) {
                    return;
                }
                roots_[rootCount++] = root;
                size += pieces_.Size(root) - (root == hereRoot_ ? 1u : 0u);
            });
        return size;
    }

  private:
    const Neighbours& around_;
    const PieceTree& pieces_;
    std::uint32_t hereRoot_;
    std::vector<std::uint32_t>& roots_;
};

// What a pass holds for every choice it makes.
struct ChoiceRules {
    std::uint64_t pieceLimit;  // the largest piece a choice may make
    std::uint64_t perUse;      // the penalty per use of a sample position
    // Sixteenths by which the score of a candidate that continues none of
    // the pixel's neighbours is raised.
    std::uint32_t loneWeight;
    DistanceKernel kernel;
    std::uint32_t compared;  // bytes of each window compared
    // The colour balance's penalty of each bin, and the bin of each sample
    // position (both null: none).
    const std::uint64_t* binPenalty = nullptr;
    const std::uint8_t* bins = nullptr;
};

// The candidate chosen (kNone: none won) and its distance.
struct Chosen {
    std::uint32_t source;
    std::uint32_t distance;
};

// Chooses among list's candidates for a pixel whose source is current and
// whose window is query: the least distance plus penalty, the penalty
// counting the uses of a position (as chunkUses, the chunk's changes, shows
// them) but the pixel's own (current: kNone when its source is not counted). A candidate that
// matches exactly pays none, so that a sample that tiles is continued without a fault; only the
// list's continuations are compared once their penalty alone cannot win, as only they are likely to
// match exactly. A candidate that would make a piece larger than the limit is passed over.
[[gnu::always_inline]] inline Chosen ChooseCandidate(
    const CandidateList& list, const std::uint8_t* query, std::uint32_t current,
    const ChoiceRules& rules, const PieceMeasure& pieces, const OccurrenceMap& occurrences,
    const Overlay& chunkUses, const SampleWindows& windows) {
    const std::uint32_t count = list.Count();
    const std::uint32_t continuations = list.Continuations();
    // The rows are fetched together, then compared in the order proposed.
    for (std::uint32_t i = 0; i < count; ++i) {
        occurrences.Prefetch(list[i]);
        const std::uint8_t* row = windows.Row(list[i]);
        for (std::uint32_t line = 0; line < rules.compared; line += 2 * PointSet::kRowAlignment) {
            __builtin_prefetch(row + line);
        }
    }
    Chosen best{kNone, kNone};
    std::uint32_t bestScore = kNone;
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint32_t v = list[i];
        if (bestScore == 0) {
            continue;
        }
        bool continues = false;
        const std::uint64_t size = pieces.With(v, continues);
        if (size > rules.pieceLimit) {
            continue;
        }
        // A candidate that continues none of the neighbours has its score
        // raised by the coherence factor: it must be clearly better to part
        // a piece (Ashikhmin; Hertzmann et al.'s kappa).
        const std::uint64_t factor = continues ? 16 : 16 + rules.loneWeight;
        // The least distance plus penalty whose score no longer wins.
        const std::uint64_t cap = (std::uint64_t{bestScore} * 16 + factor - 1) / factor;
        const std::uint32_t uses = occurrences.Uses(chunkUses, v) - (v == current ? 1u : 0u);
        const std::uint64_t usePenalty = SaturatingProduct(rules.perUse, uses);
        const std::uint64_t binPenalty =
            rules.bins == nullptr ? 0 : rules.binPenalty[rules.bins[v]];
        const std::uint64_t penalty64 =
            usePenalty > ~binPenalty ? ~std::uint64_t{0} : usePenalty + binPenalty;
        if (penalty64 >= cap && i >= continuations) {
            continue;
        }
        const auto bound = static_cast<std::uint32_t>(
            penalty64 >= cap ? 1 : std::min<std::uint64_t>(cap - penalty64, kNone));
        const std::uint32_t d = rules.kernel(query, windows.Row(v), rules.compared, bound);
        const std::uint64_t score =
            d == 0 ? 0 : std::min<std::uint64_t>((d + penalty64) * factor / 16, kNone);
        if (d < bound && score < bestScore) {
            best = {v, d};
            bestScore = static_cast<std::uint32_t>(score);
        }
    }
    return best;
}

}  // namespace weftloom::coherent
