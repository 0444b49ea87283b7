#include "engine/coherent/seam_cut.h"

#include <algorithm>
#include <array>
#include <vector>

#include "engine/coherent/common.h"
#include "engine/min_cut.h"

namespace weftloom::coherent {

namespace {

constexpr std::uint32_t kNoNode = 0xFFFFFFFFu;

// Where a pixel's source lies from the pixel itself: a piece's label.
struct Shift {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const Shift&) const = default;
};

// The wrap-around edges a walk over side neighbours crossed: rightwards
// (downwards) less leftwards (upwards). A walk of a few steps crosses each
// a few times at most.
struct Crossings {
    std::int8_t x = 0;
    std::int8_t y = 0;
};

// A side neighbour: its pixel and the step to it, as if the output did not
// wrap (the step is what a copy continued across the edge would take).
struct Side {
    std::uint32_t pixel;
    std::int32_t dx;
    std::int32_t dy;
};

// The four sides of a pixel; right and down first (a pair is taken once,
// from its left or upper pixel).
constexpr std::array<std::array<std::int32_t, 2>, 4> kSteps = {{{1, 0}, {0, 1}, {-1, 0}, {0, -1}}};

class Cutter {
  public:
    Cutter(const Image& sample, SourceMap& map, Image& output, std::uint64_t pieceLimit,
           const std::vector<std::uint32_t>& courseRows,
           const std::vector<std::uint32_t>& courseColumns)
        : sample_(sample),
          map_(map),
          output_(output),
          width_(map.width),
          height_(map.height),
          rows_(std::max(map.width, 1u)),
          channels_(std::min(sample.bytesPerPixel, 3u)),
          courseRows_(courseRows),
          courseColumns_(courseColumns),
          pieceLimit_(pieceLimit),
          stamp_(map.positions.size(), 0),
          node_(map.positions.size(), kNoNode),
          maxNodes_(SeamCut::MaxNodes(std::uint64_t{sample.width} * sample.height)) {}

    bool Run(const std::function<bool()>& aborted) {
        FindPieces();
        for (std::size_t c = 0; c + 1 < pieceStart_.size(); ++c) {
            if (aborted()) {
                return false;
            }
            const std::uint32_t first = pieceStart_[c];
            const std::uint32_t end = pieceStart_[c + 1];
            if (end - first >= SeamCut::kSmallestPiece) {
                Grow(first, end);
            }
        }
        return true;
    }

  private:
    // A pixel's row and column, without a division.
    std::uint32_t Y(std::uint32_t p) const { return rows_.Divide(p); }
    std::uint32_t X(std::uint32_t p) const { return p - Y(p) * width_; }

    Shift ShiftOf(std::uint32_t p) const {
        const SourcePosition& s = map_.positions[p];
        return {static_cast<std::int32_t>(s.x) - static_cast<std::int32_t>(X(p)),
                static_cast<std::int32_t>(s.y) - static_cast<std::int32_t>(Y(p))};
    }
    void Take(std::uint32_t p, Shift s) {
        map_.positions[p] = {X(p) + static_cast<std::uint32_t>(s.x),
                             Y(p) + static_cast<std::uint32_t>(s.y)};
    }

    // p's side neighbours within the output, not across the wrap (kNoNode
    // where there is none): how pieces are counted.
    std::array<std::uint32_t, 4> Around(std::uint32_t p) const {
        const std::uint32_t x = X(p);
        const std::uint32_t y = Y(p);
        return {x + 1 < width_ ? p + 1 : kNoNode, y + 1 < height_ ? p + width_ : kNoNode,
                x > 0 ? p - 1 : kNoNode, y > 0 ? p - width_ : kNoNode};
    }

    Side SideOf(std::uint32_t p, std::uint32_t k) const {
        const std::int32_t dx = kSteps[k][0];
        const std::int32_t dy = kSteps[k][1];
        const std::uint32_t py = Y(p);
        const std::uint32_t px = p - py * width_;
        const std::uint32_t x = dx > 0   ? (px + 1 == width_ ? 0 : px + 1)
                                : dx < 0 ? (px == 0 ? width_ - 1 : px - 1)
                                         : px;
        const std::uint32_t y = dy > 0   ? (py + 1 == height_ ? 0 : py + 1)
                                : dy < 0 ? (py == 0 ? height_ - 1 : py - 1)
                                         : py;
        return {y * width_ + x, dx, dy};
    }

    bool Inside(std::int64_t x, std::int64_t y) const {
        return x >= 0 && y >= 0 && x < sample_.width && y < sample_.height;
    }
    // Whether pixel p may copy with shift s: from within the sample, and
    // from its course's line where the sample is laid in courses.
    bool Copies(std::uint32_t p, Shift s) const {
        const std::int64_t x = std::int64_t{X(p)} + s.x;
        const std::int64_t y = std::int64_t{Y(p)} + s.y;
        return Inside(x, y) && (courseRows_.empty() || y == courseRows_[Y(p)]) &&
               (courseColumns_.empty() || x == courseColumns_[X(p)]);
    }
    std::int64_t ColourGap(std::int64_t ax, std::int64_t ay, std::int64_t bx,
                           std::int64_t by) const {
        const std::uint8_t* a =
            sample_.PixelAt(static_cast<std::uint32_t>(ax), static_cast<std::uint32_t>(ay));
        const std::uint8_t* b =
            sample_.PixelAt(static_cast<std::uint32_t>(bx), static_cast<std::uint32_t>(by));
        return SquaredColourGap(a, b, channels_);
    }

    // The seam between p (shift a) and its side neighbour side.pixel (shift
    // b): how much the two copies differ at p and at the neighbour, each
    // copy continued one step across (Kwatra et al.'s cost, squared); a
    // place where one copy leaves the sample counts the other place twice,
    // and a seam with neither costs as much as a black and white one. Two
    // pixels continuing one copy (across the wrap too) cost nothing.
    std::int64_t Seam(std::uint32_t p, Shift a, const Side& side, Shift b) const {
        const std::int64_t px = X(p);
        const std::int64_t py = Y(p);
        // p's source, and the neighbour's source stepped back onto p.
        const std::int64_t ax = px + a.x;
        const std::int64_t ay = py + a.y;
        const std::int64_t bx = std::int64_t{X(side.pixel)} + b.x - side.dx;
        const std::int64_t by = std::int64_t{Y(side.pixel)} + b.y - side.dy;
        if (ax == bx && ay == by) {
            return 0;
        }
        std::int64_t sum = 0;
        std::uint32_t places = 0;
        if (Inside(ax, ay) && Inside(bx, by)) {
            sum += ColourGap(ax, ay, bx, by);
            ++places;
        }
        if (Inside(ax + side.dx, ay + side.dy) && Inside(bx + side.dx, by + side.dy)) {
            sum += ColourGap(ax + side.dx, ay + side.dy, bx + side.dx, by + side.dy);
            ++places;
        }
        return places == 2 ? sum : places == 1 ? 2 * sum : 6 * 255 * 255;
    }

    // The wrap-around edges crossed on the way to a side neighbour, added
    // to those crossed on the way to p: a copy continued across them runs
    // on with its shift changed by the width (height) per edge.
    Crossings Crossed(std::uint32_t p, Crossings before, const Side& side) const {
        const std::int64_t jumpX = std::int64_t{X(p)} + side.dx - X(side.pixel);
        const std::int64_t jumpY = std::int64_t{Y(p)} + side.dy - Y(side.pixel);
        return {static_cast<std::int8_t>(before.x + (jumpX > 0) - (jumpX < 0)),
                static_cast<std::int8_t>(before.y + (jumpY > 0) - (jumpY < 0))};
    }
    Shift Across(Shift s, Crossings crossed) const {
        return {s.x + crossed.x * static_cast<std::int32_t>(width_),
                s.y + crossed.y * static_cast<std::int32_t>(height_)};
    }

    // What p pays for taking shift s in place of its own: the square of its
    // colour's change.
    std::int64_t Change(std::uint32_t p, Shift s) const {
        const SourcePosition& own = map_.positions[p];
        return ColourGap(own.x, own.y, std::int64_t{X(p)} + s.x, std::int64_t{Y(p)} + s.y);
    }

    // Extends list, from its entry `from` on, by the pixels joined to those
    // entries side by side (not across the wrap) with one shift, marking
    // each with time_; stops once the list holds more than `most`.
    void Spread(std::vector<std::uint32_t>& list, std::size_t from, std::uint64_t most) {
        for (std::size_t i = from; i < list.size() && list.size() <= most; ++i) {
            const std::uint32_t p = list[i];
            const Shift own = ShiftOf(p);
            for (const std::uint32_t q : Around(p)) {
                if (q != kNoNode && stamp_[q] != time_ && ShiftOf(q) == own) {
                    stamp_[q] = time_;
                    list.push_back(q);
                }
            }
        }
    }

    // The pieces: side neighbours (not across the wrap) with one shift, in
    // the order of their first pixels, row after row.
    void FindPieces() {
        pieceOrder_.clear();
        pieceOrder_.reserve(stamp_.size());
        pieceStart_.assign(1, 0);
        ++time_;
        for (std::uint32_t start = 0; start < stamp_.size(); ++start) {
            if (stamp_[start] == time_) {
                continue;
            }
            stamp_[start] = time_;
            const std::size_t from = pieceOrder_.size();
            pieceOrder_.push_back(start);
            Spread(pieceOrder_, from, stamp_.size());
            pieceStart_.push_back(static_cast<std::uint32_t>(pieceOrder_.size()));
        }
    }

    // One alpha-expansion of the piece listed at pieceOrder_[first, end).
    void Grow(std::uint32_t first, std::uint32_t end) {
        const Shift alpha = ShiftOf(pieceOrder_[first]);
        ++time_;
        // The piece as it is now (earlier growths may have taken pixels).
        region_.clear();
        for (std::uint32_t i = first; i < end; ++i) {
            const std::uint32_t p = pieceOrder_[i];
            if (ShiftOf(p) == alpha) {
                stamp_[p] = time_;
                node_[p] = kNoNode;
                region_.push_back(p);
            }
        }
        // A piece at the limit cannot grow.
        if (region_.size() < SeamCut::kSmallestPiece || region_.size() >= pieceLimit_) {
            return;
        }
        // The pixels within kBand of it that may take its shift, continued
        // across the wrap-around edges as the copy would run on (so that a
        // seam there is mended as one inside is).
        nodes_.clear();
        nodeShifts_.clear();
        std::size_t layerStart = 0;
        frontier_.assign(region_.begin(), region_.end());
        frontierCrossings_.assign(region_.size(), Crossings{});
        for (std::uint32_t depth = 0; depth < SeamCut::kBand; ++depth) {
            const std::size_t layerEnd = frontier_.size();
            for (std::size_t i = layerStart; i < layerEnd; ++i) {
                const std::uint32_t p = frontier_[i];
                for (std::uint32_t k = 0; k < 4; ++k) {
                    const Side side = SideOf(p, k);
                    const std::uint32_t q = side.pixel;
                    if (stamp_[q] == time_) {
                        continue;
                    }
                    const Crossings crossed = Crossed(p, frontierCrossings_[i], side);
                    const Shift on = Across(alpha, crossed);
                    stamp_[q] = time_;
                    node_[q] = kNoNode;
                    frontier_.push_back(q);
                    frontierCrossings_.push_back(crossed);
                    if (Copies(q, on) && !(ShiftOf(q) == on)) {
                        if (nodes_.size() == maxNodes_) {
                            return;  // too wide a growth to be worth its memory
                        }
                        node_[q] = static_cast<std::uint32_t>(nodes_.size());
                        nodes_.push_back(q);
                        nodeShifts_.push_back(on);
                    }
                }
            }
            layerStart = layerEnd;
        }
        if (nodes_.empty()) {
            return;
        }
        const auto nodeOf = [this](std::uint32_t q) {
            return stamp_[q] == time_ ? node_[q] : kNoNode;
        };
        MinCut cut(nodes_.size(), 2 * nodes_.size());
        // Per node what taking its shift of the piece costs more than
        // keeping its own.
        toSink_.assign(nodes_.size(), 0);
        for (std::uint32_t n = 0; n < nodes_.size(); ++n) {
            const std::uint32_t p = nodes_[n];
            const Shift own = ShiftOf(p);
            const Shift taking = nodeShifts_[n];
            toSink_[n] += Change(p, taking);
            for (std::uint32_t k = 0; k < 4; ++k) {
                const Side side = SideOf(p, k);
                if (side.pixel == p) {
                    continue;
                }
                const std::uint32_t m = nodeOf(side.pixel);
                const Shift other = ShiftOf(side.pixel);
                if (m == kNoNode) {
                    toSink_[n] += Seam(p, taking, side, other) - Seam(p, own, side, other);
                } else if (k < 2) {
                    // Boykov et al.'s construction for a pair of nodes; a
                    // seam dearer than the two it would become is taken as
                    // those two, so that the expansion stays a cut.
                    std::int64_t both = Seam(p, own, side, other);
                    const std::int64_t otherMoves = Seam(p, own, side, nodeShifts_[m]);
                    const std::int64_t pMoves = Seam(p, taking, side, other);
                    both = std::min(both, otherMoves + pMoves);
                    toSink_[n] += pMoves - both;
                    toSink_[m] -= pMoves;
                    cut.AddEdge(n, m, otherMoves + pMoves - both);
                }
            }
        }
        for (std::uint32_t n = 0; n < nodes_.size(); ++n) {
            cut.AddTerminal(n, toSink_[n], 0);
        }
        cut.Solve();
        taken_.clear();
        for (std::uint32_t n = 0; n < nodes_.size(); ++n) {
            if (cut.OnSinkSide(n)) {
                taken_.push_back(n);
            }
        }
        if (taken_.empty() || region_.size() + taken_.size() > pieceLimit_) {
            return;
        }
        // Kept only if the seams it touches cost less after it, and if the
        // piece, with whatever of the same shift it now meets, stays within
        // the limit.
        const std::int64_t before = TakenSeams();
        previous_.clear();
        for (const std::uint32_t n : taken_) {
            previous_.push_back(map_.positions[nodes_[n]]);
            Take(nodes_[n], nodeShifts_[n]);
        }
        if (TakenSeams() >= before || PieceExceedsLimit()) {
            for (std::size_t i = 0; i < taken_.size(); ++i) {
                map_.positions[nodes_[taken_[i]]] = previous_[i];
            }
            return;
        }
        for (const std::uint32_t n : taken_) {
            const std::uint32_t p = nodes_[n];
            const SourcePosition& s = map_.positions[p];
            const std::uint8_t* from = sample_.PixelAt(s.x, s.y);
            std::copy(from, from + sample_.bytesPerPixel, output_.PixelAt(X(p), Y(p)));
        }
    }

    // Whether the grown piece, with the pixels joined to it (side by side,
    // not across the wrap, with one shift), holds more than the limit.
    bool PieceExceedsLimit() {
        ++time_;
        frontier_.clear();
        for (const std::uint32_t p : region_) {
            stamp_[p] = time_;
            frontier_.push_back(p);
        }
        for (const std::uint32_t n : taken_) {
            stamp_[nodes_[n]] = time_;
            frontier_.push_back(nodes_[n]);
        }
        Spread(frontier_, 0, pieceLimit_);
        return frontier_.size() > pieceLimit_;
    }

    // The seams of every side of the pixels taken, each pair once.
    std::int64_t TakenSeams() {
        ++time_;
        for (const std::uint32_t n : taken_) {
            stamp_[nodes_[n]] = time_;
        }
        std::int64_t sum = 0;
        for (const std::uint32_t n : taken_) {
            const std::uint32_t p = nodes_[n];
            for (std::uint32_t k = 0; k < 4; ++k) {
                const Side side = SideOf(p, k);
                if (side.pixel == p || (k >= 2 && stamp_[side.pixel] == time_)) {
                    continue;
                }
                sum += Seam(p, ShiftOf(p), side, ShiftOf(side.pixel));
            }
        }
        return sum;
    }

    const Image& sample_;
    SourceMap& map_;
    Image& output_;
    std::uint32_t width_;
    std::uint32_t height_;
    Divider rows_;  // by the width
    std::uint32_t channels_;
    const std::vector<std::uint32_t>& courseRows_;
    const std::vector<std::uint32_t>& courseColumns_;
    std::uint64_t pieceLimit_;
    // Per pixel: when it was last marked, and its node then.
    std::vector<std::uint32_t> stamp_;
    std::vector<std::uint32_t> node_;
    std::uint32_t time_ = 0;
    std::uint64_t maxNodes_;
    std::vector<std::uint32_t> pieceOrder_;
    std::vector<std::uint32_t> pieceStart_;
    std::vector<std::uint32_t> region_;
    std::vector<std::uint32_t> frontier_;
    std::vector<Crossings> frontierCrossings_;
    std::vector<std::uint32_t> nodes_;
    std::vector<Shift> nodeShifts_;
    std::vector<std::int64_t> toSink_;
    std::vector<std::uint32_t> taken_;  // the nodes the cut gave the piece
    std::vector<SourcePosition> previous_;
};

}  // namespace

std::uint64_t SeamCut::PeakBytes(std::uint64_t outputPixels, std::uint64_t samplePixels,
                                 std::uint64_t pieceLimit) {
    // Per output pixel a stamp, a node, a place in the pieces' list and a
    // piece's start at most. A growth starts from a piece below the limit:
    // its list; the pixels within reach of it (at most 25 a pixel), each
    // with the wrap-around edges crossed to reach it; and per node (see MaxNodes) the cut's
    // node, its two edges' four arcs, its terminal and an orphan's place,
    // and the growth's own entries (the node, its shift, its terminal cost,
    // its place among those taken and the source it had).
    const std::uint64_t piece = std::min(outputPixels, pieceLimit);
    const std::uint64_t reach = std::min(outputPixels, 25 * piece);
    const std::uint64_t nodes = std::min(reach, MaxNodes(samplePixels));
    constexpr std::uint64_t kCutNode = 24 + 4 * 16 + 8 + 4;
    constexpr std::uint64_t kGrowthNode = 4 + 8 + 8 + 4 + 8;
    return 16 * outputPixels + 4 * piece + (4 + 2) * reach + nodes * (kCutNode + kGrowthNode);
}

bool SeamCut::Run(const Image& sample, SourceMap& map, Image& output, std::uint64_t pieceLimit,
                  const std::vector<std::uint32_t>& courseRows,
                  const std::vector<std::uint32_t>& courseColumns,
                  const std::function<bool()>& aborted) {
    if (map.width == 0 || map.height == 0 ||
        map.positions.size() != std::size_t{map.width} * map.height || sample.IsEmpty() ||
        (!courseRows.empty() && courseRows.size() != map.height) ||
        (!courseColumns.empty() && courseColumns.size() != map.width)) {
        return true;
    }
    Cutter cutter(sample, map, output, pieceLimit, courseRows, courseColumns);
    return cutter.Run(aborted);
}

}  // namespace weftloom::coherent
