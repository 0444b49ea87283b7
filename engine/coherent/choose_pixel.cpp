#include <algorithm>
#include <cstdlib>

#include "engine/coherent/candidates.h"
#include "engine/coherent/choice.h"
#include "engine/coherent/level.h"

namespace weftloom {

using coherent::kNone;
using coherent::Offset;
using coherent::PieceTree;
using coherent::WrapNear;

void CoherentLevel::ChoosePixel(Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                                std::uint32_t rowStart, Scratch& scratch) {
    const auto here = static_cast<std::uint32_t>(std::size_t{y} * output_.width + x);
    const SourcePosition current = map_.positions[here];
    const std::uint32_t currentOrdinal = grid_.OrdinalAt(current.x, current.y);
    // A pixel a mending pass has nothing else to offer keeps its source
    // without a comparison, and adds nothing to the mean distance chosen.
    if (pass.mending && Uncontested(pass, x, y, currentOrdinal)) {
        pass.choices[pixel] = {currentOrdinal, currentOrdinal, kNone, 0};
        return;
    }
    pass.query->Gather(x, y, scratch.queryRow.data());
    // In the causal pass only the neighbours synthesised already count.
    scratch.around.Collect(pass.reach, x, y, map_, grid_, pass.causal, rowStart);
    const coherent::CandidateList& candidates =
        coherent::GenerateCandidates({currentOrdinal, ParentContinuation(x, y), pass.shiftRadius,
                                      pass.causal, pass.mending ? nullptr : &sets_,
                                      pass.randoms.data() + std::size_t{pixel} * pass.randomCount,
                                      pass.randomCount, CourseRow(y), CourseColumn(x)},
                                     scratch.around, grid_, scratch.candidates);
    const PieceTree pieces(pieces_, &scratch.pieceParents, &scratch.pieceSizes);
    const coherent::PieceMeasure measure(scratch.around, pieces, here, scratch.roots);
    const coherent::Chosen chosen = coherent::ChooseCandidate(
        candidates, scratch.queryRow.data(), pass.causal ? kNone : currentOrdinal, pass.rules,
        measure, occurrences_, scratch.uses, windows_);

    Pass::Choice& choice = pass.choices[pixel];
    choice.previous = currentOrdinal;
    choice.best = chosen.source == kNone ? currentOrdinal : chosen.source;
    choice.distance = chosen.source == kNone ? kNone : chosen.distance;
    choice.joins =
        choice.best != currentOrdinal || pass.causal ? scratch.around.ContinuedBy(choice.best) : 0;
    Place(x, y, choice.best);
    // What Commit will do, for the pixels after this one in the chunk to see.
    PieceTree chunkPieces = pieces;
    Tally(pass, pixel, x, y, &scratch.uses, chunkPieces);
}

bool CoherentLevel::Uncontested(const Pass& pass, std::uint32_t x, std::uint32_t y,
                                std::uint32_t currentOrdinal) const {
    const std::uint32_t width = output_.width;
    const std::uint32_t height = output_.height;
    for (const Offset& o : pass.reach) {
        if (std::max(std::abs(o.dx), std::abs(o.dy)) > pass.shiftRadius) {
            break;
        }
        const std::uint32_t nx = WrapNear(std::int64_t{x} + o.dx, width);
        const std::uint32_t ny = WrapNear(std::int64_t{y} + o.dy, height);
        const std::uint32_t v = grid_.Continuation(map_.positions[std::size_t{ny} * width + nx], o);
        if (v != kNone && v != currentOrdinal) {
            return false;
        }
    }
    const std::uint32_t up = ParentContinuation(x, y);
    return up == kNone || up == currentOrdinal;
}

bool CoherentLevel::AlongRows(const Pass& pass, std::uint32_t x, std::uint32_t y) const {
    // The rows above within reach were each chosen from a start that lies
    // outside the columns within reach, so left to right across them (the
    // pixel's own row was, across the neighbours it sees).
    for (std::int32_t dy = 1; dy <= coherent::kPieceReach; ++dy) {
        if (y < static_cast<std::uint32_t>(dy)) {
            break;  // the rows across the wrap-around edge are never joined
        }
        const std::uint32_t start = pass.rowStart[y - static_cast<std::uint32_t>(dy)];
        if (start == kNone || (std::int64_t{start} > std::int64_t{x} - coherent::kPieceReach &&
                               std::int64_t{start} <= std::int64_t{x} + coherent::kPieceReach)) {
            return false;
        }
    }
    return true;
}

void CoherentLevel::Tally(const Pass& pass, std::uint32_t pixel, std::uint32_t x, std::uint32_t y,
                          coherent::Overlay* uses, PieceTree& pieces) {
    const Pass::Choice& choice = pass.choices[pixel];
    if (pass.causal) {
        // The causal pass counts its choices afresh (see Run).
        if (uses != nullptr) {
            occurrences_.Add(*uses, choice.best);
        } else {
            occurrences_.Add(choice.best);
            balance_.Add(choice.best);
        }
    } else if (uses != nullptr) {
        occurrences_.Move(*uses, choice.previous, choice.best);
    } else {
        occurrences_.Move(choice.previous, choice.best);
        balance_.Move(choice.previous, choice.best);
    }
    if (choice.best == choice.previous && !pass.causal) {
        return;
    }
    // The pixel leaves its piece and joins its new neighbours.
    const std::uint32_t width = output_.width;
    const std::uint32_t here = y * width + x;
    if (!pass.causal) {
        pieces.Leave(here);
    }
    // The causal pass skips a neighbour already in one piece with one joined
    // before it: the join would find them in one piece.
    const std::uint32_t* joined = nullptr;
    if (pass.causal) {
        joined =
            AlongRows(pass, x, y) ? pass.joinedBeforeAlongRows.data() : pass.joinedBefore.data();
    }
    for (std::uint32_t joins = choice.joins; joins != 0; joins &= joins - 1) {
        const auto bit = static_cast<std::uint32_t>(__builtin_ctz(joins));
        if (joined != nullptr && (joined[bit] & choice.joins) != 0) {
            continue;
        }
        const Offset& o = pass.reach[bit];
        pieces.Join(here, WrapNear(std::int64_t{y} + o.dy, output_.height) * width +
                              WrapNear(std::int64_t{x} + o.dx, width));
    }
}

void CoherentLevel::Place(std::uint32_t x, std::uint32_t y, std::uint32_t ordinal) {
    const SourcePosition source = grid_.PositionOf(ordinal);
    map_.positions[std::size_t{y} * map_.width + x] = source;
    std::copy_n(sample_.PixelAt(source.x, source.y), bpp_, output_.PixelAt(x, y));
}

}  // namespace weftloom
