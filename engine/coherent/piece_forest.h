#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "engine/coherent/overlay.h"
#include "engine/coherent_search.h"

namespace weftloom::coherent {

// Pixels this close (in both directions, wrapping round the level's edges)
// that copy with the same shift belong to one piece: a pixel that differs
// here and there does not part a piece to the eye.
constexpr std::int32_t kPieceReach = 2;

// The pieces a level copies verbatim, as a disjoint-set union (union-find,
// union by size) over its output pixels: two pixels are joined when their
// sources lie the same way round as they do. Per node its parent (a root is
// its own) and, at a root, the piece's size. Each pixel has two nodes: its
// own, and a spare (pixel count + pixel) that it moves to when it leaves its
// piece, so that the pixels joined through its own node stay in the piece
// (a union-find cannot take a node out of a set). The search owns it;
// PieceTree reads and changes it.
struct PieceForest {
    std::vector<std::uint32_t> parent;
    std::vector<std::uint32_t> size;

    // A spare node not in use.
    static constexpr std::uint32_t kUnused = 0xFFFFFFFFu;
    // Whether a pixel has moved to its spare since Reset (but through a
    // chunk's overlays): until one has, every pixel is in its own node.
    bool moved = false;
    // Every pixel of a level of `pixels` pixels alone, in its own node.
    void Reset(std::size_t pixels);
    // After Reset: joins every two pixels of map within kPieceReach whose
    // sources differ by their own offset. Spread over the calling thread and
    // `helpers` of the shared pool; the pieces (if not their roots) are the
    // same for any count.
    void JoinFromMap(const SourceMap& map, std::uint32_t helpers);
};

// The piece forest changed in place, or read and changed through a chunk's
// overlays (which then hold all the chunk changed).
struct PieceTree {
    std::vector<std::uint32_t>* parent;
    std::vector<std::uint32_t>* size;
    Overlay* parentOverlay = nullptr;
    Overlay* sizeOverlay = nullptr;
    bool* moved;

    PieceTree(PieceForest& forest, Overlay* parents = nullptr, Overlay* sizes = nullptr)
        : parent(&forest.parent),
          size(&forest.size),
          parentOverlay(parents),
          sizeOverlay(sizes),
          moved(&forest.moved) {}

    std::uint32_t Parent(std::uint32_t i) const {
        return parentOverlay != nullptr ? parentOverlay->Get(*parent, i) : (*parent)[i];
    }
    std::uint32_t Size(std::uint32_t i) const {
        return sizeOverlay != nullptr ? sizeOverlay->Get(*size, i) : (*size)[i];
    }
    void SetParent(std::uint32_t i, std::uint32_t value) {
        if (parentOverlay != nullptr) {
            parentOverlay->Set(i, value);
        } else {
            (*parent)[i] = value;
        }
    }
    void SetSize(std::uint32_t i, std::uint32_t value) {
        if (sizeOverlay != nullptr) {
            sizeOverlay->Set(i, value);
        } else {
            (*size)[i] = value;
        }
    }
    // A pixel's spare node.
    std::uint32_t Spare(std::uint32_t pixel) const {
        return static_cast<std::uint32_t>(parent->size() / 2) + pixel;
    }
    // The node a pixel is in: its spare once it has left a piece.
    [[gnu::always_inline]] std::uint32_t Node(std::uint32_t pixel) const {
        const std::uint32_t spare = Spare(pixel);
        // Most lookups come before any pixel has moved (the first pass of a
        // level never moves one): no spare to look at then.
        if (!*moved && (parentOverlay == nullptr || parentOverlay->LargestKey() < spare - pixel)) {
            return pixel;
        }
        return Parent(spare) != PieceForest::kUnused ? spare : pixel;
    }
    // The root of a pixel's piece, always inlined: it runs for each
    // candidate's neighbours. Changed in place, the tree is shortened as it
    // is walked (path halving): only ever on one thread, between a pass's
    // steps.
    [[gnu::always_inline]] std::uint32_t Root(std::uint32_t pixel) const {
        return NodeRoot(Node(pixel));
    }
    [[gnu::always_inline]] std::uint32_t NodeRoot(std::uint32_t i) const {
        if (parentOverlay == nullptr) {
            std::vector<std::uint32_t>& up = *parent;
            while (up[i] != i) {
                up[i] = up[up[i]];
                i = up[i];
            }
            return i;
        }
        for (std::uint32_t p = Parent(i); p != i; p = Parent(i)) {
            i = p;
        }
        return i;
    }
    // The larger piece takes the smaller; of two alike, the lower root wins.
    void Join(std::uint32_t a, std::uint32_t b) {
        a = Root(a);
        b = Root(b);
        if (a == b) {
            return;
        }
        const std::uint32_t sa = Size(a);
        const std::uint32_t sb = Size(b);
        if (sa < sb || (sa == sb && b < a)) {
            std::swap(a, b);
        }
        SetParent(b, a);
        SetSize(a, sa + sb);
    }
    // The pixel leaves its piece and stands alone in its spare node. Its
    // own node stays, so that the pixels joined through it stay in the piece
    // (which, as far as a union-find can tell, only shrinks by one). A pixel
    // already in its spare has been chosen once in the pass: it stays where
    // it is, counted in its piece, which is never too small.
    void Leave(std::uint32_t pixel) {
        const std::uint32_t node = Node(pixel);
        const std::uint32_t spare = Spare(pixel);
        if (node == spare) {
            return;
        }
        const std::uint32_t root = NodeRoot(node);
        SetSize(root, Size(root) - 1);
        SetParent(spare, spare);
        SetSize(spare, 1);
        if (parentOverlay == nullptr) {
            *moved = true;
        }
    }
};

}  // namespace weftloom::coherent
